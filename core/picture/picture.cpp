#include "picture/picture.h"

#include "net/fetch.h"

#include <QBuffer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QThread>

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

QList<QImage> LoadPictures(const QList<PictureJob> &jobs)
{
    QStringList addresses;
    for (const PictureJob &job : jobs)
        addresses << (fetch::isWebAddress(job.address) ? job.address : QString());
    const QList<fetch::Result> answers = fetch::getAll(addresses, fetch::PictureLimit);

    QList<QImage> images(jobs.size());
    QList<QThread *> decoders;
    for (qsizetype i = 0; i < jobs.size(); ++i) {
        const fetch::Result &answer = answers[i];
        QImage *image = &images[i];  // each thread writes only its own element
        QThread *decoder = nullptr;
        if (!jobs[i].saveTo.isEmpty()) {
            if (answer.ok && answer.status >= 200 && answer.status < 300)
                fetch::saveToFile(answer.body, jobs[i].saveTo);
            decoder = QThread::create([image, path = jobs[i].saveTo] { *image = LoadLocalPicture(path); });
        } else if (answer.ok && !answer.body.isEmpty()) {
            decoder = QThread::create([image, body = answer.body]() mutable {
                QBuffer buffer(&body);
                buffer.open(QIODevice::ReadOnly);
                *image = decodeImage(&buffer);
            });
        }
        if (decoder)
            decoders << decoder;
    }
    QEventLoop loop;
    qsizetype running = decoders.size();
    for (QThread *decoder : decoders) {
        QObject::connect(decoder, &QThread::finished, &loop, [&] {
            if (--running == 0)
                loop.quit();
        });
        decoder->start();
    }
    if (running > 0)
        loop.exec();
    for (QThread *decoder : decoders) {
        decoder->wait();
        delete decoder;
    }
    return images;
}
