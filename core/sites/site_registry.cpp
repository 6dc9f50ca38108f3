#include "sites/site_registry.h"

#include "pattern.h"
#include "site_host_rule.h"
#include "site_limits.h"
#include "sites/site_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// The service folders compiled in (sites/NAME/NAME.toml), one per selector index.
const char *const BuiltInNames[] = {"weishi", "meipai", "kuaishou", "weipai", "miaopai"};
static_assert(std::size(BuiltInNames) == SiteCount, "a built-in description for every selector index");

struct Registry {
    std::shared_ptr<const SiteSet> current;
    std::array<std::optional<SiteDescription>, SiteCount> builtIn;
    int builtInVersion = 0;
    QString overrideFolder;
    QStringList problems;  // every refusal, as written on standard error
    QStringList refusedFiles;
};

// A load begun by SiteDescriptionsPreload, on its own thread.
std::thread &preloading()
{
    static std::thread loader;
    return loader;
}
thread_local bool onPreloadThread = false;

// The registry, once a load begun on another thread has ended: every reader and writer
// passes here, so nothing sees it half made.
Registry &registry()
{
    static Registry r;
    if (!onPreloadThread && preloading().joinable())
        preloading().join();
    return r;
}

QByteArray readBuiltIn(const QString &path)
{
    QFile f(QStringLiteral(":/sites/") + path);
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

// The files of a folder on disk, each read like a description file.
SiteFileReader folderReader(const QString &folder)
{
    return [folder](const QString &path) -> std::optional<QByteArray> {
        LoadError ignored;
        return isFolderPath(path) ? readDescriptionFile(QDir(folder).filePath(path), &ignored) : std::nullopt;
    };
}

// The user's own description of a built-in one (FOLDER/NAME/NAME.toml with its examples, or
// FOLDER/NAME.toml), or no value (with a message) when there is none or it cannot be used.
std::optional<SiteDescription> overrideOf(
    const SiteDescription &builtIn, const QString &folder, const QString &fallback)
{
    QString path = QDir(folder).filePath(builtIn.name + u'/' + builtIn.file);
    struct stat there {};
    if (::lstat(QFile::encodeName(path).constData(), &there) != 0) {
        path = QDir(folder).filePath(builtIn.file);
        if (::lstat(QFile::encodeName(path).constData(), &there) != 0)
            return std::nullopt;  // no file of that name
    }
    LoadError error;
    std::optional<SiteDescription> own;
    if (const std::optional<QByteArray> bytes = readDescriptionFile(path, &error))
        own = parseSiteDescription(*bytes, builtIn.file, &error);
    if (own && own->index != builtIn.index) {
        error = {
            own->indexLine, QStringLiteral("index %1 is not the built-in's %2").arg(own->index).arg(builtIn.index)};
        own.reset();
    }
    if (own) {
        if (const std::optional<LoadError> foreign = foreignHost(*own, &builtIn, hosts())) {
            error = *foreign;
            own.reset();
        }
    }
    if (!own) {
        complain(path, error, fallback);
        return std::nullopt;
    }
    own->origin = path;
    own->readFile = folderReader(QFileInfo(path).absolutePath());
    return own;
}

// Two services may not share a name, nor page prefixes of which one begins the other (an
// address would belong to both). The reason names the other file and the line of its prefix.
std::optional<QString> clash(
    const SiteDescription &own, const std::array<std::optional<SiteDescription>, SiteCount> &set, const Hosts &h)
{
    const QString prefix = prefixAddress(own, QStringLiteral("page"), h);
    for (const std::optional<SiteDescription> &other : set) {
        if (!other || other->index == own.index)
            continue;
        const QString theirs = prefixAddress(*other, QStringLiteral("page"), h);
        const QString otherFile = other->origin == u"built-in" ? other->file : other->origin;
        if (other->name == own.name)
            return QStringLiteral("the name \"%1\" is also %2's").arg(own.name, otherFile);
        if (prefix.startsWith(theirs) || theirs.startsWith(prefix))
            return QStringLiteral("its page prefix %1 overlaps %2:%3's %4")
                .arg(prefix, otherFile)
                .arg(other->prefixes.value(QStringLiteral("page")).line)
                .arg(theirs);
    }
    return std::nullopt;
}

void loadBuiltIn(Registry &r)
{
    const Pattern::BuiltIn own;
    r.builtIn = {};
    for (const char *name : BuiltInNames) {
        const QString folder = QString::fromLatin1(name) + u'/';
        const QString file = QString::fromLatin1(name) + QStringLiteral(".toml");
        LoadError error;
        std::optional<SiteDescription> site = parseSiteDescription(readBuiltIn(folder + file), file, &error);
        if (!site) {
            complain(QStringLiteral(":/sites/") + folder + file, error, QStringLiteral("built-in file"));
            continue;
        }
        site->origin = QStringLiteral("built-in");
        site->readFile = [folder](const QString &path) -> std::optional<QByteArray> {
            QFile f(QStringLiteral(":/sites/") + folder + path);
            return isFolderPath(path) && f.open(QIODevice::ReadOnly) ? std::optional(f.readAll()) : std::nullopt;
        };
        r.builtIn[size_t(site->index)] = std::move(site);
    }
    // The built-in set's version: "version = N" in sites/set.toml.
    const QByteArray set = readBuiltIn(QStringLiteral("set.toml"));
    const qsizetype at = set.indexOf("version = ");
    r.builtInVersion = at < 0 ? 0 : set.mid(at + 10, set.indexOf('\n', at) - at - 10).trimmed().toInt();
}

// The verified set kept by the last update, checked again (signature, version above the
// built-in set's, every description loads); the set before it when the last one fails.
std::optional<SiteSet> storedSet(const Registry &r)
{
    cleanSiteStore();
    for (const QString &path : {siteStorePath(), previousSiteStorePath()}) {
        QString why;
        const std::optional<SignedSet> stored = readSignedSet(path, &why);
        if (!stored) {
            if (!why.isEmpty())
                complain(path, {0, why}, QStringLiteral("not used"));
            continue;
        }
        std::optional<sitebundle::SiteFiles> files;
        if (sitebundle::verify(stored->bundle, stored->signature, sitebundle::trustedKeys(), &why))
            files = sitebundle::unpack(stored->bundle, &why);
        if (files && files->version <= r.builtInVersion)
            why = QStringLiteral("set %1 is not newer than the built-in set %2")
                      .arg(files->version)
                      .arg(r.builtInVersion);
        std::optional<SiteSet> set;
        if (files && files->version > r.builtInVersion)
            set = descriptionsOf(std::make_shared<const sitebundle::SiteFiles>(std::move(*files)), &why);
        if (set)
            return set;
        complain(path, {0, why}, QStringLiteral("not used"));
    }
    return std::nullopt;
}

// The built-in description of a service name (the descriptions are loaded when they are not
// yet); nullptr for a new name.
const SiteDescription *builtInNamed(const QString &name)
{
    Registry &r = registry();
    if (std::none_of(r.builtIn.cbegin(), r.builtIn.cend(), [](const auto &s) { return s.has_value(); }))
        currentSites();
    for (const std::optional<SiteDescription> &site : r.builtIn) {
        if (site && site->name == name)
            return &*site;
    }
    return nullptr;
}

// With the built-in descriptions of the services a set leaves out, as it will be used, no two
// may share a name or a page prefix: the first clash, with the file and line of the prefix.
std::optional<QString> setClash(const SiteSet &set)
{
    std::array<std::optional<SiteDescription>, SiteCount> whole = set.sites;
    for (int index = 0; index < SiteCount; ++index) {
        if (!whole[size_t(index)])
            whole[size_t(index)] = registry().builtIn[size_t(index)];
    }
    for (const std::optional<SiteDescription> &site : set.sites) {
        if (!site)
            continue;
        if (const std::optional<QString> clashes = clash(*site, whole, hosts()))
            return QStringLiteral("%1/%2:%3: %4")
                .arg(site->name, site->file)
                .arg(site->prefixes.value(QStringLiteral("page")).line)
                .arg(*clashes);
    }
    return std::nullopt;
}

// What is used in place of a refused override.
QString fallbackText(const SiteDescription &next)
{
    return next.origin == u"built-in"
        ? QStringLiteral("the built-in description is used")
        : QStringLiteral("the description of ") + next.origin + QStringLiteral(" is used");
}

}  // namespace

