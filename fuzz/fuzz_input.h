// Splitting one fuzzer input into the texts a target needs.
#pragma once

#include <QByteArray>
#include <QList>
#include <cstddef>
#include <cstdint>

// The input split at the byte sequence "\n--\n" into at most `parts` pieces (missing ones
// are empty), so that seeds stay readable text files.
inline QList<QByteArray> splitInput(const uint8_t *data, size_t size, int parts)
{
    const QByteArray all = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    QList<QByteArray> out;
    qsizetype from = 0;
    while (out.size() < parts - 1) {
        const qsizetype at = all.indexOf("\n--\n", from);
        if (at < 0)
            break;
        out.append(all.mid(from, at - from));
        from = at + 4;
    }
    out.append(all.mid(from));
    while (out.size() < parts)
        out.append(QByteArray());
    return out;
}
