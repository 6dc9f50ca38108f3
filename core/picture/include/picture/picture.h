#pragma once

#include <QImage>
#include <QList>
#include <QString>

// A picture from an http(s) address; a null image when anything fails. Addresses come from
// pages, so nothing else (local paths, file:, data: or other schemes) is ever opened.
QImage LoadPicture(const QString &strFileName);

// One picture of a display step: where it comes from and, for the avatar "face", the file
// its bytes are also saved to (replaced only by a whole 2xx answer; the picture is then
// read back from that file, so a failed download shows the file's earlier picture).
struct PictureJob {
    QString address;
    QString saveTo;
};

// Several pictures fetched side by side and decoded off the calling thread, which keeps
// handling its events meanwhile. Null images where loading failed, in the order of jobs.
QList<QImage> LoadPictures(const QList<PictureJob> &jobs);

// A picture from one of the program's own local files (the downloaded avatar "face").
// Only regular files are read; devices, pipes and directories give a null image.
QImage LoadLocalPicture(const QString &path);
