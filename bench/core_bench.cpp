// What reading settings costs. Every read opens and scans the file again, so the cost
// of one read must stay a small multiple of reading the file once.
//
//   bench_core
//
// 1. Each shipped profile loaded the way the profile dialog loads it, 200 times.
// 2. Single reads spread over a file of 200 sections of 20 keys (about 4200 lines),
//    against reading that file's bytes alone.
#include "profiles/IniFile.h"
#include "profiles/ProfileFormat.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

namespace {

constexpr int kRounds = 200;
constexpr int kSections = 200;
constexpr int kKeys = 20;

double Micro(const QElapsedTimer& t) { return t.nsecsElapsed() / 1000.0; }

} // namespace

int main()
{
    const QDir profiles(QStringLiteral(VT_PROFILES_DIR));
    for (const QString& name : profiles.entryList({QStringLiteral("*.apf")}, QDir::Files, QDir::Name)) {
        const QString path = profiles.filePath(name);
        qsizetype parameters = 0;
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < kRounds; ++i)
            parameters = ReadProfile(path).parameters.size();
        std::printf("%-45s %3lld parameters  %8.1f us per load\n", qPrintable(name), static_cast<long long>(parameters),
                    Micro(t) / kRounds);
    }

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("large.ini"));
    QByteArray data;
    for (int s = 0; s < kSections; ++s) {
        data += "[Section" + QByteArray::number(s) + "]\n";
        for (int k = 0; k < kKeys; ++k)
            data += "Key" + QByteArray::number(k) + "=value " + QByteArray::number(k) + "\n";
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        return 1;
    file.close();

    QElapsedTimer t;
    t.start();
    qsizetype bytes = 0;
    for (int i = 0; i < kSections; ++i) {
        QFile f(path);
        if (f.open(QIODevice::ReadOnly))
            bytes += f.readAll().size();
    }
    const double readOnce = Micro(t) / kSections;

    const TIniFile ini(path);
    t.restart();
    qsizetype found = 0;
    for (int s = 0; s < kSections; ++s)
        found += ini.GetText(QStringLiteral("Section%1").arg(s), QStringLiteral("Key%1").arg(s % kKeys), QString()).size();
    const double perRead = Micro(t) / kSections;
    std::printf("large file (%lld bytes): %.1f us per read, %.1f us to read its bytes, ratio %.1f\n",
                static_cast<long long>(data.size()), perRead, readOnce, perRead / readOnce);
    // Keeps the reads from being optimised away.
    return found + bytes > 0 ? 0 : 1;
}
