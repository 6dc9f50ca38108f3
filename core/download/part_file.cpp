#include "part_file.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/statvfs.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace partfile {

namespace {

constexpr qint64 MaxControlBytes = qint64(64) * 1024;

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

// Opens path (flags plus no-follow and non-blocking) and keeps it only when it is a regular
// file; the descriptor is blocking again on return.
int openRegular(const QString &path, int flags, mode_t mode = 0)
{
    const int fd = ::open(native(path).constData(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
    if (fd < 0)
        return -1;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// A control file's JSON object (at most its first MaxControlBytes); empty when it cannot be
// read or is something else than a regular file.
QJsonObject readObject(const QString &path)
{
    const int fd = openRegular(path, O_RDONLY);
    if (fd < 0)
        return {};
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
    return QJsonDocument::fromJson(file.read(MaxControlBytes)).object();
}

}  // namespace

Kind kindOf(const QString &path)
{
    struct stat info {};
    if (::lstat(native(path).constData(), &info) != 0)
        return Kind::Missing;
    return S_ISREG(info.st_mode) ? Kind::Regular : Kind::Other;
}

int openForWrite(const QString &path, bool truncate)
{
    // O_TRUNC is applied after the check, so nothing but a regular file is ever emptied.
    const int fd = openRegular(path, O_RDWR | O_CREAT, 0644);  // read too: a video is checked in place
    if (fd >= 0 && truncate && ::ftruncate(fd, 0) != 0) {
        const int why = errno;
        ::close(fd);
        errno = why;
        return -1;
    }
    if (fd >= 0)
        ::lseek(fd, 0, SEEK_END);
    return fd;
}

qint64 writeAll(int fd, const char *data, qint64 size)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size_t(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;  // a write that takes nothing: the disk is full
            break;
        }
        done += n;
    }
    return done;
}

std::optional<Control> readControl(const QString &path)
{
    const QJsonObject o = readObject(path);
    if (!o.value(u"url").isString())
        return std::nullopt;
    Control control;
    control.url = o.value(u"url").toString();
    control.validator = o.value(u"validator").toString().toUtf8();
    control.total = qint64(o.value(u"total").toDouble(-1));
    return control;
}

bool writeControl(const QString &path, const Control &control)
{
    const int fd = openForWrite(path, true);
    if (fd < 0)
        return false;
    QJsonObject o;
    o.insert(u"url", control.url);
    o.insert(u"validator", QString::fromUtf8(control.validator));
    o.insert(u"total", double(control.total));
    const QByteArray bytes = QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
    const bool ok = writeAll(fd, bytes.constData(), bytes.size()) == bytes.size();
    return ::close(fd) == 0 && ok;
}

void RangeSet::add(qint64 from, qint64 to)
{
    if (to <= from)
        return;
    QList<ByteRange> merged;
    ByteRange added {from, to};
    for (const ByteRange &r : ranges_) {
        if (r.to < added.from || r.from > added.to) {
            merged.append(r);
        } else {
            added.from = qMin(added.from, r.from);
            added.to = qMax(added.to, r.to);
        }
    }
    merged.append(added);
    std::sort(merged.begin(), merged.end(), [](const ByteRange &a, const ByteRange &b) { return a.from < b.from; });
    ranges_ = merged;
}

bool RangeSet::contains(qint64 from, qint64 to) const
{
    for (const ByteRange &r : ranges_) {
        if (r.from <= from && to <= r.to)
            return true;
    }
    return to <= from;
}

qint64 RangeSet::bytes() const
{
    qint64 sum = 0;
    for (const ByteRange &r : ranges_)
        sum += r.to - r.from;
    return sum;
}

QList<ByteRange> RangeSet::gaps(qint64 total) const
{
    QList<ByteRange> out;
    qint64 at = 0;
    for (const ByteRange &r : ranges_) {
        if (r.from > at)
            out.append({at, qMin(r.from, total)});
        at = qMax(at, r.to);
        if (at >= total)
            break;
    }
    if (at < total)
        out.append({at, total});
    return out;
}

RangeSet RangeSet::within(qint64 size) const
{
    RangeSet out;
    for (const ByteRange &r : ranges_)
        out.add(qMax<qint64>(0, r.from), qMin(r.to, size));
    return out;
}

namespace {
constexpr int RangeFormat = 2;
constexpr qsizetype MostRecordedRanges = 4096;
}  // namespace

std::optional<RangeControl> readRangeControl(const QString &path)
{
    const QJsonObject o = readObject(path);
    if (o.value(u"format").toInt() != RangeFormat || !o.value(u"link").isString())
        return std::nullopt;
    RangeControl control;
    control.link = o.value(u"link").toString();
    control.validator = o.value(u"validator").toString().toUtf8();
    control.total = qint64(o.value(u"total").toDouble(-1));
    control.contentType = o.value(u"type").toString();
    const QJsonArray done = o.value(u"done").toArray();
    if (control.validator.isEmpty() || control.total <= 0 || done.size() > MostRecordedRanges)
        return std::nullopt;
    for (const auto &range : done) {
        const qint64 from = qint64(range.toArray().at(0).toDouble(-1));
        const qint64 to = qint64(range.toArray().at(1).toDouble(-1));
        if (from < 0 || to > control.total)
            return std::nullopt;
        control.done.add(from, to);
    }
    return control;
}

bool writeRangeControl(const QString &path, const RangeControl &control)
{
    QJsonArray done;
    for (const ByteRange &r : control.done.ranges())
        done.append(QJsonArray {double(r.from), double(r.to)});
    QJsonObject o;
    o.insert(u"format", RangeFormat);
    o.insert(u"link", control.link);
    o.insert(u"validator", QString::fromUtf8(control.validator));
    o.insert(u"total", double(control.total));
    o.insert(u"type", control.contentType);
    o.insert(u"done", done);
    const QByteArray bytes = QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
    const QString temporary = path + QStringLiteral(".new");
    const int fd = openForWrite(temporary, true);
    if (fd < 0)
        return false;
    bool ok = writeAll(fd, bytes.constData(), bytes.size()) == bytes.size() && ::fdatasync(fd) == 0;
    int why = errno;
    ok = ::close(fd) == 0 && ok;
    if (ok && std::rename(native(temporary).constData(), native(path).constData()) == 0)
        return true;
    if (ok)
        why = errno;
    removeRegular(temporary);
    errno = why;
    return false;
}

bool isFileAt(int fd, const QString &path)
{
    struct stat open {};
    struct stat there {};
    return ::fstat(fd, &open) == 0 && ::lstat(native(path).constData(), &there) == 0 && open.st_dev == there.st_dev &&
        open.st_ino == there.st_ino;
}

int tryLock(int fd)
{
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        return errno == EWOULDBLOCK ? EWOULDBLOCK : 0;  // ENOLCK and the like: no locks here
    }
    return 0;
}

