// The files a download writes: the part file, its control file and the final file. Nothing
// but a regular file of our own is ever opened or replaced: a symbolic link, FIFO, device or
// folder in their place is left as it is.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace partfile {

enum class Kind { Missing, Regular, Other };

// What is at path, without following a symbolic link.
Kind kindOf(const QString &path);

// Opens path for writing (created when missing, emptied when truncate), never through a
// link and never waiting on a FIFO, for reading and writing. Returns the descriptor, or -1 with errno set; errno is
// ELOOP, ENXIO or EISDIR (or EINVAL after the check) when something else is in its place.
int openForWrite(const QString &path, bool truncate);

// Writes all of bytes to fd. Returns the number written; fewer means the write failed
// (errno tells why), and the bytes counted are on disk.
qint64 writeAll(int fd, const char *data, qint64 size);

// What the control file beside a part records: which download the part belongs to.
struct Control {
    QString url;           // the link as the download was asked for
    QByteArray validator;  // the server's ETag, else its Last-Modified; empty when none
    qint64 total = -1;     // the whole file's size, -1 when the server did not say
};

std::optional<Control> readControl(const QString &path);
bool writeControl(const QString &path, const Control &control);

// A byte range [from, to) of the file.
struct ByteRange {
    qint64 from = 0;
    qint64 to = 0;
};

// Byte ranges kept sorted, with touching ones merged.
class RangeSet {
public:
    void add(qint64 from, qint64 to);
    const QList<ByteRange> &ranges() const { return ranges_; }
    qint64 bytes() const;
    bool covers(qint64 total) const
    {
        return total == 0 || (ranges_.size() == 1 && ranges_[0].from == 0 && ranges_[0].to >= total);
    }
    // True when every byte of [from, to) is in the set.
    bool contains(qint64 from, qint64 to) const;
    // What is missing of [0, total).
    QList<ByteRange> gaps(qint64 total) const;
    // The ranges cut to [0, size).
    RangeSet within(qint64 size) const;

private:
    QList<ByteRange> ranges_;
};

// The control file of a part written by several connections at once, each at its own offsets
// into a part whose length is reserved from the start. Its format is one that builds reading
// only the control above refuse (it has no "url"): they start such a part over instead of
// taking its reserved length for a whole file. Only ranges flushed to disk are recorded.
struct RangeControl {
    QString link;
    QByteArray validator;  // never empty: ranges are only fetched under a validator
    qint64 total = -1;
    QString contentType;
    RangeSet done;
};
std::optional<RangeControl> readRangeControl(const QString &path);
// Replaces the control file whole (a temporary file renamed over it), so a kill leaves the
// former one or the new one. False with errno set when it could not be written.
bool writeRangeControl(const QString &path, const RangeControl &control);

// True when fd is the file at path now: not renamed away or replaced since it was opened.
bool isFileAt(int fd, const QString &path);

// Locks fd for one writer without waiting: 0, or EWOULDBLOCK when another holds it. A file
// system without locks counts as locked.
int tryLock(int fd);

// The link a finished download came from, recorded on the file as the freedesktop
// "user.xdg.origin.url" extended attribute, as browsers, wget and curl do.
struct Origin {
    bool supported = true;  // false: the file system keeps no attributes (FAT, older tmpfs)
    QString url;            // empty when none is recorded
};
void setOrigin(int fd, const QString &url);
Origin originOf(const QString &path);

// Removes path when it is a regular file (a link or anything else stays).
void removeRegular(const QString &path);

// Moves from over to; when replace is false an existing to is never replaced. The
// destination is never followed: a link there is refused as something else in its place.
// Returns 0, or an errno value.
int moveInto(const QString &from, const QString &to, bool replace);

}  // namespace partfile
