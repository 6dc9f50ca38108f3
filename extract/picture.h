#pragma once

#include <QImage>
#include <QString>

// A picture from an http(s) address; a null image when anything fails. Addresses come from
// pages, so nothing else (local paths, file:, data: or other schemes) is ever opened.
QImage LoadPicture(const QString &strFileName);

// A picture from one of the program's own local files (the downloaded avatar "face").
// Only regular files are read; devices, pipes and directories give a null image.
QImage LoadLocalPicture(const QString &path);
