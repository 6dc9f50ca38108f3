#include "site_registry.h"

#include "site_limits.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char *const BuiltInFiles[] = {"weishi.toml", "meipai.toml", "kuaishou.toml", "weipai.toml", "miaopai.toml"};

struct Registry {
    std::array<std::optional<SiteDescription>, SiteCount> sites;
    std::array<std::optional<SiteDescription>, SiteCount> builtIn;
    QStringList problems;  // every refusal, as written on standard error
    QStringList refusedFiles;
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
    QString where = path;
    if (error.line > 0)
        where +=
            u':' + QString::number(error.line) + (error.column > 0 ? u':' + QString::number(error.column) : QString());
    const QString message = where + QStringLiteral(": ") + error.reason + QStringLiteral("; ") + fallback;
    registry().problems << message;
    std::fprintf(stderr, "quorvin: %s\n", message.toUtf8().constData());
}

// A user's description file, read the way nothing else can block or flood the program: opened
// without waiting (a FIFO never holds the reader), only a regular file (a link to one is
// followed), at most the size cap.
std::optional<QByteArray> readDescriptionFile(const QString &path, LoadError *error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = {0, QStringLiteral("cannot be read: ") + QString::fromLocal8Bit(std::strerror(errno))};
        return std::nullopt;
    }
    struct stat info {};
    QFile file;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        *error = {0, QStringLiteral("not a regular file")};
        return std::nullopt;
    }
    if (info.st_size > sitelimits::MaxFileBytes || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        *error = {0, QStringLiteral("larger than 1 MiB")};
        return std::nullopt;
    }
    QByteArray bytes = file.read(sitelimits::MaxFileBytes + 1);
    if (bytes.size() > sitelimits::MaxFileBytes) {
        *error = {0, QStringLiteral("larger than 1 MiB")};
        return std::nullopt;
    }
    return bytes;
}

// The user's own description of a built-in one, or no value (with a message) when there is
// none or it cannot be used.
std::optional<SiteDescription> overrideOf(const SiteDescription &builtIn, const QString &path)
{
    struct stat there {};
    if (::lstat(QFile::encodeName(path).constData(), &there) != 0)
        return std::nullopt;  // no file of that name
    LoadError error;
    std::optional<SiteDescription> own;
    if (const std::optional<QByteArray> bytes = readDescriptionFile(path, &error))
        own = parseSiteDescription(*bytes, builtIn.file, &error);
    if (own && own->index != builtIn.index) {
        error = {0, QStringLiteral("index %1 is not the built-in's %2").arg(own->index).arg(builtIn.index)};
        own.reset();
    }
    if (!own) {
        complain(path, error, QStringLiteral("the built-in description is used"));
        return std::nullopt;
    }
    own->origin = path;
    return own;
}

// Two services may not share a name, nor page prefixes of which one begins the other (an
// address would belong to both): an override that clashes with another service is dropped.
std::optional<QString> clash(const SiteDescription &own, const Registry &r, const Hosts &h)
{
    const QString prefix = prefixAddress(own, QStringLiteral("page"), h);
    for (const std::optional<SiteDescription> &other : r.sites) {
        if (!other || other->index == own.index)
            continue;
        const QString theirs = prefixAddress(*other, QStringLiteral("page"), h);
        const QString otherFile = other->origin == u"built-in" ? other->file : other->origin;
        if (other->name == own.name)
            return QStringLiteral("the name \"%1\" is also %2's").arg(own.name, otherFile);
        if (prefix.startsWith(theirs) || theirs.startsWith(prefix))
            return QStringLiteral("its page prefix %1 overlaps %2's %3").arg(prefix, otherFile, theirs);
    }
    return std::nullopt;
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
    r.builtIn = {};
    r.problems.clear();
    r.refusedFiles.clear();
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
        const int index = site->index;
        r.builtIn[index] = site;
        const qsizetype before = r.problems.size();
        std::optional<SiteDescription> own =
            overrideFolder.isEmpty() ? std::nullopt : overrideOf(*site, QDir(overrideFolder).filePath(site->file));
        if (r.problems.size() > before)
            r.refusedFiles << site->file;
        r.sites[index] = own ? std::move(own) : std::move(site);
    }
    // The set as a whole: an override that clashes with another service gives way to the
    // built-in description.
    const Hosts &h = hosts();
    for (std::optional<SiteDescription> &site : r.sites) {
        if (!site || site->origin == u"built-in")
            continue;
        if (const std::optional<QString> why = clash(*site, r, h)) {
            complain(site->origin, {0, *why}, QStringLiteral("the built-in description is used"));
            r.refusedFiles << site->file;
            site = r.builtIn[site->index];
        }
    }
}

QStringList refusedSiteFiles()
{
    siteDescription(0);
    return registry().refusedFiles;
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
