// The files a download writes: the part file, its control file and the final file. Nothing
// but a regular file of our own is ever opened or replaced: a symbolic link, FIFO, device or
// folder in their place is left as it is.
#pragma once

#include "download/download.h"

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

// A download's part file "<target>.part" and its control file "<target>.part.meta": the
// descriptor, held open and locked from the lock to the final rename; the blocks reserved
// ahead of the writing and given back; the writeback and the syncs; the rename over the
// target; and what stays of the part when the download ends without it.
class PartFile {
public:
    PartFile() = default;
    ~PartFile() { close(); }
    PartFile(const PartFile &) = delete;
    PartFile &operator=(const PartFile &) = delete;

    // The part of target (closed first when another one is open).
    void setTarget(const QString &target);
    const QString &path() const { return path_; }
    const QString &controlPath() const { return control_; }
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    // Opens the part (created when missing, never through a link) and locks it for this one
    // writer. Taken; Held when another download holds it; Failed with errno set.
    enum class Lock { Taken, Held, Failed };
    Lock lock();
    // The part's length now.
    qint64 size() const;
    // Bytes free for this user on the part's file system; -1 when unknown.
    qint64 freeBytes() const;

    // The part ready for appending, emptied first when asked. 0, or an errno value.
    int prepareAppend(bool empty);
    // Appends at the end; a few MiB at a time are handed to the disk in the background so
    // the sync before the rename has little left to wait for. Returns the bytes written;
    // fewer means the write failed (errno tells why).
    qint64 append(const char *data, qint64 size);
    // Writes all of data at offset. False with errno set when it could not.
    bool writeAt(const char *data, qint64 size, qint64 offset);
    // Hands [from, to) to the disk in the background, so that a later sync has little left
    // to wait for.
    void writeBack(qint64 from, qint64 to);
    // How many bytes written are handed to the disk at a time.
    static constexpr qint64 WritebackStep = qint64(4) * 1024 * 1024;

    // The part's length set to total without writing its blocks (sparse). 0, or an errno
    // value (ENOSPC for a length the file system cannot hold).
    int setLength(qint64 total);
    // Reserves the blocks of [from, to), never into the last KeepFreeBytes of the disk.
    // Returns where the reservation ends: from when nothing could be reserved.
    qint64 reserve(qint64 from, qint64 to);
    static constexpr qint64 KeepFreeBytes = qint64(1024) * 1024 * 1024;
    // Gives back what the part holds beyond the kept ranges of a file of total bytes: the
    // gaps between them are punched out and the part ends after the last one.
    void giveBack(const partfile::RangeSet &kept, qint64 total);
    // Flushes the part's data, then records control. False with errno set.
    bool record(const partfile::RangeControl &control);

    // fsync: the part on disk. 0, or an errno value.
    int sync();
    // Renames the part over target (never replacing it unless replace), records where it came
    // from on it, removes the control file and closes. 0, or an errno value (the part stays).
    int moveOnto(const QString &target, bool replace, const QString &origin);
    // Ends the download's hold on the part after it ended with error, written bytes of the
    // file being on disk. Cancelling removes the part and its control file; a part with
    // nothing written, or holding an error page's place (errorPage), is removed; a broken
    // transfer or a full disk keeps what was written for a later resume. Nothing is removed
    // unless the part is still the file this download locked, and never when something else
    // stood in a file's place.
    void release(DownloadError error, qint64 written, bool errorPage);
    void close();

    // What a file error (an errno value) means for the download.
    static DownloadError errorOf(int why);

private:
    QString path_;
    QString control_;
    int fd_ = -1;
    qint64 end_ = 0;          // where the next append goes
    qint64 writtenBack_ = 0;  // bytes handed to the disk already
};
