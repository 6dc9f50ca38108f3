#include "extract/site_update.h"

#include "net/fetch.h"
#include "extract/site_examples.h"
#include "sites/site_store.h"

namespace {

SiteUpdateResult refused(const QString &reason)
{
    return {SiteUpdateResult::Refused, reason, 0};
}

std::optional<QByteArray> fetched(
    const fetch::Result &answer, const QString &url, QString *why, bool *missing = nullptr)
{
    if (answer.ok && answer.status < 400)
        return answer.body;
    if (missing)
        *missing = answer.ok && (answer.status == 404 || answer.status == 410);
    *why = QStringLiteral("cannot fetch %1: %2")
               .arg(url, answer.ok ? QStringLiteral("HTTP status ") + QString::number(answer.status) : answer.error);
    return std::nullopt;
}

SiteUpdateResult takeSet(const QByteArray &bundle, const QByteArray &signature);

// The version of the set stored on disk now; 0 when there is none that verifies.
int storedVersion()
{
    QString why;
    const std::optional<SignedSet> stored = readSignedSet(siteStorePath());
    if (!stored || !sitebundle::verify(stored->bundle, stored->signature, sitebundle::trustedKeys(), &why))
        return 0;
    const std::optional<sitebundle::SiteFiles> files = sitebundle::unpack(stored->bundle, &why);
    return files ? files->version : 0;
}

}  // namespace

SiteUpdateResult checkSiteSet(const QByteArray &bundle, const QByteArray &signature, std::optional<SiteSet> *set)
{
    QString why;
    if (bundle.size() > sitebundle::MaxBundleBytes)
        return refused(QStringLiteral("larger than 4 MiB"));
    // Nothing of the file is read before its signature is known to be good.
    if (!sitebundle::verify(bundle, signature, sitebundle::trustedKeys(), &why))
        return refused(why);
    std::optional<sitebundle::SiteFiles> files = sitebundle::unpack(bundle, &why);
    if (!files)
        return refused(why);
    const int inUse = std::max(currentSites()->version, builtInSetVersion());
    if (files->version <= inUse)
        return {SiteUpdateResult::Current,
            QStringLiteral("set %1 is not newer than set %2 in use").arg(files->version).arg(inUse), inUse};
    const int version = files->version;
    *set = descriptionsOf(std::make_shared<const sitebundle::SiteFiles>(std::move(*files)), &why);
    if (!*set)
        return refused(why);
    for (const std::optional<SiteDescription> &site : (*set)->sites) {
        if (!site)
            continue;
        for (const ExampleOutcome &outcome : runExamples(*site)) {
            if (!outcome.passed()) {
                const QString reason = QStringLiteral("example %1/%2").arg(site->name, describeOutcome(outcome));
                set->reset();  // frees site: the reason is made first
                return refused(reason);
            }
        }
    }
    return {SiteUpdateResult::Updated, QString(), version};
}

void updateSites(const Hosts &h, QObject *context, std::function<void(const SiteUpdateResult &)> done)
{
    if (sitebundle::trustedKeys().isEmpty()) {
        done({SiteUpdateResult::NotPublished, QStringLiteral("this build trusts no key"), 0});
        return;
    }
    const QString url = h.SitesBundleUrl;
    fetch::getLater(url, sitebundle::MaxBundleBytes, context, [url, context, done](const fetch::Result &answer) {
        QString why;
        bool missing = false;
        const std::optional<QByteArray> bundle = fetched(answer, url, &why, &missing);
        if (missing || !bundle) {
            done(missing ? SiteUpdateResult {SiteUpdateResult::NotPublished, QString(), 0} : refused(why));
            return;
        }
        const QString sigUrl = url + QStringLiteral(".sig");
        fetch::getLater(
            sigUrl, sitebundle::MaxBundleBytes, context, [sigUrl, bundle, done](const fetch::Result &sigAnswer) {
                QString sigWhy;
                const std::optional<QByteArray> signature = fetched(sigAnswer, sigUrl, &sigWhy);
                done(signature ? takeSet(*bundle, *signature) : refused(sigWhy));
            });
    });
}

namespace {

SiteUpdateResult takeSet(const QByteArray &bundle, const QByteArray &signature)
{
    QString why;
    std::optional<SiteSet> set;
    SiteUpdateResult result = checkSiteSet(bundle, signature, &set);
    if (result.kind != SiteUpdateResult::Updated)
        return result;
    switch (storeSignedSet({bundle, signature}, &why)) {
    case StoreOutcome::Stored: break;
    case StoreOutcome::Failed: return refused(why);
    case StoreOutcome::Busy: {
        // Another update stores a set now; when it is this one, it is the set in use.
        const int stored = storedVersion();
        if (stored >= result.version)
            return {SiteUpdateResult::Current, QStringLiteral("set %1 is in use").arg(stored), stored};
        return refused(why);
    }
    }
    reloadSiteDescriptions();
    return result;
}

}  // namespace

QString describeUpdate(const SiteUpdateResult &r)
{
    switch (r.kind) {
    case SiteUpdateResult::Updated: return QStringLiteral("description set %1 taken").arg(r.version);
    case SiteUpdateResult::Current: return QStringLiteral("description set is current (%1)").arg(r.reason);
    case SiteUpdateResult::NotPublished:
        return r.reason.isEmpty() ? QStringLiteral("no description set is published")
                                  : QStringLiteral("no description set is fetched: ") + r.reason;
    case SiteUpdateResult::Refused: break;
    }
    return QStringLiteral("description set refused: ") + r.reason;
}
