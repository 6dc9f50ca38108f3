// The five services as their descriptions describe them: the built-in files (compiled in),
// each replaced by a file of the same name in the user's folder when that file loads.
#pragma once

#include "extractor.h"
#include "site_description.h"
#include "sites.h"

#include <QList>

// The folder whose files replace the built-in descriptions:
// $XDG_CONFIG_HOME/quorvin-video-helper/sites.
QString userSitesFolder();

// Loads the descriptions now, from the built-in files and overrideFolder (empty: none). A
// file that does not load is reported on standard error with its path, line and reason,
// and the built-in description is used. Without a call, the first use loads them with the
// user's folder.
void loadSiteDescriptions(const QString &overrideFolder);

// The description files refused at the last load ("meipai.toml"), for the window's status
// line; each was reported on standard error with its path, line, column and reason.
QStringList refusedSiteFiles();

// The description of the service of a selector index; nullptr for an unknown index.
const SiteDescription *siteDescription(int site);

// The prefix of a service ("page", "avatar"...), as an address.
QString sitePrefix(int site, const QString &key, const Hosts &h);

// Runs the steps of the service of a site index; false for an unknown index.
bool extractSite(int site, Slots &rs, const ExtractorContext &ctx);

// Runs a service's steps on the record. With trace, each step that ran is recorded.
void runSteps(const SiteDescription &site, Slots &rs, const ExtractorContext &ctx, QList<StepTrace> *trace = nullptr);
