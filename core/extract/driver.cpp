#include "extract/driver.h"

#include "extract/address_check.h"
#include "net/decode.h"
#include "sites/site_registry.h"

namespace {

// A failure in the words scripts get: "connection refused", "timed out"...
QString lowerFirst(QString text)
{
    if (!text.isEmpty())
        text[0] = text[0].toLower();
    return text;
}

QString fetchFailureText(fetch::Failure failure)
{
    switch (failure) {
    case fetch::Failure::NotWeb: return QStringLiteral("不是网页地址");
    case fetch::Failure::Connect: return QStringLiteral("无法连接到服务器");
    case fetch::Failure::TimedOut: return QStringLiteral("服务器没有响应");
    case fetch::Failure::TooSlow: return QStringLiteral("服务器响应太慢");
    case fetch::Failure::TooLarge: return QStringLiteral("页面太大");
    case fetch::Failure::Incomplete: return QStringLiteral("页面没有完整收到");
    case fetch::Failure::Redirect: return QStringLiteral("页面跳转有误");
    case fetch::Failure::Proxy: return QStringLiteral("无法连接到代理服务器");
    case fetch::Failure::None: break;
    }
    return QStringLiteral("无法获取页面");
}

QString httpStatusText(int status)
{
    const QString number = QString::number(status);
    if (status == 404 || status == 410)
        return QStringLiteral("页面不存在: ") + number;
    if (status >= 500)
        return QStringLiteral("服务器错误: ") + number;
    return QStringLiteral("页面无法访问: ") + number;
}

}  // namespace

FailureReason failureReason(ExtractionOutcome outcome, const PageAnswer &page)
{
    switch (outcome) {
    case ExtractionOutcome::NoSite:
        return {QStringLiteral("没有选择视频网站"), QStringLiteral("no service selected"), QStringLiteral("no_site")};
    case ExtractionOutcome::AddressRejected:
        return {QString(), QStringLiteral("address rejected by the checks"), QStringLiteral("address_rejected")};
    case ExtractionOutcome::FetchFailed:
        return {fetchFailureText(page.failure), QStringLiteral("fetch failed: ") + lowerFirst(page.error),
            QStringLiteral("fetch_failed")};
    case ExtractionOutcome::HttpError:
        return {httpStatusText(page.status), QStringLiteral("HTTP status ") + QString::number(page.status),
            QStringLiteral("http_status"), page.status == 429 || page.status == 503, page.retryAfter};
    case ExtractionOutcome::EmptyPage:
        return {QStringLiteral("页面是空的"), QStringLiteral("empty page"), QStringLiteral("empty_page")};
    case ExtractionOutcome::NoVideoLink:
        return {QStringLiteral("页面中没有找到视频"), QStringLiteral("no video link in page"),
            QStringLiteral("no_video_link")};
    case ExtractionOutcome::WorkLimit:
        return {QStringLiteral("页面太复杂"), QStringLiteral("work limit reached"), QStringLiteral("work_limit")};
    case ExtractionOutcome::Deadline:
        return {QStringLiteral("页面太复杂"), QStringLiteral("deadline passed"), QStringLiteral("deadline")};
    case ExtractionOutcome::Extracted: break;
    }
    return {};
}

PageAnswer fetchPage(const QString &address)
{
    const fetch::Result answer = fetch::get(address);
    PageAnswer page;
    page.status = answer.status;
    page.failure = answer.failure;
    page.error = answer.error;
    page.retryAfter = answer.retryAfter;
    if (answer.ok)
        page.text = fetch::decode(answer.body, answer.contentType);
    return page;
}

