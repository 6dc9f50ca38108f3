#include "media_framing.h"

#include <QByteArray>
#include <unistd.h>

namespace {

// Big-endian number of n bytes at p.
quint64 bigEndian(const unsigned char *p, int n)
{
    quint64 value = 0;
    for (int i = 0; i < n; ++i)
        value = (value << 8) | p[i];
    return value;
}

bool readAt(int fd, qint64 at, unsigned char *into, int n)
{
    return ::pread(fd, into, size_t(n), off_t(at)) == n;
}

// A box type of four printable characters ("ftyp", "moov", "mdat"...).
bool boxType(const unsigned char *p)
{
    for (int i = 0; i < 4; ++i) {
        if (p[i] < 0x20 || p[i] > 0x7e)
            return false;
    }
    return true;
}

Framing mp4(int fd, qint64 size)
{
    for (qint64 at = 0; at < size;) {
        unsigned char head[16];
        if (at + 8 > size || !readAt(fd, at, head, 8))
            return Framing::Cut;
        if (!boxType(head + 4))
            return Framing::Unknown;
        quint64 box = bigEndian(head, 4);
        if (box == 0)
            return Framing::Whole;  // the last box runs to the end of the file
        if (box == 1) {
            if (at + 16 > size || !readAt(fd, at + 8, head + 8, 8))
                return Framing::Cut;
            box = bigEndian(head + 8, 8);
        }
        if (box < 8)
            return Framing::Unknown;
        if (box > quint64(size - at))
            return Framing::Cut;
        at += qint64(box);
    }
    return Framing::Whole;
}

Framing flv(int fd, qint64 size)
{
    unsigned char head[11];
    if (size < 9 || !readAt(fd, 0, head, 9))
        return Framing::Cut;
    qint64 at = qint64(bigEndian(head + 5, 4)) + 4;  // the header, then the first previous-tag size
    while (at < size) {
        if (at + 11 > size || !readAt(fd, at, head, 11))
            return Framing::Cut;
        const qint64 tagEnd = at + 11 + qint64(bigEndian(head + 1, 3));
        if (tagEnd > size)
            return Framing::Cut;
        // Each tag is followed by its size; a file may end without the last one.
        if (tagEnd < size && tagEnd + 4 > size)
            return Framing::Cut;
        at = tagEnd + 4;
    }
    return Framing::Whole;
}

}  // namespace

Framing checkFraming(int fd, qint64 size)
{
    unsigned char start[8];
    if (size < 8 || !readAt(fd, 0, start, 8))
        return Framing::Unknown;
    if (start[0] == 'F' && start[1] == 'L' && start[2] == 'V')
        return flv(fd, size);
    const QByteArray type(reinterpret_cast<const char *>(start + 4), 4);
    for (const char *known : {"ftyp", "styp", "moov", "mdat", "free", "skip", "wide", "pdin", "sidx", "moof"}) {
        if (type == known)
            return mp4(fd, size);
    }
    return Framing::Unknown;
}
