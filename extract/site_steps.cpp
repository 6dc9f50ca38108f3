// Running a description's steps on the result record. Each step reads one value, applies its
// operations in order and writes one value; a piece, a from_marker or a fetch that finds
// nothing skips the step, and its slot keeps what it held.
#include "site_registry.h"
#include "textcuts.h"

#include <QHash>

namespace {

class Run {
public:
    Run(const SiteDescription &site, Slots &rs, const ExtractorContext &ctx) : site_(site), rs_(rs), ctx_(ctx) {}

    // hollow: set when a slot or named value in the template is empty.
    QString expand(const Template &t, bool *hollow = nullptr) const
    {
        QString out;
        for (const Template::Part &part : t.parts) {
            const QString *value = nullptr;
            QString named;
            switch (part.kind) {
            case Template::Part::Literal: out += part.text; break;
            case Template::Part::Slot: value = &rs_[part.slot]; break;
            case Template::Part::Name:
                named = names_.value(part.text);
                value = &named;
                break;
            case Template::Part::Prefix: out += prefixAddress(site_, part.text, ctx_.hosts); break;
            case Template::Part::Host: out += ctx_.hosts.host(part.text); break;
            }
            if (value) {
                out += *value;
                if (hollow && value->isEmpty())
                    *hollow = true;
            }
        }
        return out;
    }

    QString read(const ValueRef &ref) const
    {
        if (ref.slot >= 0)
            return rs_[ref.slot];
        return ref.name == u"address" ? ctx_.currentAddress() : names_.value(ref.name);
    }

    void write(const ValueRef &ref, const QString &value, bool hollow)
    {
        if (ref.slot >= 0) {
            rs_[ref.slot] = value;
            if (ctx_.builtFromEmpty)
                ctx_.builtFromEmpty->set(size_t(ref.slot), hollow);
        } else {
            names_.insert(ref.name, value);
        }
    }

    // The step's value, or none when it is skipped; marker: what it looked for first;
    // hollow: the value joins fixed text to an empty value.
    std::optional<QString> value(const Step &step, QString *marker, bool *hollow)
    {
        std::optional<QString> v;
        switch (step.input) {
        case Step::FromValue: v = read(step.from); break;
        case Step::Text: v = expand(step.address, hollow); break;
        case Step::Fetch:
            *marker = expand(step.address);
            v = ctx_.GetBody(*marker);
            break;
        }
        for (const StepOp &op : step.ops) {
            if (!v)
                break;
            if ((op.kind == StepOp::Prepend || op.kind == StepOp::Append) && v->isEmpty())
                *hollow = true;
            v = apply(op, *v, marker);
        }
        return v;
    }

private:
    std::optional<QString> apply(const StepOp &op, const QString &v, QString *marker) const
    {
        using namespace cuts;
        const QString text = op.kind == StepOp::Preg ? QString() : expand(op.text);
        if ((op.kind == StepOp::Piece || op.kind == StepOp::FromMarker) && marker->isEmpty())
            *marker = text;
        switch (op.kind) {
        case StepOp::Piece: return piece1(v, text);
        case StepOp::FromMarker: return restFrom(v, text);
        case StepOp::Cut: return cutAt(v, text);
        case StepOp::UpTo: return upToPosition(v, text);
        case StepOp::Trim: return trimmedSpaces(v);
        case StepOp::Remove: return removeAll(v, text);
        case StepOp::Replace: return QString(v).replace(text, op.replacement);
        case StepOp::Preg: return QString(v).replace(op.pattern, op.replacement);
        case StepOp::Prepend: return text + v;
        case StepOp::Append: return v + text;
        }
        return v;
    }

    const SiteDescription &site_;
    Slots &rs_;
    const ExtractorContext &ctx_;
    QHash<QString, QString> names_;  // the values steps named, for this extraction only
};

QString refText(const ValueRef &ref)
{
    return ref.slot >= 0 ? QString::number(ref.slot) : ref.name;
}

}  // namespace

void runSteps(const SiteDescription &site, Slots &rs, const ExtractorContext &ctx, QList<StepTrace> *trace)
{
    Run run(site, rs, ctx);
    for (const Step &step : site.steps) {
        QString marker;
        bool hollow = false;
        const std::optional<QString> v = run.value(step, &marker, &hollow);
        if (v)
            run.write(step.to, *v, hollow);
        if (trace)
            trace->append({step.line, refText(step.to), marker, bool(v), v.value_or(QString())});
    }
}
