// Running a description's steps on the result record. Each step reads one value, applies its
// operations in order and writes one value; a piece, a from_marker or a fetch that finds
// nothing skips the step, and its slot keeps what it held. The work is bounded whoever wrote
// the description: no value grows past its cap (checked before it is built), a fetch reaches
// only the service's own host, and every operation draws on one work budget that also
// watches the page deadline; once it runs out, the remaining steps are skipped.
#include "net/fetch.h"
#include "pattern.h"
#include "site_limits.h"
#include "sites/site_registry.h"
#include "sites/textcuts.h"
#include "work_budget.h"

#include <QElapsedTimer>
#include <QHash>
#include <QUrl>

namespace {

const QString TooLarge = QStringLiteral("value too large");
const QString WorkLimitText = QStringLiteral("work limit reached");
const QString DeadlineText = QStringLiteral("deadline passed");

class Run {
public:
    Run(const SiteDescription &site, Slots &rs, const ExtractorContext &ctx)
        : site_(site), rs_(rs), ctx_(ctx), budget_(sitelimits::MaxWorkUnits, fetch::deadline())
    {
        for (const QString &value : rs_)
            total_ += value.size();
    }

    // The room a new value may take: its own cap, and what is left of the extraction's.
    qsizetype room(qsizetype replacing) const
    {
        return qMin(sitelimits::MaxValueUnits, sitelimits::MaxTotalUnits - total_ + replacing);
    }

    // The template's text, or no value when it would pass room; hollow: a slot or named value
    // in it is empty.
    std::optional<QString> expand(const Template &t, qsizetype room, bool *hollow = nullptr) const
    {
        qsizetype size = 0;
        for (const Template::Part &part : t.parts)
            size += partText(part).size();
        if (size > room)
            return std::nullopt;
        QString out;
        out.reserve(size);
        for (const Template::Part &part : t.parts) {
            const QString text = partText(part);
            out += text;
            const bool value = part.kind == Template::Part::Slot || part.kind == Template::Part::Name ||
                part.kind == Template::Part::Address;
            if (hollow && text.isEmpty() && value)
                *hollow = true;
        }
        return out;
    }

    QString read(const ValueRef &ref) const
    {
        if (ref.slot >= 0)
            return rs_[ref.slot];
        return ref.name == u"address" ? ctx_.currentAddress() : names_.value(ref.name);
    }

    qsizetype sizeOf(const ValueRef &ref) const
    {
        return ref.slot >= 0 ? rs_[ref.slot].size() : names_.value(ref.name).size();
    }

    void write(const ValueRef &ref, const QString &value, bool hollow)
    {
        total_ += value.size() - sizeOf(ref);
        if (ref.slot >= 0) {
            rs_[ref.slot] = value;
            if (ctx_.builtFromEmpty)
                ctx_.builtFromEmpty->set(size_t(ref.slot), hollow);
        } else {
            names_.insert(ref.name, value);
        }
    }

    // The step's value, or none when it is skipped; marker: what it looked for first;
    // hollow: the value joins fixed text to an empty value; why: a reason other than a
    // missing marker.
    std::optional<QString> value(const Step &step, QString *marker, bool *hollow, QString *why)
    {
        const qsizetype limit = room(sizeOf(step.to));
        std::optional<QString> v;
        switch (step.input) {
        case Step::FromValue: v = read(step.from); break;
        case Step::Text: v = expand(step.address, limit, hollow); break;
        case Step::Fetch: v = fetched(step, marker, why); break;
        }
        if (!v && why->isEmpty() && step.input != Step::Fetch)
            *why = TooLarge;
        if (v && step.input != Step::FromValue && !budget_.spend(v->size()))
            v.reset();
        for (const StepOp &op : step.ops) {
            if (!v)
                break;
            if ((op.kind == StepOp::Prepend || op.kind == StepOp::Append) && v->isEmpty())
                *hollow = true;
            // An operation reads its value at most once; the deadline is looked at here too.
            v = budget_.spend(v->size()) ? apply(op, *v, marker, limit, why) : std::nullopt;
        }
        if (budget_.end() != WorkBudget::Open) {
            *why = budget_.end() == WorkBudget::WorkLimit ? WorkLimitText : DeadlineText;
            return std::nullopt;
        }
        if (v && v->size() > limit) {
            *why = TooLarge;
            return std::nullopt;
        }
        return v;
    }

    // False once the work budget or the deadline has run out: no further step runs.
    bool open() { return budget_.spend(0); }
    StepsEnd end() const
    {
        return budget_.end() == WorkBudget::Open     ? StepsEnd::Done
            : budget_.end() == WorkBudget::WorkLimit ? StepsEnd::WorkLimit
                                                     : StepsEnd::Deadline;
    }

private:
    QString partText(const Template::Part &part) const
    {
        switch (part.kind) {
        case Template::Part::Literal: return part.text;
        case Template::Part::Slot: return rs_[part.slot];
        case Template::Part::Name: return names_.value(part.text);
        case Template::Part::Prefix: return prefixAddress(site_, part.text, ctx_.hosts);
        case Template::Part::Host: return ctx_.hosts.host(part.text);
        case Template::Part::Address: return ctx_.currentAddress();
        }
        return QString();
    }

