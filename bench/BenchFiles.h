#pragma once
// Files the settings benchmarks write and read: whole files, and a profile grown to about
// 100 MB with padding entries in its "Main" section, ahead of its own keys.
#include <QByteArray>
#include <QFile>
#include <QString>

constexpr qsizetype kHugeProfileBytes = 100 * 1024 * 1024;

inline bool WriteBytes(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

inline QByteArray ReadBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QByteArray GrownProfile(const QByteArray& shipped)
{
    QByteArray padding;
    padding.reserve(kHugeProfileBytes + 4096);
    const QByteArray filler(64, 'x');
    for (qsizetype i = 0; padding.size() < kHugeProfileBytes; ++i)
        padding += "pad" + QByteArray::number(i) + '=' + filler + "\r\n";
    QByteArray grown = shipped;
    grown.insert(grown.indexOf('\n', grown.indexOf("[Main]")) + 1, padding);
    return grown;
}
