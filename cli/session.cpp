#include "session.h"

#include "extract/address_check.h"
#include "net/fetch.h"
#include "net/network_policy.h"
#include "net/host_slots.h"
#include "net/proxy.h"
#include "net/rate_limit.h"
#include "extract/site_examples.h"
#include "sites/site_registry.h"
#include "extract/site_update.h"
#include "sites/sites.h"
#include "terminal_text.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <QTimer>
#include <cstdio>

namespace {

void listSites()
{
    QTextStream out(stdout);
    for (int site = 0; site < SiteCount; ++site) {
        if (const SiteDescription *d = siteDescription(site))
            out << site << "  " << d->name << "  " << d->caption << "  " << d->file << "  " << d->origin << "\n";
    }
}

int showSite(const QString &name)
{
    const SiteDescription *d = siteDescription(siteFromName(name));
    if (!d)
        return usageError(QStringLiteral("unknown site \"%1\"").arg(name));
    const std::optional<QByteArray> text = d->readFile ? d->readFile(d->file) : std::nullopt;
    if (!text)
        return usageError(QStringLiteral("cannot read %1 (%2)").arg(d->file, d->origin));
    std::fwrite(text->constData(), 1, size_t(text->size()), stdout);
    return ExitOk;
}

// Each example of one description or of all: "meipai examples/plain.html: pass".
int checkSites(const QString &name)
{
    QList<int> chosen;
    for (int site = 0; site < SiteCount; ++site) {
        if (name == u"all" || site == siteFromName(name))
            chosen << site;
    }
    if (chosen.isEmpty())
        return usageError(QStringLiteral("unknown site \"%1\"").arg(name));
    const std::shared_ptr<const SiteSet> set = currentSites();
    QTextStream out(stdout);
    bool allPassed = true;
    for (const int site : chosen) {
        const SiteDescription *d = set->get(site);
        if (!d) {
            out << siteName(site) << ": no description\n";
            allPassed = false;
            continue;
        }
        for (const ExampleOutcome &outcome : runExamples(*d)) {
            out << d->name << " " << forTerminal(describeOutcome(outcome)) << "\n";
            allPassed = allPassed && outcome.passed();
        }
    }
    return allPassed ? ExitOk : 1;
}

int updateSitesNow(const Hosts &h)
{
    // The run's one event loop, for the set's two fetches.
    QObject context;
    updateSites(h, &context, [](const SiteUpdateResult &result) {
        QTextStream(stderr) << "quorvin-extract: " << forTerminal(describeUpdate(result)) << "\n";
        const int status = result.kind == SiteUpdateResult::Refused ? 1 : ExitOk;
        QTimer::singleShot(0, qApp, [status] { QCoreApplication::exit(status); });
    });
    return QCoreApplication::exec();
}

// The run's network policy, made once before its first request: the limits of a transfer
// and what the options chose (unset ones keep their defaults).
void applyLimits(const CliOptions &o)
{
    fetch::NetworkPolicy::Limits limits;
    limits.stallMs = o.stallTimeoutMs;
    limits.deadlineMs = o.deadlineMs;
    if (o.lowSpeedLimit > 0) {
        limits.lowSpeedBytes = o.lowSpeedLimit;
        limits.lowSpeedSeconds = o.lowSpeedSeconds;
    }
    fetch::policy().setLimits(limits);
    fetch::NetworkPolicy::Choice choice;
    if (o.connections > 0)
        choice.connectionsPerHost = o.connections;
    choice.rateLimit = o.rateLimit;
    choice.proxy = o.proxy;
    fetch::policy().apply(choice);
    fetch::policy().setRequestExtras(o.requestExtras);
}

}  // namespace

std::optional<int> prepareSession(CliOptions &o)
{
    // The descriptions first: --site names a service by its description.
    if (o.sitesDirGiven && !QFileInfo(o.sitesDir).isDir())
        return usageError(QStringLiteral("--sites-dir: no folder %1").arg(o.sitesDir));
    loadSiteDescriptions(o.sitesDirGiven ? o.sitesDir : userSitesFolder());
    if (o.listSites) {
        listSites();
        return ExitOk;
    }
    if (!o.showSite.isEmpty())
        return showSite(o.showSite);
    if (!o.checkSite.isEmpty())
        return checkSites(o.checkSite);
    applyLimits(o);
    if (o.updateSites)
        return updateSitesNow(o.table);
    if (!o.siteName.isEmpty() && o.siteName != u"auto") {
        o.site = siteFromName(o.siteName);
        if (o.site < 0)
            return usageError(QStringLiteral("unknown site \"%1\"").arg(o.siteName));
    }
    // A share message as an app writes it: the address is taken out of the text around it.
    for (QString &address : o.addresses) {
        if (const QString found = shareAddressIn(address, o.table); !found.isEmpty())
            address = found;
    }
    return std::nullopt;
}
