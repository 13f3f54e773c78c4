#pragma once
// Comparing runs of decoded frames or stored packets by their hashes.
#include <QByteArray>
#include <QFile>
#include <QList>
#include <algorithm>

template <class Item> QList<QByteArray> Md5s(const QList<Item>& items)
{
    QList<QByteArray> out;
    for (const Item& i : items)
        out << i.md5;
    return out;
}

// Where `part` stands as one run in `whole`, or -1.
inline qsizetype RunAt(const QList<QByteArray>& whole, const QList<QByteArray>& part)
{
    for (qsizetype k = 0; !part.isEmpty() && k + part.size() <= whole.size(); ++k)
        if (std::equal(part.begin(), part.end(), whole.begin() + k))
            return k;
    return -1;
}

// A profile that loses nothing, so a section's pictures can be compared with the source's
// by hash: FFV1 and PCM in Matroska.
inline bool WriteLosslessProfile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly)
           && f.write("[Main]\nType=mkv\nPara=2\n0=Video\n1=Audio\n"
                      "[Video]\nSort=1\nList=0\nReadOnly=1\nValue=ffv1\ncmd=-c:v\n"
                      "[Audio]\nSort=2\nList=0\nReadOnly=1\nValue=pcm_s16le\ncmd=-c:a\n")
                  > 0;
}
