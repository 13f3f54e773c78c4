#pragma once
// Comparing runs of decoded frames or stored packets by their hashes.
#include <QByteArray>
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
