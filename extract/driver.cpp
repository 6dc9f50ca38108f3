#include "driver.h"

#include "address_check.h"
#include "fetch.h"

ExtractionDriver::ExtractionDriver(ExtractionResult &result, ExtractionView &view, const Hosts &h, Fetcher fetcher)
    : result_(result), view_(view), hosts_(h), fetch_(std::move(fetcher))
{
}

ExtractionDriver::Fetcher ExtractionDriver::GetBodyFetcher()
{
    return [](const QString &url) { return GetBody(url); };
}

ExtractionOutcome ExtractionDriver::run()
{
    view_.hideBadges();

    // The site is fixed here; choosing another button during the fetch changes nothing.
    const int site = view_.selectedSite();
    if (site < 0)
        return ExtractionOutcome::NoSite;

    const QString address = view_.addressText();
    if (const auto message = checkAddress(site, address, hosts_)) {
        view_.setStatus(*message);
        return ExtractionOutcome::AddressRejected;
    }

    view_.setExtractEnabled(false);
    view_.setStatus(ExtractingText);
    // Every extraction starts from an empty record: nothing of an earlier video can pass
    // for this one's when a step finds nothing.
    view_.resetForExtraction();
    result_.ResultSlots = Slots();
    result_.Failed = true;

    Slots &rs = result_.ResultSlots;
    const std::optional<QString> page = fetch_(view_.addressText());
    setSlot(rs, SlotPage, page);

    ExtractionOutcome outcome = page ? ExtractionOutcome::EmptyPage : ExtractionOutcome::FetchFailed;
    if (!rs[SlotPage].isEmpty()) {
        const ExtractorContext ctx {fetch_, [this] { return view_.addressText(); }, hosts_, trace_};
        extractSite(site, rs, ctx);
        view_.applyDisplay(planDisplay(site, rs, hosts_));
        outcome = fetch::isWebAddress(rs[SlotVideoUrl]) ? ExtractionOutcome::Extracted : ExtractionOutcome::NoVideoLink;
    }
    result_.Failed = extractionFailed(outcome);

    view_.setExtractEnabled(true);
    result_.IsPlaying = 0;
    view_.setStatus(result_.Failed ? ExtractFailedText : ExtractedText);
    return outcome;
}
