// A driver view without widgets: it keeps what the window would show. Used by the
// command-line front end and by tests.
#pragma once

#include "extract/driver.h"

#include <QStringList>
#include <optional>

class HeadlessView : public ExtractionView {
public:
    int site = 0;  // the service and address of the run it follows
    QString address;
    QString status;
    bool extractEnabled = true;
    std::optional<DisplayPlan> display;  // the last display applied
    QStringList calls;                   // the view operations in the order they came

    void hideBadges() override { calls << QStringLiteral("hideBadges"); }
    void setStatus(const QString &text) override
    {
        status = text;
        calls << QStringLiteral("status:") + text;
    }
    void setExtractEnabled(bool enabled) override
    {
        extractEnabled = enabled;
        calls << (enabled ? QStringLiteral("enable") : QStringLiteral("disable"));
    }
    void resetForExtraction() override { calls << QStringLiteral("reset"); }
    void applyDisplay(const DisplayPlan &plan) override
    {
        display = plan;
        calls << QStringLiteral("display");
    }
};