QString userSitesFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
        QStringLiteral("/quorvin-video-helper/sites");
}

std::optional<SiteSet> descriptionsOf(const std::shared_ptr<const sitebundle::SiteFiles> &files, QString *why)
{
    SiteSet set;
    set.version = files->version;
    const QString origin = QStringLiteral("update %1 of %2").arg(files->version).arg(files->date);
    for (const char *name : BuiltInNames) {
        const QString folder = QString::fromLatin1(name) + u'/';
        const QString file = QString::fromLatin1(name) + QStringLiteral(".toml");
        if (!files->files.contains(folder + file))
            continue;
        LoadError error;
        std::optional<SiteDescription> site = parseSiteDescription(files->files.value(folder + file), file, &error);
        if (!site) {
            *why = QStringLiteral("%1%2:%3: %4").arg(folder, file).arg(error.line).arg(error.reason);
            return std::nullopt;
        }
        if (site->name != QLatin1String(name)) {
            *why = QStringLiteral("%1%2 describes \"%3\"").arg(folder, file, site->name);
            return std::nullopt;
        }
        // A set mends the services there are: each description keeps its namesake's place.
        const SiteDescription *namesake = builtInNamed(site->name);
        if (namesake && site->index != namesake->index) {
            *why = QStringLiteral("%1%2:%3: index %4 is not the built-in's %5")
                       .arg(folder, file)
                       .arg(site->indexLine)
                       .arg(site->index)
                       .arg(namesake->index);
            return std::nullopt;
        }
        if (const std::optional<LoadError> foreign = foreignHost(*site, namesake, hosts())) {
            *why = QStringLiteral("%1%2:%3: %4").arg(folder, file).arg(foreign->line).arg(foreign->reason);
            return std::nullopt;
        }
        site->origin = origin;
        site->readFile = [files, folder](const QString &path) -> std::optional<QByteArray> {
            const auto it = files->files.constFind(folder + path);
            return it == files->files.cend() ? std::nullopt : std::optional(*it);
        };
        const size_t index = size_t(site->index);
        if (set.sites[index]) {
            *why = QStringLiteral("two descriptions of the service %1").arg(index);
            return std::nullopt;
        }
        set.sites[index] = std::move(site);
    }
    if (std::none_of(set.sites.cbegin(), set.sites.cend(), [](const auto &s) { return s.has_value(); })) {
        *why = QStringLiteral("the set holds no description");
        return std::nullopt;
    }
    if (const std::optional<QString> clashes = setClash(set)) {
        *why = *clashes;
        return std::nullopt;
    }
    return set;
}

