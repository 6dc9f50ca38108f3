#include "batch_run.h"

#include "download_list/download_list.h"
#include "extract/address_check.h"
#include "extract/driver.h"
#include "extract/headless_view.h"
#include "picture/picture.h"
#include "record/hosts.h"
#include "sites/sites.h"

#include <QDir>

BatchRun::BatchRun(
    DownloadList &list, std::function<QString()> folder, std::function<bool()> windowBusy, QObject *parent)
    : QObject(parent), list_(list), folder_(std::move(folder)), windowBusy_(std::move(windowBusy))
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
    if (windowBusy_()) {
        timer_.start(300);
        return;
    }
    extract(pending_.takeFirst());
}

ExtractedVideo extractOnItsOwn(const QString &address)
{
    ExtractionResult record;
    HeadlessView view;
    view.site = siteForAddress(address, hosts());
    view.address = address;
    ExtractionDriver driver(record, view, hosts());
    const ExtractionOutcome outcome = view.site >= 0 ? driver.run() : ExtractionOutcome::NoSite;
    ExtractedVideo out;
    VideoFields &video = out.video;
    video.site = siteName(view.site);
    video.id = view.site >= 0 ? videoIdOf(address, view.site, hosts()) : QString();
    video.address = address;
    out.status = view.site >= 0 ? view.status : QStringLiteral("没有与该地址对应的视频网站");
    if (outcome == ExtractionOutcome::Extracted && view.display) {
        const DisplayPlan &plan = *view.display;
        video.author = plan.author;
        video.description = plan.description;
        video.date = plan.label3;
        video.cover = plan.cover;
        video.link = record.ResultSlots[SlotVideoUrl];
        out.avatar = plan.avatarUrl();
    }
    out.slowDown = driver.failure().busyServer;
    out.retryAfter = driver.failure().retryAfter;
    return out;
}

void BatchRun::extract(const QString &address)
{
    extracting_ = true;
    const ExtractedVideo found = extractOnItsOwn(address);
    if (found.slowDown && busyTries_ < MostBusyTries) {
        // The service asks for a slower pace: this address again, after its wait.
        const int waitMs = found.retryAfter >= 0 ? found.retryAfter * 1000 : BusyServerPauseMs << busyTries_;
        ++busyTries_;
        pending_.prepend(address);
        extracting_ = false;
        list_.setNotice(QStringLiteral("服务器繁忙，%1 秒后继续提取 (还有 %2 个地址)")
                            .arg((waitMs + 999) / 1000)
                            .arg(pending_.size()));
        timer_.start(waitMs);
        return;
    }
    busyTries_ = 0;
    list_.setNotice(QString());
    if (!found.video.link.isEmpty()) {
        DownloadRequest request;
        request.video = found.video;
        request.avatar = found.avatar;
        request.target = QDir(folder_()).filePath(videoName(found.video));
        // The cover for the row's thumbnail, fetched and decoded off the window's thread.
        if (!found.video.cover.isEmpty())
            request.cover = LoadPictures({{found.video.cover, QString()}}).value(0);
        list_.add(request);
    } else {
        // Nothing is lost in silence: the address stays in the list with why it failed.
        list_.addFailed(found.video, found.status);
    }
    extracting_ = false;
    if (!pending_.isEmpty())
        timer_.start(PauseMs);
    else
        emit extracted();
}
