#include "download/place_file.h"

#include "download/video_name.h"
#include "part_file.h"

#include <QFile>
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
