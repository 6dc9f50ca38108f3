#include "part_file.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
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
    const int fd = openRegular(path, O_RDONLY);
    if (fd < 0)
        return std::nullopt;
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return std::nullopt;
    }
    const QJsonObject o = QJsonDocument::fromJson(file.read(MaxControlBytes)).object();
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
