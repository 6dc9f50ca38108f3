#include "download/place_file.h"

#include "download/video_name.h"
#include "part_file.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

PlacedFile placeFile(const QString &from, const QString &first, const QString &link)
{
    // The origin goes on the file before its move: it is never seen in place without it.
    if (const int fd = ::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW); fd >= 0) {
        partfile::setOrigin(fd, link);
        ::close(fd);
    }
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
