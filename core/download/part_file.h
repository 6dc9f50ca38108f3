// The files a download writes: the part file, its control file and the final file. Nothing
// but a regular file of our own is ever opened or replaced: a symbolic link, FIFO, device or
// folder in their place is left as it is.
#pragma once

#include <QByteArray>
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
