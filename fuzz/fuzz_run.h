// The set-up the description fuzz targets share: a description's steps run on a page, on a
// record of their own, every host on one that never answers.
#pragma once

#include "record/extractor.h"
#include "sites/site_registry.h"

#include <functional>
#include <optional>

// Runs site's steps on page; each fetch step is answered by answer (given the address and the
// record as it is at that moment), the address box holds a share address.
inline void runOnPage(const SiteDescription &site, const QString &page,
    const std::function<std::optional<QString>(const QString &address, const Slots &rs)> &answer)
{
    static const Hosts hosts = Hosts::allOn(QStringLiteral("127.0.0.1:1"));
    Slots rs;
    rs[SlotPage] = page;
    const ExtractorContext ctx {[&](const QString &address) { return answer(address, rs); },
        [] { return QStringLiteral("http://127.0.0.1:1/media/1"); }, hosts};
    runSteps(site, rs, ctx);
}