    // A fetch goes only to the host of the prefix its template begins with (the loader made
    // sure it does); the expanded address is checked against it again.
    std::optional<QString> fetched(const Step &step, QString *marker, QString *why)
    {
        const std::optional<QString> address = expand(step.address, fetch::PageLimit);
        if (!address) {
            *why = TooLarge;
            return std::nullopt;
        }
        *marker = *address;
        const QUrl own(prefixAddress(site_, step.address.parts.first().text, ctx_.hosts));
        const QUrl url(*address);
        if (url.scheme() != own.scheme() || url.host() != own.host() || url.port(80) != own.port(80)) {
            *why = QStringLiteral("not the service's own host");
            return std::nullopt;
        }
        if (ctx_.stepAnswer) {
            std::optional<QString> answer =
                ctx_.stepAnswer(step.to.slot >= 0 ? QString::number(step.to.slot) : step.to.name);
            if (!answer)
                *why = QStringLiteral("no answer declared");
            return answer;
        }
        if (ctx_.fetchAnswer)
            return ctx_.fetchAnswer(*address, why);
        std::optional<QString> answer = ctx_.GetBody(*address);
        if (!answer)
            *why = QStringLiteral("fetch failed");
        return answer;
    }

    std::optional<QString> apply(const StepOp &op, const QString &v, QString *marker, qsizetype limit, QString *why)
    {
        using namespace cuts;
        if (op.kind == StepOp::Preg) {
            std::optional<QString> replaced = op.pattern->replaceAll(v, limit, &budget_);
            if (!replaced)
                *why = TooLarge;
            return replaced;
        }
        const std::optional<QString> expanded = expand(op.text, limit);
        if (!expanded) {
            *why = TooLarge;
            return std::nullopt;
        }
        const QString &text = *expanded;
        if ((op.kind == StepOp::Piece || op.kind == StepOp::FromMarker) && marker->isEmpty())
            *marker = text;
        switch (op.kind) {
        case StepOp::Piece: return piece1(v, text);
        case StepOp::FromMarker: return restFrom(v, text);
        case StepOp::Cut: return cutAt(v, text);
        case StepOp::UpTo: return upToPosition(v, text);
        case StepOp::Trim: return trimmedSpaces(v);
        case StepOp::Remove: return written(removeAll(v, text));
        case StepOp::Replace: return written(replaced(v, text, op.replacement, limit, why));
        case StepOp::Prepend:
        case StepOp::Append:
            if (v.size() + text.size() > limit) {
                *why = TooLarge;
                return std::nullopt;
            }
            return op.kind == StepOp::Prepend ? text + v : v + text;
        case StepOp::Preg: break;
        }
        return v;
    }

    // A replacement writes its whole result, one piece for each occurrence: that is work too.
    std::optional<QString> written(std::optional<QString> result)
    {
        return result && budget_.spend(result->size()) ? result : std::nullopt;
    }

    // Every occurrence of what replaced, when the result fits (what is never empty: the
    // loader refuses an empty target).
    static std::optional<QString> replaced(
        const QString &v, const QString &what, const QString &by, qsizetype limit, QString *why)
    {
        const qsizetype grows = by.size() - what.size();
        if (grows > 0 && v.size() + cuts::countOf(v, what) * grows > limit) {
            *why = TooLarge;
            return std::nullopt;
        }
        return cuts::replaceAll(v, what, by);
    }

    const SiteDescription &site_;
    Slots &rs_;
    const ExtractorContext &ctx_;
    QHash<QString, QString> names_;  // the values steps named, for this extraction only
    qsizetype total_ = 0;            // the units all values hold now
    WorkBudget budget_;
};

QString refText(const ValueRef &ref)
{
    return ref.slot >= 0 ? QString::number(ref.slot) : ref.name;
}

}  // namespace

StepsEnd runSteps(const SiteDescription &site, Slots &rs, const ExtractorContext &ctx, QList<StepTrace> *trace)
{
    Run run(site, rs, ctx);
    for (const Step &step : site.steps) {
        // The whole extraction, steps and fetches, within the work budget and the page deadline.
        if (!run.open()) {
            if (trace)
                trace->append({step.line, refText(step.to), QString(), false, QString(),
                    run.end() == StepsEnd::WorkLimit ? WorkLimitText : DeadlineText});
            continue;
        }
        QString marker;
        QString why;
        bool hollow = false;
        const std::optional<QString> v = run.value(step, &marker, &hollow, &why);
        if (v)
            run.write(step.to, *v, hollow);
        if (trace)
            trace->append({step.line, refText(step.to), marker, bool(v), v.value_or(QString()), v ? QString() : why});
    }
    return run.end();
}
