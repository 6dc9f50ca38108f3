// The extraction driver: what pressing the extract button does, independent of any widget.
#pragma once

#include "display.h"
#include "extractor.h"
#include "hosts.h"
#include "result.h"

#include <QString>

// What the driver needs of the window (or of a headless front end).
class ExtractionView {
public:
    virtual ~ExtractionView() = default;
    virtual int selectedSite() const = 0;     // first selected site button, -1 if none
    virtual QString addressText() const = 0;  // the address box as it reads now
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
};

// True for the outcomes that end with "视频提取失败..".
inline bool extractionFailed(ExtractionOutcome outcome)
{
    return outcome == ExtractionOutcome::FetchFailed || outcome == ExtractionOutcome::EmptyPage ||
        outcome == ExtractionOutcome::NoVideoLink;
}

class ExtractionDriver {
public:
    using Fetcher = std::function<std::optional<QString>(const QString &)>;

    ExtractionDriver(
        ExtractionResult &result, ExtractionView &view, const Hosts &h, Fetcher fetcher = GetBodyFetcher());

    // One press of the extract button.
    ExtractionOutcome run();

    // Records each extraction step that runs (for --explain).
    void setTrace(QList<StepTrace> *trace) { trace_ = trace; }

    static Fetcher GetBodyFetcher();

private:
    ExtractionResult &result_;
    ExtractionView &view_;
    const Hosts &hosts_;
    Fetcher fetch_;
    QList<StepTrace> *trace_ = nullptr;
};
