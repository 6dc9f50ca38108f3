// The download list's conversions: a finished row's file made into MP4 or its sound alone by
// the converter's process, the row following it and pointing at the new file afterwards.
#include "downloads/download_list.h"

#include "downloads/download_rows.h"

#include "download/sidecar.h"
#include "net/fetch.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImage>

void DownloadList::convert(qint64 id, convert::Kind kind, bool removeOriginal)
{
    std::optional<history::Entry> e = row(id);
    if (!e || e->state != history::State::Done || !QFileInfo(e->file).isFile() || converting(id))
        return;
    if (e->id > 0 && !store_.claim(id))
        return;  // another window holds the row
    e->state = history::State::Converting;
    e->original = e->file;
    e->convertTo = kind;
    e->reason.clear();
    save(*e);
    auto *job = new convert::Conversion(this);
    conversions_[id] = {job, removeOriginal};
    connect(job, &convert::Conversion::progress, this,
        [this, id, saved = 0](int percent) mutable { conversionProgressed(id, percent, &saved); });
    connect(job, &convert::Conversion::finished, this, [this, id, job](const convert::Result &result) {
        job->deleteLater();
        conversionEnded(id, result);
    });
    convert::Request request;
    request.source = e->file;
    request.kind = kind;
    request.target = convert::soundTargetOf(e->file);  // the sound file the user chose
    // A saved MP4 with the tags setting: written into the file itself, which the new one replaces.
    request.replaceSource = kind == convert::Kind::Mp4 && QFileInfo(e->file).suffix().toLower() == u"mp4";
    request.embedTags = settings_.embedTags();
    request.video = e->video;
    startConversion(job, request, id);
}

void DownloadList::conversionProgressed(qint64 id, int percent, int *saved)
{
    DownloadProgress p;
    p.done = percent;
    p.total = 100;
    rows_->progressed(id, p);
    // Every tenth of the way in the history too, where another window reads it.
    if (percent - *saved < 10)
        return;
    *saved = percent;
    if (std::optional<history::Entry> now = row(id); now && now->state == history::State::Converting) {
        now->reason = QString::number(percent);
        save(*now);
    }
}

void DownloadList::startConversion(convert::Conversion *job, const convert::Request &request, qint64 id)
{
    if (!request.embedTags) {
        job->start(request);
        return;
    }
    // The cover as the server sends it (the row's own picture is a thumbnail), fetched as the
    // window's pictures are; the thumbnail when it cannot be had.
    const QImage thumbnail = thumbnails_.get(id);
    const auto startWith = [job, request, thumbnail](const QByteArray &served) {
        convert::Request withCover = request;
        withCover.cover = served;
        if (withCover.cover.isEmpty() && !thumbnail.isNull()) {
            QBuffer bytes(&withCover.cover);
            bytes.open(QIODevice::WriteOnly);
            thumbnail.save(&bytes, "JPEG", 90);
        }
        job->start(withCover);
    };
    if (!fetch::isWebAddress(request.video.cover)) {
        startWith(QByteArray());
        return;
    }
    fetch::getLater(request.video.cover, fetch::PictureLimit, job, [startWith](const fetch::Result &answer) {
        startWith(answer.ok && answer.status == 200 && isImageData(answer.body) ? answer.body : QByteArray());
    });
}

void DownloadList::conversionEnded(qint64 id, const convert::Result &result)
{
    const auto it = conversions_.find(id);
    const bool removeOriginal = it != conversions_.end() && it->second.removeOriginal;
    if (it != conversions_.end())
        conversions_.erase(it);
    std::optional<history::Entry> e = row(id);
    if (!e)
        return;
    const QString original = e->original;
    e->state = history::State::Done;
    e->convertTo.reset();
    e->original.clear();
    e->reason.clear();
    if (result.ok()) {
        e->file = result.file;
        e->size = e->done = QFileInfo(result.file).size();
        if (removeOriginal && result.file != original)
            QFile::remove(original);
        else if (result.file != original && !e->sidecars.contains(original))
            e->sidecars << original;  // the file it was made from stays the row's too
    } else if (result.code != u"cancelled") {
        e->reason = QStringLiteral("转换失败: ") + result.text();
    }
    rows_->progressed(id, DownloadProgress());
    save(*e);
    if (e->id > 0)
        store_.release(id);
}

void DownloadList::convertSaved(qint64 id)
{
    const std::optional<history::Entry> e = row(id);
    if (!e || e->state != history::State::Done)
        return;
    // "仅保存音频": the video was the way to its sound, and goes once the sound is saved.
    const QString suffix = QFileInfo(e->file).suffix().toLower();
    if (e->convertTo)
        convert(id, *e->convertTo, true);
    else if (settings_.flvToMp4() && suffix == u"flv")
        convert(id, convert::Kind::Mp4, settings_.removeOriginal());
    else if (settings_.embedTags() && suffix == u"mp4")
        convert(id, convert::Kind::Mp4, false);  // the tags and cover written into the saved MP4
}

void DownloadList::backToOriginal(history::Entry &e)
{
    if (!e.original.isEmpty() && QFileInfo(e.original).isFile())
        e.file = e.original;
    e.state = history::State::Done;
    e.convertTo.reset();
    e.original.clear();
    e.reason.clear();
    save(e);
    store_.release(e.id);
}
