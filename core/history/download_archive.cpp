#include "history/download_archive.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace history {

QString DownloadArchive::key(const QString &site, const QString &id)
{
    return site.trimmed() + u' ' + id.trimmed();
}

bool DownloadArchive::load(QString *why)
{
    // Opened without waiting (a FIFO would block until a writer came), and only a regular
    // file is read.
    const int fd = ::open(QFile::encodeName(path_).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return true;
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        *why = QStringLiteral("not a regular file");
        return false;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        *why = file.errorString();
        return false;
    }
    // Lines as other tools write them: white space between the two words, blank lines and
    // a missing last line break allowed.
    while (!file.atEnd()) {
        const QStringList words = QString::fromUtf8(file.readLine()).simplified().split(u' ', Qt::SkipEmptyParts);
        if (words.size() >= 2)
            keys_.insert(key(words[0], words[1]));
    }
    return true;
}

bool DownloadArchive::contains(const QString &site, const QString &id) const
{
    return keys_.contains(key(site, id));
}

bool DownloadArchive::add(const QString &site, const QString &id, QString *why)
{
    const QByteArray line = (key(site, id) + u'\n').toUtf8();
    const int fd =
        ::open(QFile::encodeName(path_).constData(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        *why = fd < 0 ? QString::fromLocal8Bit(std::strerror(errno)) : QStringLiteral("not a regular file");
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    // The lock keeps a reader of the whole file from seeing half a line; O_APPEND and one
    // write keep two writers' lines whole.
    ::flock(fd, LOCK_EX);
    const ssize_t written = ::write(fd, line.constData(), size_t(line.size()));
    const int error = errno;
    ::flock(fd, LOCK_UN);
    ::close(fd);
    if (written != ssize_t(line.size())) {
        *why = QString::fromLocal8Bit(std::strerror(written < 0 ? error : ENOSPC));
        return false;
    }
    keys_.insert(key(site, id));
    return true;
}

}  // namespace history
