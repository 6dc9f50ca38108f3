// The contract between the driver and the service descriptions' steps: the steps work on
// the result slots alone, with a context that offers the page fetch and the address box as
// it reads now.
#pragma once

#include "record/hosts.h"
#include "record/result.h"
#include "record/step_trace.h"

#include <QList>
#include <functional>
#include <optional>

struct ExtractorContext {
    std::function<std::optional<QString>(const QString &)> GetBody;
    std::function<QString()> currentAddress;  // the address the run was started with
    const Hosts &hosts;
    QList<StepTrace> *trace = nullptr;                 // when set, each step that ran is recorded (--explain)
    std::bitset<SlotCount> *builtFromEmpty = nullptr;  // when set, see ExtractionResult
    // When set, fetch steps use this instead of GetBody, and why tells a failure's reason.
    std::function<std::optional<QString>(const QString &, QString *why)> fetchAnswer = nullptr;
    // When set, fetch steps are answered by the value they write ("api", "22"), not fetched:
    // an example's declared answers.
    std::function<std::optional<QString>(const QString &target)> stepAnswer = nullptr;
};