namespace {
constexpr char OriginAttribute[] = "user.xdg.origin.url";
constexpr qsizetype MaxOriginBytes = 8192;
}  // namespace

void setOrigin(int fd, const QString &url)
{
    const QByteArray value = url.toUtf8();
    if (value.size() <= MaxOriginBytes)
        ::fsetxattr(fd, OriginAttribute, value.constData(), size_t(value.size()), 0);
}

Origin originOf(const QString &path)
{
    Origin origin;
    QByteArray value(MaxOriginBytes, Qt::Uninitialized);
    const ssize_t n = ::lgetxattr(native(path).constData(), OriginAttribute, value.data(), size_t(value.size()));
    if (n >= 0)
        origin.url = QString::fromUtf8(value.constData(), n);
    else
        origin.supported = errno != ENOTSUP;
    return origin;
}

void removeRegular(const QString &path)
{
    if (kindOf(path) == Kind::Regular)
        ::unlink(native(path).constData());
}

int moveInto(const QString &from, const QString &to, bool replace)
{
    const Kind there = kindOf(to);
    if (there == Kind::Other)
        return EEXIST;
    if (replace)
        return std::rename(native(from).constData(), native(to).constData()) == 0 ? 0 : errno;
    // Refused by the kernel when to exists, whatever appeared there since the check.
    if (::renameat2(AT_FDCWD, native(from).constData(), AT_FDCWD, native(to).constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without that flag: a hard link fails on an existing name just the same.
    if (::link(native(from).constData(), native(to).constData()) != 0)
        return errno;
    ::unlink(native(from).constData());
    return 0;
}

}  // namespace partfile

void PartFile::setTarget(const QString &target)
{
    close();
    path_ = Download::partPath(target);
    control_ = Download::controlPath(target);
}

PartFile::Lock PartFile::lock()
{
    close();
    // A part renamed away or replaced while it was opened is opened again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int fd = partfile::openForWrite(path_, false);
        if (fd < 0)
            return Lock::Failed;
        if (partfile::tryLock(fd) != 0) {
            ::close(fd);
            return Lock::Held;
        }
        if (partfile::isFileAt(fd, path_)) {
            fd_ = fd;
            end_ = writtenBack_ = size();
            return Lock::Taken;
        }
        ::close(fd);
    }
    return Lock::Held;
}

