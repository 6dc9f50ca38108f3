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
    virtual int selectedSite() const = 0;            // first selected site button, -1 if none
    virtual QString addressText() const = 0;         // the address box as it reads now
    virtual void hideBadges() = 0;
    virtual void setStatus(const QString &text) = 0;
    virtual void setExtractEnabled(bool enabled) = 0;
    virtual void resetForExtraction() = 0;           // play symbol and cover shown, player unloaded
    virtual void applyDisplay(const DisplayPlan &plan) = 0;
};

inline const QString ExtractingText = QStringLiteral("正在提取视频,请稍等...");
inline const QString ExtractedText = QStringLiteral("视频提取完毕..");

enum class ExtractionOutcome { NoSite, AddressRejected, EmptyPage, Extracted };

class ExtractionDriver {
public:
    using Fetcher = std::function<std::optional<QString>(const QString &)>;

    ExtractionDriver(ExtractionResult &result, ExtractionView &view, const Hosts &h,
                     Fetcher fetcher = GetBodyFetcher());

    // One press of the extract button.
    ExtractionOutcome run();

    static Fetcher GetBodyFetcher();

private:
    ExtractionResult &result_;
    ExtractionView &view_;
    const Hosts &hosts_;
    Fetcher fetch_;
};
