// Taking a signed set of descriptions: fetched beside the version file, and used only when
// its signature is of a trusted key, it is newer than the set in use and than the built-in
// one, every description in it loads and every example passes. Anything else leaves the set
// in use as it is.
#pragma once

#include "record/hosts.h"
#include "sites/site_registry.h"

#include <QObject>
#include <QString>
#include <functional>

struct SiteUpdateResult {
    // NotPublished: there is nothing to take (no set published, or a build that trusts no key
    // and so fetches none); not a refusal.
    enum Kind { Updated, Current, Refused, NotPublished } kind = Refused;
    QString reason;  // for a refusal, and what is in use when current
    int version = 0;
};

// Checks a set as fetched; on success set holds its descriptions. Writes nothing.
SiteUpdateResult checkSiteSet(const QByteArray &bundle, const QByteArray &signature, std::optional<SiteSet> *set);

// Fetches the set and its signature (h.SitesBundleUrl and + ".sig", each at most 4 MiB under
// the fetch rule), checks it, stores it and loads the descriptions again; done gets how it
// went, on the event loop (at once when nothing is fetched), unless context is gone.
void updateSites(const Hosts &h, QObject *context, std::function<void(const SiteUpdateResult &)> done);

// One line for standard error: "description set 3 taken", "... refused: the signature ...".
QString describeUpdate(const SiteUpdateResult &result);
