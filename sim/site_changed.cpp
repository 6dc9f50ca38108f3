#include "site_changed.h"

#include "sites/site_bundle.h"
#include "sites/site_registry.h"

#include <QDate>
#include <QFile>

bool hasMendedDescription(const QString &site)
{
    Q_INIT_RESOURCE(site_changed);
    return QFile::exists(QStringLiteral(":/site-changed/%1/%1.toml").arg(site));
}

std::optional<PublishedSet> mendedSet(const QString &site, const QString &keyFile, bool tampered, QString *why)
{
    QFile key(keyFile);
    if (!key.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("cannot read the key file %1").arg(keyFile);
        return std::nullopt;
    }
    sitebundle::SiteFiles set;
    set.version = builtInSetVersion() + 1;
    set.date = QDate::currentDate().toString(Qt::ISODate);
    // The built-in set, with the mended description and the example of the changed page
    // laid over it: the examples of the pages before the change stay.
    set.files = sitebundle::filesIn(QStringLiteral(":/sites"));
    set.files.insert(sitebundle::filesIn(QStringLiteral(":/site-changed"), site + u'/'));
    PublishedSet published {sitebundle::pack(set), {}};
    const std::optional<QByteArray> signature = sitebundle::sign(published.bundle, key.readAll());
    if (!signature) {
        *why = QStringLiteral("%1 is not a secret key").arg(keyFile);
        return std::nullopt;
    }
    published.signature = *signature + '\n';
    if (tampered)
        published.bundle[published.bundle.size() / 2] = char(published.bundle.at(published.bundle.size() / 2) ^ 0x01);
    return published;
}
