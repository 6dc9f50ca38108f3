#include "download/place_file.h"

#include "download/video_name.h"
#include "part_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The origin goes on the file before its move: it is never seen in place without it.
void recordOrigin(const QString &path, const QString &link)
{
    if (const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW); fd >= 0) {
        partfile::setOrigin(fd, link);
        ::close(fd);
    }
}

}  // namespace

int replaceFile(const QString &from, const QString &target, const QString &link)
{
    recordOrigin(from, link);
    return partfile::moveInto(from, target, true);
}

PlacedFile placeFile(const QString &from, const QString &first, const QString &link)
{
    recordOrigin(from, link);
    for (int tries = 0; tries < 100; ++tries) {
        const SavePlace place = savePlace(first, {link}, false);
        if (place.thisVideo) {
            partfile::removeRegular(from);
            return {place.file, true, 0};
        }
        const int why = partfile::moveInto(from, place.file, false);
        if (why == 0)
            return {place.file, false, 0};
        if (why != EEXIST)
            return {QString(), false, why};
        // Something took the name since it was looked at: the next free one.
    }
    return {QString(), false, EEXIST};
}

namespace {

// Links fd's file as path; 0, or an errno value (EEXIST when path is taken, by anything).
int linkDescriptor(int fd, const QString &path)
{
    const QByteArray from = QByteArrayLiteral("/proc/self/fd/") + QByteArray::number(fd);
    return ::linkat(AT_FDCWD, from.constData(), AT_FDCWD, QFile::encodeName(path).constData(), AT_SYMLINK_FOLLOW) == 0
        ? 0
        : errno;
}

}  // namespace

PlacedFile placeDescriptor(int fd, const QString &first, const QString &link)
{
    partfile::setOrigin(fd, link);
    for (int tries = 0; tries < 100; ++tries) {
        const SavePlace place = savePlace(first, {link}, false);
        if (place.thisVideo)
            return {place.file, true, 0};
        const int why = linkDescriptor(fd, place.file);
        if (why == 0)
            return {place.file, false, 0};
        if (why != EEXIST)
            return {QString(), false, why};
    }
    return {QString(), false, EEXIST};
}

int replaceWithDescriptor(int fd, const QString &target, const QString &link)
{
    partfile::setOrigin(fd, link);
    const QFileInfo info(target);
    for (int n = 0; n < 100; ++n) {
        const QString hidden = info.dir().filePath(QStringLiteral(".quorvin-converting-%1-r%2").arg(::getpid()).arg(n));
        const int why = linkDescriptor(fd, hidden);
        if (why == EEXIST)
            continue;
        if (why != 0)
            return why;
        if (std::rename(QFile::encodeName(hidden).constData(), QFile::encodeName(target).constData()) == 0)
            return 0;
        const int failed = errno;
        ::unlink(QFile::encodeName(hidden).constData());
        return failed;
    }
    return EEXIST;
}
