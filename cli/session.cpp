#include "session.h"

#include "address_check.h"
#include "fetch.h"
#include "site_registry.h"
#include "sites.h"

#include <QFile>
#include <QFileInfo>
#include <QTextStream>
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
    QFile file(d->origin == u"built-in" ? QStringLiteral(":/sites/") + d->file : d->origin);
    if (!file.open(QIODevice::ReadOnly))
        return usageError(QStringLiteral("cannot read %1").arg(file.fileName()));
    const QByteArray text = file.readAll();
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    return ExitOk;
}

void applyLimits(const CliOptions &o)
{
    if (o.stallTimeoutMs > 0)
        fetch::setTimeout(o.stallTimeoutMs);
    if (o.deadlineMs > 0)
        fetch::setDeadline(o.deadlineMs);
    if (o.lowSpeedLimit > 0)
        fetch::setLowSpeed(o.lowSpeedLimit, o.lowSpeedSeconds);
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
    applyLimits(o);
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
