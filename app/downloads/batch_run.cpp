#include "downloads/batch_run.h"

#include "downloads/download_list.h"
#include "extract/address_check.h"
#include "extract/extract_video.h"
#include "picture/picture.h"
#include "record/hosts.h"

#include <QDir>

BatchRun::BatchRun(DownloadList &list, std::function<QString()> folder, QObject *parent)
    : QObject(parent), list_(list), folder_(std::move(folder))
{
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &BatchRun::next);
}

void BatchRun::add(const QStringList &addresses)
{
    for (const QString &address : addresses) {
        if (!pending_.contains(address))
            pending_ << address;
    }
    if (!timer_.isActive())
        timer_.start(0);
}

void BatchRun::next()
{
    if (pending_.isEmpty())
        return;
    // The window's own extraction goes first.
    if (windowBusy_ && windowBusy_()) {
        timer_.start(300);
        return;
    }
    extract(pending_.takeFirst());
}

void BatchRun::extract(const QString &address)
{
    extracting_ = true;
    const ExtractedVideo found = extractVideo(address, siteForAddress(address, hosts()), hosts());
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
        emit returned();
        return;
    }
    busyTries_ = 0;
    list_.setNotice(QString());
    if (!found.video.link.isEmpty()) {
        DownloadRequest request;
        request.video = found.video;
        request.avatar = found.avatar;
        // A file there that is this very video makes the row 已完成 as it is; another file
        // keeps its name, and the video takes the next free one, as on the command line.
        const SavePlace place = savePlace(QDir(folder_()).filePath(videoName(found.video)), {found.video.link}, true);
        request.target = place.file;
        // The cover for the row's thumbnail, fetched and decoded off the window's thread.
        if (!found.video.cover.isEmpty())
            request.cover = LoadPictures({{found.video.cover, QString()}}).value(0);
        if (place.thisVideo)
            list_.addSaved(request);
        else
            list_.add(request);
    } else {
        // Nothing is lost in silence: the address stays in the list with why it failed.
        list_.addFailed(found.video, found.view.status);
    }
    if (!pending_.isEmpty())
        timer_.start(PauseMs);
    extracting_ = false;
    emit returned();
    if (pending_.isEmpty())
        emit extracted();
}