ExtractionDriver::ExtractionDriver(ExtractionResult &result, ExtractionView &view, const Hosts &h, Fetcher fetcher)
    : result_(result), view_(view), hosts_(h), fetch_(std::move(fetcher))
{
    customFetcher_ = bool(fetch_);
    if (fetch_) {
        // One fetcher for everything: the page's status is not known.
        pageFetch_ = [fetch = fetch_](const QString &url) {
            PageAnswer page;
            page.text = fetch(url);
            return page;
        };
    } else {
        fetch_ = [](const QString &url) { return GetBody(url); };
        pageFetch_ = fetchPage;
    }
}

ExtractorContext ExtractionDriver::stepContext(const QString &address)
{
    // The address of the press for the whole run: a box edited during the page's fetch never
    // mixes another video's link into this one's record.
    ExtractorContext ctx {fetch_, [address] { return address; }, hosts_, trace_};
    ctx.builtFromEmpty = &result_.BuiltFromEmpty;
    if (stepAnswers_) {
        ctx.stepAnswer = stepAnswers_;
    } else if (!customFetcher_) {
        // Fetch steps through the fetch rule, with the reason a fetch failed for --explain.
        ctx.fetchAnswer = [](const QString &url, QString *why) -> std::optional<QString> {
            const PageAnswer answer = fetchPage(url);
            if (!answer.text)
                *why = QStringLiteral("fetch failed: ") + lowerFirst(answer.error);
            return answer.text;
        };
    }
    return ctx;
}

ExtractionOutcome ExtractionDriver::run()
{
    failure_ = FailureReason();
    view_.hideBadges();

    // The site and its description are fixed here; choosing another button, or a new set of
    // descriptions arriving, during the fetch changes nothing.
    const int site = view_.selectedSite();
    const std::shared_ptr<const SiteSet> sites = sites_ ? sites_ : currentSites();
    const SiteDescription *description = sites->get(site);
    if (site < 0 || !description) {
        failure_ = failureReason(ExtractionOutcome::NoSite, {});
        return ExtractionOutcome::NoSite;
    }

    const QString address = view_.addressText();
    if (const auto message = checkAddress(description, address, hosts_)) {
        view_.setStatus(*message);
        failure_ = failureReason(ExtractionOutcome::AddressRejected, {});
        return ExtractionOutcome::AddressRejected;
    }

    view_.setExtractEnabled(false);
    view_.setStatus(ExtractingText);
    // Every extraction starts from an empty record: nothing of an earlier video can pass
    // for this one's when a step finds nothing.
    view_.resetForExtraction();
    result_.ResultSlots = Slots();
    result_.BuiltFromEmpty.reset();
    result_.Failed = true;

    Slots &rs = result_.ResultSlots;
    const PageAnswer page = pageFetch_(address);
    setSlot(rs, SlotPage, page.text);

    ExtractionOutcome outcome = page.text ? ExtractionOutcome::EmptyPage : ExtractionOutcome::FetchFailed;
    if (!rs[SlotPage].isEmpty()) {
        const ExtractorContext ctx = stepContext(address);
        const StepsEnd end = runSteps(*description, rs, ctx, ctx.trace);
        view_.applyDisplay(planDisplay(description, site, rs, hosts_, result_.BuiltFromEmpty));
        outcome = fetch::isWebAddress(rs[SlotVideoUrl]) ? ExtractionOutcome::Extracted : ExtractionOutcome::NoVideoLink;
        // Steps that were skipped could have changed any value: nothing of such a run is given
        // as the video's.
        if (end != StepsEnd::Done)
            outcome = end == StepsEnd::WorkLimit ? ExtractionOutcome::WorkLimit : ExtractionOutcome::Deadline;
    }
    // An error page is no share page, even when a link could be built from the address.
    if (page.text && page.status >= 400)
        outcome = ExtractionOutcome::HttpError;
    result_.Failed = extractionFailed(outcome);
    failure_ = failureReason(outcome, page);

    view_.setExtractEnabled(true);
    result_.IsPlaying = 0;
    view_.setStatus(result_.Failed ? ExtractFailedText + u'(' + failure_.text + u')' : ExtractedText);
    return outcome;
}