qint64 PartFile::size() const
{
    return fd_ < 0 ? 0 : qint64(::lseek(fd_, 0, SEEK_END));
}

qint64 PartFile::freeBytes() const
{
    struct statvfs info {};
    if (fd_ >= 0 && ::fstatvfs(fd_, &info) == 0)
        return qint64(info.f_bavail) * qint64(info.f_frsize);
    return -1;
}

int PartFile::prepareAppend(bool empty)
{
    if (empty && ::ftruncate(fd_, 0) != 0)
        return errno;
    end_ = writtenBack_ = size();
    return 0;
}

qint64 PartFile::append(const char *data, qint64 size)
{
    const qint64 written = partfile::writeAll(fd_, data, size);
    const int why = errno;
    end_ += written;
    if (end_ - writtenBack_ >= WritebackStep) {
        writeBack(writtenBack_, end_);
        writtenBack_ = end_;
    }
    errno = why;
    return written;
}

bool PartFile::writeAt(const char *data, qint64 size, qint64 offset)
{
    while (size > 0) {
        const ssize_t n = ::pwrite(fd_, data, size_t(size), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        data += n;
        size -= n;
        offset += n;
    }
    return true;
}

void PartFile::writeBack(qint64 from, qint64 to)
{
#ifdef Q_OS_LINUX
    if (to > from)
        ::sync_file_range(fd_, from, to - from, SYNC_FILE_RANGE_WRITE);
#endif
}

int PartFile::setLength(qint64 total)
{
    if (size() >= total || ::ftruncate(fd_, total) == 0)
        return 0;
    return errno == EFBIG ? ENOSPC : errno;
}

qint64 PartFile::reserve(qint64 from, qint64 to)
{
    const qint64 free = freeBytes();
    if (free >= 0)
        to = qMin(to, from + free - KeepFreeBytes);
    if (to <= from || ::fallocate(fd_, 0, from, to - from) != 0)
        return from;  // little room left: the writes go on without a reservation
    return to;
}

void PartFile::giveBack(const partfile::RangeSet &kept, qint64 total)
{
    if (fd_ < 0 || kept.covers(total))
        return;
    const qint64 end = kept.ranges().isEmpty() ? 0 : kept.ranges().constLast().to;
    for (const partfile::ByteRange &gap : kept.gaps(end))
        ::fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, gap.from, gap.to - gap.from);
    if (::ftruncate(fd_, end) != 0)
        ::fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, end, total - end);
}

bool PartFile::record(const partfile::RangeControl &control)
{
    return ::fdatasync(fd_) == 0 && partfile::writeRangeControl(control_, control);
}

int PartFile::sync()
{
    return fd_ >= 0 && ::fsync(fd_) != 0 ? errno : 0;
}

int PartFile::moveOnto(const QString &target, bool replace, const QString &origin)
{
    partfile::setOrigin(fd_, origin);
    // Still locked: the rename is the last thing the download does to the part.
    const int why = partfile::moveInto(path_, target, replace);
    if (why != 0)
        return why;
    partfile::removeRegular(control_);
    close();
    return 0;
}

void PartFile::release(DownloadError error, qint64 written, bool errorPage)
{
    if (fd_ >= 0 && error != DownloadError::NotRegularFile && partfile::isFileAt(fd_, path_)) {
        const bool cancelled = error == DownloadError::Cancelled;
        if (cancelled || written == 0 || (errorPage && error == DownloadError::HttpStatus)) {
            partfile::removeRegular(path_);
            partfile::removeRegular(control_);
        }
    }
    close();
}

void PartFile::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

DownloadError PartFile::errorOf(int why)
{
    switch (why) {
    case EACCES:
    case EPERM:
    case EROFS: return DownloadError::NoPermission;
    case ENOSPC:
    case EDQUOT: return DownloadError::DiskFull;
    case ELOOP:
    case ENXIO:
    case EISDIR:
    case EINVAL:
    case EEXIST: return DownloadError::NotRegularFile;
    default: return DownloadError::WriteFailed;
    }
}
