#include "site_registry.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <array>
#include <cstdio>
#include <optional>

namespace {

const char *const BuiltInFiles[] = {"weishi.toml", "meipai.toml", "kuaishou.toml", "weipai.toml", "miaopai.toml"};

struct Registry {
    std::array<std::optional<SiteDescription>, SiteCount> sites;
    bool loaded = false;
};

Registry &registry()
{
    static Registry r;
    return r;
}

QByteArray readBuiltIn(const char *file)
{
    QFile f(QStringLiteral(":/sites/") + QString::fromLatin1(file));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void complain(const QString &path, const LoadError &error, const QString &fallback)
{
    const QString where = error.line > 0 ? QStringLiteral("%1:%2").arg(path).arg(error.line) : path;
    std::fprintf(stderr, "quorvin: %s: %s; %s\n", where.toUtf8().constData(), error.reason.toUtf8().constData(),
        fallback.toUtf8().constData());
}

}  // namespace

QString userSitesFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
        QStringLiteral("/quorvin-video-helper/sites");
}

void loadSiteDescriptions(const QString &overrideFolder)
{
    Q_INIT_RESOURCE(sites);
    Registry &r = registry();
    r.sites = {};
    r.loaded = true;
    for (const char *file : BuiltInFiles) {
        LoadError error;
        std::optional<SiteDescription> site =
            parseSiteDescription(readBuiltIn(file), QString::fromLatin1(file), &error);
        if (!site) {
            complain(QStringLiteral(":/sites/") + QString::fromLatin1(file), error, QStringLiteral("built-in file"));
            continue;
        }
        site->origin = QStringLiteral("built-in");
        const QString path = overrideFolder.isEmpty() ? QString() : QDir(overrideFolder).filePath(site->file);
        if (!path.isEmpty() && QFileInfo(path).isFile()) {
            QFile f(path);
            std::optional<SiteDescription> own;
            if (f.open(QIODevice::ReadOnly) && f.size() <= qint64(1024) * 1024)
                own = parseSiteDescription(f.readAll(), site->file, &error);
            else
                error = {0, QStringLiteral("cannot be read")};
            if (own && own->index != site->index) {
                error = {0, QStringLiteral("index %1 is not the built-in's %2").arg(own->index).arg(site->index)};
                own.reset();
            }
            if (own) {
                own->origin = path;
                site = std::move(own);
            } else {
                complain(path, error, QStringLiteral("the built-in description is used"));
            }
        }
        const int index = site->index;
        r.sites[index] = std::move(site);
    }
}

const SiteDescription *siteDescription(int site)
{
    Registry &r = registry();
    if (!r.loaded)
        loadSiteDescriptions(userSitesFolder());
    if (site < 0 || site >= SiteCount || !r.sites[site])
        return nullptr;
    return &*r.sites[site];
}

QString sitePrefix(int site, const QString &key, const Hosts &h)
{
    const SiteDescription *d = siteDescription(site);
    return d && d->prefixes.contains(key) ? prefixAddress(*d, key, h) : QString();
}
