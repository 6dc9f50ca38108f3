#pragma once

#include <QImage>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>

// Pictures come from http(s) addresses only; a null image when anything fails. Addresses
// come from pages, so nothing else (local paths, file:, data: or other schemes) is opened.

// One picture of a display step: where it comes from and, for the avatar "face", the file
// its bytes are also saved to (replaced only by a whole 2xx answer; the picture is then
// read back from that file, so a failed download shows the file's earlier picture).
struct PictureJob {
    QString address;
    QString saveTo;
};

// Several pictures fetched side by side and decoded off the calling thread; done gets them
// on the event loop (null images where loading failed), in the order of jobs. Nothing is
// answered once context is gone.
void LoadPictures(
    const QList<PictureJob> &jobs, QObject *context, std::function<void(const QList<QImage> &pictures)> done);

// A picture's bytes decoded, bounded in size; a null image when they are not one.
QImage decodePicture(const QByteArray &bytes);

// A picture from one of the program's own local files (the downloaded avatar "face").
// Only regular files are read; devices, pipes and directories give a null image.
QImage LoadLocalPicture(const QString &path);
