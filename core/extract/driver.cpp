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

PageAnswer pageAnswer(const fetch::Result &answer)
{
    PageAnswer page;
    page.status = answer.status;
    page.failure = answer.failure;
    page.error = answer.error;
    page.retryAfter = answer.retryAfter;
    if (answer.ok)
        page.text = fetch::decode(answer.body, answer.contentType);
    return page;
}

// What one run holds between its fetches.
struct ExtractionDriver::Run {
    int site = -1;
    QString address;
    std::shared_ptr<const SiteSet> sites;
    const SiteDescription *description = nullptr;
    PageAnswer page;
    std::optional<ExtractorContext> context;
    std::unique_ptr<StepRun> steps;
    std::function<void(ExtractionOutcome)> done;
};

ExtractionDriver::ExtractionDriver(ExtractionResult &result, ExtractionView &view, const Hosts &h, Fetcher fetcher)
    : result_(result), view_(view), hosts_(h), fetch_(std::move(fetcher)), transfers_(std::make_unique<QObject>())
{
    customFetcher_ = bool(fetch_);
    if (fetch_) {
        // One fetcher for everything: the page's status is not known.
        pageFetch_ = [fetch = fetch_](const QString &url) {
            PageAnswer page;
            page.text = fetch(url);
            return page;
        };
    }
}

ExtractionDriver::~ExtractionDriver()
{
    // A fetch may be answering right now (the driver dropped from its own done): its transfer
    // goes from the event loop, and what it answers is not read.
    transfers_.release()->deleteLater();
}

void ExtractionDriver::fetchLater(const QString &url, std::function<void(const fetch::Result &)> then)
{
    fetch::getLater(url, fetch::PageLimit, transfers_.get(),
        [alive = std::weak_ptr<bool>(alive_), run = runNumber_, this, then = std::move(then)](
            const fetch::Result &answer) {
            if (!alive.expired() && run_ && run == runNumber_)
                then(answer);
        });
}

ExtractorContext ExtractionDriver::stepContext(const QString &address)
{
    // The address of the press for the whole run: a box edited during the page's fetch never
    // mixes another video's link into this one's record.
    ExtractorContext ctx {customFetcher_ ? fetch_ : Fetcher(), [address] { return address; }, hosts_, trace_};
    ctx.builtFromEmpty = &result_.BuiltFromEmpty;
    if (stepAnswers_)
        ctx.stepAnswer = stepAnswers_;
    return ctx;
}

ExtractionOutcome ExtractionDriver::run(int site, const QString &address)
{
    ExtractionOutcome outcome = ExtractionOutcome::FetchFailed;
    bool ended = false;
    start(site, address, [&](ExtractionOutcome o) {
        outcome = o;
        ended = true;
    });
    Q_ASSERT_X(ended, "ExtractionDriver::run", "a fetch went to the network");
    run_.reset();  // a fetch that went to the network after all ends unanswered
    return outcome;
}

void ExtractionDriver::start(int site, const QString &address, std::function<void(ExtractionOutcome)> done)
{
    ++runNumber_;  // an earlier run's fetches answer no more
    run_ = std::make_unique<Run>();
    run_->done = std::move(done);
    failure_ = FailureReason();
    view_.hideBadges();

    // The site and its description are fixed here; choosing another button, or a new set of
    // descriptions arriving, during the fetch changes nothing.
    run_->site = site;
    run_->address = address;
    run_->sites = sites_ ? sites_ : currentSites();
    run_->description = run_->sites->get(site);
    if (site < 0 || !run_->description) {
        failure_ = failureReason(ExtractionOutcome::NoSite, {});
        end(ExtractionOutcome::NoSite);
        return;
    }
    if (const auto message = checkAddress(run_->description, address, hosts_)) {
        view_.setStatus(*message);
        failure_ = failureReason(ExtractionOutcome::AddressRejected, {});
        end(ExtractionOutcome::AddressRejected);
        return;
    }

    view_.setExtractEnabled(false);
    view_.setStatus(ExtractingText);
    // Every extraction starts from an empty record: nothing of an earlier video can pass
    // for this one's when a step finds nothing.
    view_.resetForExtraction();
    result_.ResultSlots = Slots();
    result_.BuiltFromEmpty.reset();
    result_.Failed = true;

    if (pageFetch_) {
        pageArrived(pageFetch_(address));
        return;
    }
    fetchLater(address, [this](const fetch::Result &answer) { pageArrived(pageAnswer(answer)); });
}

void ExtractionDriver::pageArrived(const PageAnswer &page)
{
    Run &r = *run_;
    r.page = page;
    Slots &rs = result_.ResultSlots;
    setSlot(rs, SlotPage, page.text);
    if (rs[SlotPage].isEmpty()) {
        end(page.text ? ExtractionOutcome::EmptyPage : ExtractionOutcome::FetchFailed);
        return;
    }
    r.context.emplace(stepContext(r.address));
    r.steps = std::make_unique<StepRun>(*r.description, rs, *r.context, r.context->trace);
    stepsGoOn();
}

void ExtractionDriver::stepsGoOn()
{
    Run &r = *run_;
    if (const std::optional<QString> address = r.steps->advance()) {
        // A fetch step's page through the fetch rule, with the reason a fetch failed for --explain.
        fetchLater(*address, [this](const fetch::Result &answer) {
            const PageAnswer page = pageAnswer(answer);
            run_->steps->answer(page.text, QStringLiteral("fetch failed: ") + lowerFirst(page.error));
            stepsGoOn();
        });
        return;
    }
    Slots &rs = result_.ResultSlots;
    view_.applyDisplay(planDisplay(r.description, r.site, rs, hosts_, result_.BuiltFromEmpty));
    ExtractionOutcome outcome =
        fetch::isWebAddress(rs[SlotVideoUrl]) ? ExtractionOutcome::Extracted : ExtractionOutcome::NoVideoLink;
    // Steps that were skipped could have changed any value: nothing of such a run is given
    // as the video's.
    if (const StepsEnd steps = r.steps->end(); steps != StepsEnd::Done)
        outcome = steps == StepsEnd::WorkLimit ? ExtractionOutcome::WorkLimit : ExtractionOutcome::Deadline;
    end(outcome);
}

void ExtractionDriver::end(ExtractionOutcome outcome)
{
    std::unique_ptr<Run> r = std::move(run_);
    if (outcome != ExtractionOutcome::NoSite && outcome != ExtractionOutcome::AddressRejected) {
        // An error page is no share page, even when a link could be built from the address.
        if (r->page.text && r->page.status >= 400)
            outcome = ExtractionOutcome::HttpError;
        result_.Failed = extractionFailed(outcome);
        failure_ = failureReason(outcome, r->page);
        view_.setExtractEnabled(true);
        result_.IsPlaying = 0;
        view_.setStatus(result_.Failed ? ExtractFailedText + u'(' + failure_.text + u')' : ExtractedText);
    }
    if (r->done)
        r->done(outcome);
}
