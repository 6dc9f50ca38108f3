// The extraction driver: what pressing the extract button does, independent of any widget.
#pragma once

#include "extract/display.h"
#include "record/extractor.h"
#include "net/fetch.h"
#include "record/hosts.h"
#include "record/result.h"
#include "sites/site_registry.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

// What the driver needs of the window (or of a headless front end).
class ExtractionView {
public:
    virtual ~ExtractionView() = default;
    virtual void hideBadges() = 0;
    virtual void setStatus(const QString &text) = 0;
    virtual void setExtractEnabled(bool enabled) = 0;
    // The result area back to its start-up look (captions, badge, cover, avatar), the play
    // symbol and cover shown, the player unloaded.
    virtual void resetForExtraction() = 0;
    virtual void applyDisplay(const DisplayPlan &plan) = 0;
};

inline const QString ExtractingText = QStringLiteral("正在提取视频,请稍等...");
inline const QString ExtractedText = QStringLiteral("视频提取完毕..");
inline const QString ExtractFailedText = QStringLiteral("视频提取失败..");

enum class ExtractionOutcome {
    NoSite,
    AddressRejected,
    FetchFailed,  // the share page could not be fetched at all
    EmptyPage,    // it was fetched and is empty
    NoVideoLink,  // the steps ran and found no web (http/https) video link
    Extracted,
    HttpError,  // the share page answered with an HTTP error status (4xx, 5xx)
    WorkLimit,  // the steps ran out of their work budget: the page is too complex
    Deadline,   // the steps ran past the page deadline
};

// True for the outcomes that end with "视频提取失败..".
inline bool extractionFailed(ExtractionOutcome outcome)
{
    return outcome == ExtractionOutcome::FetchFailed || outcome == ExtractionOutcome::EmptyPage ||
        outcome == ExtractionOutcome::NoVideoLink || outcome == ExtractionOutcome::HttpError ||
        outcome == ExtractionOutcome::WorkLimit || outcome == ExtractionOutcome::Deadline;
}

// The share page as the driver receives it.
struct PageAnswer {
    std::optional<QString> text;  // none when the page could not be fetched
    int status = 0;               // its HTTP status; 0 when not known
    fetch::Failure failure = fetch::Failure::None;
    QString error;        // why it could not be fetched, in English ("Connection refused")
    int retryAfter = -1;  // a 429 or 503 answer's Retry-After in seconds, -1 when none
};

// Why an extraction did not give a video: for people, shown after "视频提取失败.."; for
// scripts, in English and as a code that never changes.
struct FailureReason {
    QString text;   // "无法连接到服务器"
    QString error;  // "fetch failed: connection refused"
    QString code;   // "fetch_failed"
    // The page was answered 429 or 503: the service asks for a slower pace, after
    // retryAfter seconds when it said (-1 when not).
    bool busyServer = false;
    int retryAfter = -1;
};

FailureReason failureReason(ExtractionOutcome outcome, const PageAnswer &page);

// The share page as the fetch rule answered it: decoded, with its status and why it failed.
PageAnswer pageAnswer(const fetch::Result &answer);

class ExtractionDriver {
public:
    using Fetcher = std::function<std::optional<QString>(const QString &)>;
    using PageFetcher = std::function<PageAnswer(const QString &)>;

    // fetcher answers every fetch at once; without one, the share page and the steps' pages
    // come through the fetch rule, each awaited on the event loop.
    ExtractionDriver(ExtractionResult &result, ExtractionView &view, const Hosts &h, Fetcher fetcher = {});
    ~ExtractionDriver();
    ExtractionDriver(const ExtractionDriver &) = delete;
    ExtractionDriver &operator=(const ExtractionDriver &) = delete;

    // The share page from elsewhere (a file, for --page), answered at once.
    void setPageFetcher(PageFetcher pageFetcher) { pageFetch_ = std::move(pageFetcher); }

    // One extraction of address as site's page (-1: no service chosen). done comes once, at
    // its end: before start returns when nothing had to be fetched from the network (a
    // fetcher of its own, a refused address), else from the event loop. Destroying the
    // driver ends a run unfinished; its done never comes.
    void start(int site, const QString &address, std::function<void(ExtractionOutcome)> done);

    // start for a driver whose fetches are all answered at once (a fetcher of its own, or a
    // page fetcher with step answers): its outcome.
    ExtractionOutcome run(int site, const QString &address);

    // The descriptions to use (examples run a set that is not in use); by default each run
    // takes the set in use when it starts and keeps it to its end.
    void setSites(std::shared_ptr<const SiteSet> sites) { sites_ = std::move(sites); }

    // Fetch steps answered by the value they write ("api", "22") instead of by address, as
    // an example's declared answers are.
    void setStepAnswers(std::function<std::optional<QString>(const QString &target)> answers)
    {
        stepAnswers_ = std::move(answers);
    }

    // Records each extraction step that runs (for --explain).
    void setTrace(QList<StepTrace> *trace) { trace_ = trace; }

    // Why the last run failed; empty texts when it extracted a video.
    const FailureReason &failure() const { return failure_; }

private:
    struct Run;
    ExtractorContext stepContext(const QString &address);  // what the steps are given: fetches, the address
    void pageArrived(const PageAnswer &page);
    void stepsGoOn();  // runs steps until one waits for a page, or ends the run
    void end(ExtractionOutcome outcome);
    void fetchLater(const QString &url, std::function<void(const fetch::Result &)> then);

    ExtractionResult &result_;
    ExtractionView &view_;
    const Hosts &hosts_;
    Fetcher fetch_;
    PageFetcher pageFetch_;
    bool customFetcher_ = false;  // one fetcher answers everything (tests, fuzzing)
    QList<StepTrace> *trace_ = nullptr;
    FailureReason failure_;
    std::shared_ptr<const SiteSet> sites_;
    std::function<std::optional<QString>(const QString &target)> stepAnswers_;
    std::unique_ptr<Run> run_;            // the run in progress
    std::unique_ptr<QObject> transfers_;  // the fetches under way: gone with the driver
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    quint64 runNumber_ = 0;
};
