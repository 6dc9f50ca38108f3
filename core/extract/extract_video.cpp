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

int busyPauseSeconds(int retryAfter, int triesBefore)
{
    return retryAfter >= 0 ? retryAfter : BusyPauseSeconds << qBound(0, triesBefore, MostBusyTries);
}
