// What --explain shows of each extraction step that ran.
#pragma once

#include <QString>

struct StepTrace {
    int line = 0;
    QString to;
    QString marker;      // the first piece or fetch of the step
    bool found = false;  // false: the step was skipped
    QString value;
    QString why;  // why a skipped step was skipped, when not for a missing marker
};
