#include "driver.h"

#include "address_check.h"
#include "fetch.h"

ExtractionDriver::ExtractionDriver(ExtractionResult &result, ExtractionView &view,
                                   const Hosts &h, Fetcher fetcher)
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
    view_.resetForExtraction();

    Slots &rs = result_.ResultSlots;
    setSlot(rs, SlotPage, fetch_(view_.addressText()));

    ExtractionOutcome outcome = ExtractionOutcome::EmptyPage;
    if (!rs[SlotPage].isEmpty()) {
        const ExtractorContext ctx{fetch_, [this] { return view_.addressText(); }, hosts_};
        if (Extractor extract = extractorFor(site))
            extract(rs, ctx);
        view_.applyDisplay(planDisplay(site, rs, hosts_));
        outcome = ExtractionOutcome::Extracted;
    }

    view_.setExtractEnabled(true);
    result_.IsPlaying = 0;
    view_.setStatus(ExtractedText);
    return outcome;
}
