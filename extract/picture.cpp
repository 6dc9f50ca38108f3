#include "picture.h"

#include "fetch.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

namespace {

QImage decodeImage(QIODevice *device)
{
    QImageReader reader(device);
    reader.setAutoTransform(true);
    // Refuse absurd dimensions before allocating anything for them.
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() > 40LL * 1000 * 1000)
        return QImage();
    return reader.read();
}

}  // namespace

QImage LoadPicture(const QString &strFileName)
{
    if (!fetch::isWebAddress(strFileName))
        return QImage();
    fetch::Result answer = fetch::get(strFileName, fetch::PictureLimit);
    if (!answer.ok)
        return QImage();
    QBuffer buffer(&answer.body);
    buffer.open(QIODevice::ReadOnly);
    return decodeImage(&buffer);
}

QImage LoadLocalPicture(const QString &path)
{
    if (path.isEmpty())
        return QImage();
    const QFileInfo info(path);
    // isFile() is false for devices, pipes and sockets, also behind a symbolic link.
    if (!info.isFile() || info.size() > fetch::PictureLimit)
        return QImage();
    QFile file(info.absoluteFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return QImage();
    return decodeImage(&file);
}
