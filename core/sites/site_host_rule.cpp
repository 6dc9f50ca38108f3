#include "site_host_rule.h"

#include <QSet>

namespace {

// The host variables a description names, each with the line that first names it.
QHash<QString, int> hostsUsed(const SiteDescription &d)
{
    QHash<QString, int> used;
    for (const Prefix &prefix : d.prefixes)
        used.insert(prefix.hostVariable, prefix.line);
    const auto add = [&](const Template &t, int line) {
        for (const Template::Part &part : t.parts) {
            if (part.kind == Template::Part::Host && !used.contains(part.text))
                used.insert(part.text, line);
        }
    };
    const auto addSteps = [&](const QList<Step> &steps) {
        for (const Step &step : steps) {
            add(step.address, step.line);
            for (const StepOp &op : step.ops)
                add(op.text, step.line);
        }
    };
    addSteps(d.steps);
    if (d.listing) {
        add(d.listing->first, d.listing->line);
        add(d.listing->then, d.listing->line);
        for (const QList<Step> *group : {&d.listing->about, &d.listing->work, &d.listing->next, &d.listing->link})
            addSteps(*group);
    }
    return used;
}

// The host variable each fetch step begins with (the loader made sure it begins with a prefix).
QList<std::pair<QString, int>> fetchHosts(const SiteDescription &d)
{
    QList<std::pair<QString, int>> hosts;
    for (const Step &step : d.steps) {
        if (step.input == Step::Fetch && !step.address.parts.isEmpty())
            hosts.append({d.prefixes.value(step.address.parts.first().text).hostVariable, step.line});
    }
    // An author's page and the listing's pages are fetched too.
    if (d.listing) {
        hosts.append({d.prefixes.value(d.listing->address).hostVariable, d.listing->line});
        for (const Template *t : {&d.listing->first, &d.listing->then}) {
            if (!t->parts.isEmpty())
                hosts.append({d.prefixes.value(t->parts.first().text).hostVariable, d.listing->line});
        }
    }
    return hosts;
}

QString pageHost(const SiteDescription &d)
{
    return d.prefixes.value(QStringLiteral("page")).hostVariable;
}

}  // namespace

bool completeHost(const QString &host)
{
    return !host.isEmpty() && !host.contains(u'/') && (host.contains(u'.') || host.contains(u':'));
}

std::optional<LoadError> foreignHost(const SiteDescription &own, const SiteDescription *builtIn, const Hosts &h)
{
    const QString whose =
        builtIn ? builtIn->name + QStringLiteral("'s built-in description") : QStringLiteral("a new service");
    QSet<QString> allowed {pageHost(builtIn ? *builtIn : own)};
    QSet<QString> fetchable = allowed;
    if (builtIn) {
        const QHash<QString, int> theirs = hostsUsed(*builtIn);
        for (auto it = theirs.cbegin(); it != theirs.cend(); ++it)
            allowed << it.key();
        for (const auto &[variable, line] : fetchHosts(*builtIn))
            fetchable << variable;
    }
    const QHash<QString, int> used = hostsUsed(own);
    for (auto it = used.cbegin(); it != used.cend(); ++it) {
        if (!allowed.contains(it.key()))
            return LoadError {it.value(), QStringLiteral("the host %1 is not one %2 uses").arg(it.key(), whose)};
    }
    for (const auto &[variable, line] : fetchHosts(own)) {
        if (!fetchable.contains(variable))
            return LoadError {line, QStringLiteral("a fetch from %1, where %2 never fetches").arg(variable, whose)};
        if (!completeHost(h.host(variable)))
            return LoadError {line, QStringLiteral("a fetch from %1, which is not a whole host name").arg(variable)};
    }
    return std::nullopt;
}
