#include "extract/extract_video.h"

#include "extract/address_check.h"
#include "sites/sites.h"

VideoFields videoFields(
    const QString &address, int site, const DisplayPlan &plan, const ExtractionResult &record, const Hosts &h)
{
    VideoFields video;
    video.id = site >= 0 ? videoIdOf(address, site, h) : QString();
    video.site = siteName(site);
    video.author = plan.author;
    video.description = plan.description;
    video.date = plan.date;
    video.address = address;
    video.link = record.ResultSlots[SlotVideoUrl];
    video.cover = plan.cover;
    return video;
}

ExtractedVideo extractVideo(const QString &address, int site, const Hosts &h, const ExtractOptions &options)
{
    ExtractedVideo out;
    out.view.site = site;
    out.view.address = address;
    out.video.address = address;
    if (site < 0) {
        out.view.status = NoServiceText;
        out.outcome = ExtractionOutcome::AddressRejected;
        out.failure = {NoServiceText, QStringLiteral("no service for this address"), QStringLiteral("no_service")};
        return out;
    }
    ExtractionDriver driver(out.record, out.view, h);
    if (options.pageFetcher)
        driver.setPageFetcher(options.pageFetcher);
    if (options.trace)
        driver.setTrace(options.trace);
    out.outcome = driver.run();
    out.failure = driver.failure();
    const DisplayPlan plan = out.view.display.value_or(DisplayPlan());
    out.video = videoFields(address, site, plan, out.record, h);
    if (!out.extracted())
        out.video.link.clear();
    out.avatar = plan.avatarUrl();
    return out;
}

int busyPauseSeconds(int retryAfter, int triesBefore)
{
    return retryAfter >= 0 ? retryAfter : BusyPauseSeconds << qBound(0, triesBefore, MostBusyTries);
}
