// One extraction's work, bounded whoever wrote the description: every operation adds what it
// may read (for a pattern search, the text from where the search starts to its end, an upper
// bound of what RE2 reads), and the page deadline is looked at each time. Once either runs
// out, nothing more is done and the extraction fails.
#pragma once

#include <QElapsedTimer>
#include <QtGlobal>

class WorkBudget {
public:
    enum End { Open, WorkLimit, Deadline };

    WorkBudget(qint64 units, qint64 deadlineMs) : left_(units), deadlineMs_(deadlineMs) { clock_.start(); }

    // Adds units of work; false once the budget or the deadline has run out (then for good).
    bool spend(qint64 units)
    {
        if (end_ != Open)
            return false;
        left_ -= units;
        if (left_ < 0)
            end_ = WorkLimit;
        else if (clock_.elapsed() > deadlineMs_)
            end_ = Deadline;
        return end_ == Open;
    }

    End end() const { return end_; }
    qint64 left() const { return left_; }

private:
    qint64 left_;
    qint64 deadlineMs_;
    QElapsedTimer clock_;
    End end_ = Open;
};
