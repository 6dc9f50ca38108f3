#pragma once

#include <QImage>
#include <QString>

// A picture from an http(s) address or a local regular file; a null image when anything
// fails. Devices, pipes, directories and other schemes are never opened, and pictures are
// limited in size.
QImage LoadPicture(const QString &strFileName);
