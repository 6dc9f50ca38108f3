#include "downloads/batch_run.h"

#include "downloads/download_list.h"
#include "extract/address_check.h"
#include "extract/extraction_queue.h"
#include "picture/picture.h"
#include "record/hosts.h"

#include <QDir>

BatchRun::BatchRun(DownloadList &list, std::function<QString()> folder, QObject *parent)
    : QObject(parent), list_(list), folder_(std::move(folder))
{
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &BatchRun::next);
}

void BatchRun::add(const QStringList &addresses, const QString &subfolder)
{
    for (const QString &address : addresses) {
        if (!pending_.contains(address))
            pending_ << address;
        if (subfolder.isEmpty())
            subfolders_.remove(address);
        else
            subfolders_.insert(address, subfolder);
    }
    if (!timer_.isActive())
        timer_.start(0);
}

void BatchRun::next()
{
    if (pending_.isEmpty() || extracting_)
        return;
    extract(pending_.takeFirst());
}

void BatchRun::extract(const QString &address)
{
    extracting_ = true;
    ExtractionRequest request;
    request.site = siteForAddress(address, hosts());
    request.address = address;
    request.why = ExtractionWhy::Batch;
    request.done = [this, address](const ExtractedVideo &found) { takeResult(address, found); };
    list_.extractions()->add(request);
}

void BatchRun::takeResult(const QString &address, const ExtractedVideo &found)
{
    if (found.failure.busyServer && busyTries_ < MostBusyTries) {
        // The service asks for a slower pace: this address again, after its wait.
        const int waitMs = busyPauseSeconds(found.failure.retryAfter, busyTries_) * 1000;
        ++busyTries_;
        pending_.prepend(address);
        list_.setNotice(QStringLiteral("服务器繁忙，%1 秒后继续提取 (还有 %2 个地址)")
                            .arg((waitMs + 999) / 1000)
                            .arg(pending_.size()));
        timer_.start(waitMs);
        extracting_ = false;
        return;
    }
    busyTries_ = 0;
    list_.setNotice(QString());
    if (found.video.link.isEmpty()) {
        // Nothing is lost in silence: the address stays in the list with why it failed.
        list_.addFailed(found.video, found.view.status);
        addRow(DownloadRequest(), false);
        return;
    }
    DownloadRequest request;
    request.video = found.video;
    request.avatar = found.avatar;
    // A file there that is this very video makes the row 已完成 as it is; another file
    // keeps its name, and the video takes the next free one, as on the command line.
    QDir folder(folder_());
    if (const QString sub = subfolders_.take(address); !sub.isEmpty() && folder.mkpath(sub))
        folder.setPath(folder.filePath(sub));
    const SavePlace place = savePlace(folder.filePath(videoName(found.video)), {found.video.link}, true);
    request.target = place.file;
    if (found.video.cover.isEmpty()) {
        addRow(request, place.thisVideo);
        return;
    }
    // The cover for the row's thumbnail, fetched and decoded off the window's thread.
    LoadPictures({{found.video.cover, QString()}}, this,
        [this, request, thisVideo = place.thisVideo](const QList<QImage> &pictures) mutable {
            request.cover = pictures.value(0);
            addRow(request, thisVideo);
        });
}

void BatchRun::addRow(const DownloadRequest &request, bool thisVideo)
{
    if (!request.video.link.isEmpty()) {
        if (thisVideo)
            list_.addSaved(request);
        else
            list_.add(request);
    }
    extracting_ = false;
    if (!pending_.isEmpty())
        timer_.start(PauseMs);
    else
        emit extracted();
}