void loadSiteDescriptions(const QString &overrideFolder)
{
    Q_INIT_RESOURCE(sites);
    Registry &r = registry();
    r.problems.clear();
    r.refusedFiles.clear();
    r.overrideFolder = overrideFolder;
    loadBuiltIn(r);
    // The set before is let go now (an extraction that runs keeps its own), so that its
    // descriptions' patterns do not count against the new ones'.
    r.current.reset();
    SiteSet set;
    set.version = r.builtInVersion;
    const std::optional<SiteSet> update = storedSet(r);
    if (update)
        set.version = update->version;
    // A service's description when no override is used: the verified set's, else the built-in.
    const auto withoutOverride = [&](int index) {
        return update && update->sites[size_t(index)] ? update->sites[size_t(index)] : r.builtIn[size_t(index)];
    };
    for (int index = 0; index < SiteCount; ++index) {
        std::optional<SiteDescription> &site = set.sites[size_t(index)];
        site = withoutOverride(index);
        if (!site || overrideFolder.isEmpty())
            continue;
        const qsizetype before = r.problems.size();
        if (std::optional<SiteDescription> own = overrideOf(*site, overrideFolder, fallbackText(*site)))
            site = std::move(own);
        if (r.problems.size() > before)
            r.refusedFiles << site->file;
    }
    // The set as a whole: an override that clashes with another service gives way.
    const Hosts &h = hosts();
    for (int index = 0; index < SiteCount; ++index) {
        std::optional<SiteDescription> &site = set.sites[size_t(index)];
        if (!site || site->origin == u"built-in" || site->origin.startsWith(u"update "))
            continue;
        if (const std::optional<QString> why = clash(*site, set.sites, h)) {
            const QString path = site->origin;
            const int line = site->prefixes.value(QStringLiteral("page")).line;
            r.refusedFiles << site->file;
            site = withoutOverride(index);
            complain(path, {line, *why}, fallbackText(*site));
        }
    }
    r.current = std::make_shared<const SiteSet>(std::move(set));
}

SiteDescriptionsPreload::SiteDescriptionsPreload()
{
    registry();  // a load begun before has ended
    preloading() = std::thread([folder = userSitesFolder()] {
        onPreloadThread = true;
        loadSiteDescriptions(folder);
    });
}

SiteDescriptionsPreload::~SiteDescriptionsPreload()
{
    registry();
}

void reloadSiteDescriptions()
{
    loadSiteDescriptions(registry().overrideFolder);
}

QStringList refusedSiteFiles()
{
    currentSites();
    return registry().refusedFiles;
}

std::shared_ptr<const SiteSet> currentSites()
{
    Registry &r = registry();
    if (!r.current)
        loadSiteDescriptions(userSitesFolder());
    return r.current;
}

const SiteDescription *siteDescription(int site)
{
    return currentSites()->get(site);
}

int builtInSetVersion()
{
    currentSites();
    return registry().builtInVersion;
}

QString sitePrefix(int site, const QString &key, const Hosts &h)
{
    const SiteDescription *d = siteDescription(site);
    return d && d->prefixes.contains(key) ? prefixAddress(*d, key, h) : QString();
}
