#include "sites/sites.h"

#include "sites/site_registry.h"

bool extractSite(int site, Slots &rs, const ExtractorContext &ctx)
{
    // The set stays alive until the steps are done, whatever replaces it meanwhile.
    const std::shared_ptr<const SiteSet> set = currentSites();
    const SiteDescription *d = set->get(site);
    if (!d)
        return false;
    runSteps(*d, rs, ctx, ctx.trace);
    return true;
}

QString siteCaption(int site)
{
    const SiteDescription *d = siteDescription(site);
    return d ? d->caption : QString();
}

QString siteChosenText(int site)
{
    return QStringLiteral("您当前选择的是") + siteCaption(site) + QStringLiteral("视频提取..");
}

int siteFromName(const QString &name)
{
    for (int i = 0; i < SiteCount; ++i) {
        const SiteDescription *d = siteDescription(i);
        if ((d && name == d->name) || name == QString::number(i))
            return i;
    }
    return -1;
}

QString siteName(int site)
{
    const SiteDescription *d = siteDescription(site);
    return d ? d->name : QString();
}
