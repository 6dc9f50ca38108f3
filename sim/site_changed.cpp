#include "site_changed.h"

#include "site_bundle.h"
#include "site_registry.h"

#include <QDate>
#include <QDirIterator>
#include <QFile>

namespace {

// The files under root (those of folder only, when given), by their path below it.
void addFiles(sitebundle::SiteFiles &set, const QString &root, const QString &folder = QString())
{
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next().mid(root.size() + 1);
        QFile file(it.filePath());
        if (path.contains(u'/') && path.startsWith(folder) && file.open(QIODevice::ReadOnly))
            set.files.insert(path, file.readAll());
    }
}

}  // namespace

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
    addFiles(set, QStringLiteral(":/sites"));
    addFiles(set, QStringLiteral(":/site-changed"), site + u'/');
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
