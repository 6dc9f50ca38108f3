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
        std::optional<QString> v;
        switch (step.input) {
        case Step::FromValue: v = read(step.from); break;
        case Step::Text: v = expand(step.address, room(sizeOf(step.to)), hollow); break;
        case Step::Fetch: v = fetched(step, marker, why); break;
        }
        if (!v && why->isEmpty() && step.input != Step::Fetch)
            *why = TooLarge;
        return finish(step, std::move(v), marker, hollow, why);
    }

    // The rest of a step once its input is known: its operations, within the budget and caps.
    std::optional<QString> finish(
        const Step &step, std::optional<QString> v, QString *marker, bool *hollow, QString *why)
    {
        const qsizetype limit = room(sizeOf(step.to));
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

    // A fetch goes only to the host of the prefix its template begins with (the loader made
    // sure it does); the expanded address is checked against it again. None, with why, when
    // the step cannot fetch.
    std::optional<QString> fetchTarget(const Step &step, QString *marker, QString *why) const
    {
        std::optional<QString> address = expand(step.address, fetch::PageLimit);
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
        return address;
    }

    // True when the context answers fetch steps at once; else each waits for answer().
    bool answersAtOnce() const { return ctx_.stepAnswer || ctx_.fetchAnswer || ctx_.GetBody; }

    const QHash<QString, QString> &names() const { return names_; }
    void name(const QString &key, const QString &value) { names_.insert(key, value); }

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

    std::optional<QString> fetched(const Step &step, QString *marker, QString *why)
    {
        const std::optional<QString> address = fetchTarget(step, marker, why);
        if (!address)
            return std::nullopt;
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
        case StepOp::Unescape: return jsonUnescaped(v);
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

struct StepRun::State {
    State(const SiteDescription &description, const QList<Step> &list, Slots &rs, const ExtractorContext &ctx)
        : run(description, rs, ctx), steps(list)
    {
    }
    Run run;
    const QList<Step> &steps;
    qsizetype next = 0;  // the step to run next
    // The fetch step waiting for its page: what it looked for.
    QString marker;
    bool waiting = false;
};

StepRun::StepRun(const SiteDescription &site, Slots &rs, const ExtractorContext &ctx, QList<StepTrace> *trace)
    : state_(std::make_unique<State>(site, site.steps, rs, ctx)), trace_(trace)
{
}

StepRun::~StepRun() = default;

void StepRun::record(const Step &step, const QString &marker, const std::optional<QString> &v, const QString &why)
{
    if (trace_)
        trace_->append({step.line, refText(step.to), marker, bool(v), v.value_or(QString()), v ? QString() : why});
}

std::optional<QString> StepRun::advance()
{
    State &st = *state_;
    while (!st.waiting && st.next < st.steps.size()) {
        const Step &step = st.steps[st.next];
        // The whole extraction, steps and fetches, within the work budget and the page deadline.
        if (!st.run.open()) {
            if (trace_)
                trace_->append({step.line, refText(step.to), QString(), false, QString(),
                    st.run.end() == StepsEnd::WorkLimit ? WorkLimitText : DeadlineText});
            ++st.next;
            continue;
        }
        QString marker;
        QString why;
        if (step.input == Step::Fetch && !st.run.answersAtOnce()) {
            std::optional<QString> address = st.run.fetchTarget(step, &marker, &why);
            if (address) {
                st.marker = marker;
                st.waiting = true;
                return address;
            }
            bool hollow = false;
            record(step, marker, st.run.finish(step, std::nullopt, &marker, &hollow, &why), why);
            ++st.next;
            continue;
        }
        bool hollow = false;
        const std::optional<QString> v = st.run.value(step, &marker, &hollow, &why);
        if (v)
            st.run.write(step.to, *v, hollow);
        record(step, marker, v, why);
        ++st.next;
    }
    return std::nullopt;
}

void StepRun::answer(const std::optional<QString> &page, const QString &failure)
{
    State &st = *state_;
    if (!st.waiting)
        return;
    const Step &step = st.steps[st.next];
    QString marker = st.marker;
    QString why = page ? QString() : (failure.isEmpty() ? QStringLiteral("fetch failed") : failure);
    bool hollow = false;
    const std::optional<QString> v = st.run.finish(step, page, &marker, &hollow, &why);
    if (v)
        st.run.write(step.to, *v, hollow);
    record(step, marker, v, why);
    st.waiting = false;
    ++st.next;
}

StepsEnd StepRun::end() const
{
    return state_->run.end();
}

StepsEnd runSteps(const SiteDescription &site, Slots &rs, const ExtractorContext &ctx, QList<StepTrace> *trace)
{
    // Every fetch answered at once: one advance runs them all.
    StepRun run(site, rs, ctx, trace);
    while (const std::optional<QString> address = run.advance())
        run.answer(std::nullopt, QStringLiteral("fetch failed"));
    return run.end();
}

QHash<QString, QString> cutNamed(const SiteDescription &site, const QList<Step> &steps, const QString &text,
    const ExtractorContext &ctx, const QHash<QString, QString> &given)
{
    Slots rs;
    rs[SlotPage] = text.left(sitelimits::MaxValueUnits);
    Run run(site, rs, ctx);
    for (auto it = given.cbegin(); it != given.cend(); ++it)
        run.name(it.key(), it.value());
    for (const Step &step : steps) {
        if (!run.open())
            break;
        QString marker;
        QString why;
        bool hollow = false;
        // The loader refuses fetch steps here; one would be skipped.
        const std::optional<QString> v =
            step.input == Step::Fetch ? std::nullopt : run.value(step, &marker, &hollow, &why);
        if (v)
            run.write(step.to, *v, hollow);
    }
    return run.names();
}
