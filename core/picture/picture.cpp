#include "picture/picture.h"

#include "net/fetch.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QThread>
#include <memory>

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

QImage decodePicture(const QByteArray &bytes)
{
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
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

namespace {

// One call of LoadPictures: its fetches, then one thread decoding them all; gone with its
// context, the thread waited for.
class PictureLoad : public QObject {
public:
    PictureLoad(const QList<PictureJob> &jobs, QObject *context, std::function<void(const QList<QImage> &)> done)
        : QObject(context), jobs_(jobs), answers_(jobs.size()), images_(jobs.size()), done_(std::move(done))
    {
    }
    ~PictureLoad() override
    {
        if (decoder_)
            decoder_->wait();
    }

    void start()
    {
        pending_ = jobs_.size();
        if (jobs_.isEmpty())
            decode();  // answered from the event loop all the same, once the thread ends
        for (qsizetype i = 0; i < jobs_.size(); ++i) {
            if (!fetch::isWebAddress(jobs_[i].address)) {
                answered(i, fetch::Result());
                continue;
            }
            fetch::getLater(
                jobs_[i].address, fetch::PictureLimit, this, [this, i](const fetch::Result &r) { answered(i, r); });
        }
    }

private:
    void answered(qsizetype i, const fetch::Result &answer)
    {
        answers_[i] = answer;
        if (--pending_ == 0)
            decode();
    }

    void decode()
    {
        // The face file is replaced only by a whole 2xx answer; its picture is read back from it.
        for (qsizetype i = 0; i < jobs_.size(); ++i) {
            const fetch::Result &answer = answers_[i];
            if (!jobs_[i].saveTo.isEmpty() && answer.ok && answer.status >= 200 && answer.status < 300)
                fetch::saveToFile(answer.body, jobs_[i].saveTo);
        }
        decoder_.reset(QThread::create([this] {
            for (qsizetype i = 0; i < jobs_.size(); ++i) {
                if (!jobs_[i].saveTo.isEmpty())
                    images_[i] = LoadLocalPicture(jobs_[i].saveTo);
                else if (answers_[i].ok && !answers_[i].body.isEmpty())
                    images_[i] = decodePicture(answers_[i].body);
            }
        }));
        connect(decoder_.get(), &QThread::finished, this, [this] {
            if (done_)
                done_(images_);
            deleteLater();
        });
        decoder_->start();
    }

    QList<PictureJob> jobs_;
    QList<fetch::Result> answers_;
    QList<QImage> images_;
    std::function<void(const QList<QImage> &)> done_;
    qsizetype pending_ = 0;
    std::unique_ptr<QThread> decoder_;
};

}  // namespace

void LoadPictures(const QList<PictureJob> &jobs, QObject *context, std::function<void(const QList<QImage> &)> done)
{
    (new PictureLoad(jobs, context, std::move(done)))->start();
}
