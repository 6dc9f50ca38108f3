#include "options.h"

#include "address_check.h"
#include "fetch.h"
#include "site_registry.h"
#include "sites.h"

#include <QCommandLineParser>
#include <QFile>
#include <QTextStream>
#include <cstdio>

namespace {

const char Usage[] = "Usage: quorvin-extract [--site SITE] [--json] [--download [-o DIR]] [--all-hosts HOST[:PORT]]\n"
                     "                       [-a FILE] ADDRESS... | -\n"
                     "\n"
                     "Extracts the video link and details from share pages, the way the window does, one\n"
                     "address after the other, each from an empty result record.\n"
                     "\n"
                     "  --site SITE            weishi, meipai, kuaishou, weipai, miaopai, 0-4, or auto\n"
                     "                         (the default): each address gets the service whose page\n"
                     "                         prefix it starts with\n"
                     "  -a, --batch-file FILE  read addresses from FILE, one a line (blank lines and lines\n"
                     "                         starting with # are skipped); - as an address reads them\n"
                     "                         from standard input the same way\n"
                     "  --json                 one JSON object per address and line: address, site, ok,\n"
                     "                         video_url, cover_url, avatar_url, author, description, date,\n"
                     "                         verified, status, error (see the man page)\n"
                     "  --slots                with --json, also the whole record (\"slots\") and the captions\n"
                     "                         as the window shows them (\"display\")\n"
                     "  --download             save each extracted video (resuming an earlier .part file of\n"
                     "                         the same link); the JSON line then has \"file\" or\n"
                     "                         \"download_error\"\n"
                     "  -o, --output DIR       folder for --download, made when missing (default: the\n"
                     "                         current folder)\n"
                     "  --force-overwrite      replace an existing file of the same name (by default it is\n"
                     "                         left as it is and reported with \"skipped\": \"exists\")\n"
                     "  --retries N            try a download again N times after a network error, with a\n"
                     "                         growing pause, resuming its part (3)\n"
                     "  --progress MODE        none, bar (a one-line bar; the default on a terminal) or\n"
                     "                         lines (a line per 10 %; the default otherwise)\n"
                     "  --low-speed LIMIT,SECONDS  give up a transfer that brings fewer than LIMIT bytes a\n"
                     "                         second over SECONDS seconds (1024,60)\n"
                     "  --all-hosts HOST:PORT  talk to every service on this one host (a mirror or simulator)\n"
                     "  --sites-dir DIR        service descriptions that replace the built-in ones (default:\n"
                     "                         $XDG_CONFIG_HOME/quorvin-video-helper/sites)\n"
                     "  --list-sites           show each service, its description file and where it came from\n"
                     "  --show-site SITE       print the description in force for a service (to copy and edit)\n"
                     "  --explain              print each extraction step: the slot it writes, its marker,\n"
                     "                         found or not, and the value\n"
                     "  --page FILE            run the steps on a saved page instead of fetching the share\n"
                     "                         page (later fetches still go to the network)\n"
                     "  --stall-timeout MS     give up a fetch that receives nothing for MS ms (30000)\n"
                     "  --deadline MS          give up a page fetch that takes longer than MS ms in all\n"
                     "                         (90000); downloads are bounded by --low-speed instead\n"
                     "  --help                 show this help\n"
                     "  --version              show the version\n"
                     "\n"
                     "Exit status: 0 when everything worked; 1 when an address did not pass the address\n"
                     "checks or matched no service; 2 for a usage error; 3 when a download failed; 4 when an\n"
                     "extraction failed (no page, or no video link in it). When several apply, the highest.\n";

int usageError(const QString &message)
{
    QTextStream err(stderr);
    err << "quorvin-extract: " << message << "\n\n" << Usage;
    return ExitUsage;
}

// Addresses from a stream, one a line; blank lines and # comments skipped.
QStringList readAddresses(QTextStream &in)
{
    QStringList out;
    for (QString line = in.readLine(); !line.isNull(); line = in.readLine()) {
        line = line.trimmed();
        if (!line.isEmpty() && !line.startsWith(u'#'))
            out << line;
    }
    return out;
}

std::optional<int> positiveNumber(const QString &text)
{
    bool ok = false;
    const int n = text.toInt(&ok);
    return ok && n > 0 ? std::optional<int>(n) : std::nullopt;
}

// Applies the options that take a value; a usage error's message when one is wrong.
QString applyValues(const QCommandLineParser &parser, CliOptions &o)
{
    if (parser.isSet(QStringLiteral("site"))) {
        const QString value = parser.value(QStringLiteral("site"));
        o.site = value == u"auto" ? AutoSite : siteFromName(value);
        if (o.site < 0 && o.site != AutoSite)
            return QStringLiteral("unknown site \"%1\"").arg(value);
    }
    if (parser.isSet(QStringLiteral("output"))) {
        o.outputDir = parser.value(QStringLiteral("output"));
        if (o.outputDir.isEmpty())
            return QStringLiteral("--output needs a folder");
    }
    if (parser.isSet(QStringLiteral("all-hosts"))) {
        const QString value = parser.value(QStringLiteral("all-hosts"));
        if (value.isEmpty())
            return QStringLiteral("--all-hosts needs HOST[:PORT]");
        o.table = Hosts::allOn(value);
    }
    for (const char *name : {"stall-timeout", "deadline"}) {
        if (!parser.isSet(QString::fromLatin1(name)))
            continue;
        const auto ms = positiveNumber(parser.value(QString::fromLatin1(name)));
        if (!ms)
            return QStringLiteral("--%1 needs a number of milliseconds").arg(QString::fromLatin1(name));
        if (name[0] == 'd')
            fetch::setDeadline(*ms);
        else
            fetch::setTimeout(*ms);
    }
    if (parser.isSet(QStringLiteral("low-speed"))) {
        const QString value = parser.value(QStringLiteral("low-speed"));
        bool okLimit = false;
        const qint64 limit = value.section(u',', 0, 0).toLongLong(&okLimit);
        const auto seconds = positiveNumber(value.section(u',', 1));
        if (!okLimit || limit <= 0 || !seconds)
            return QStringLiteral("--low-speed needs LIMIT,SECONDS (bytes a second, seconds)");
        fetch::setLowSpeed(limit, *seconds);
    }
    if (parser.isSet(QStringLiteral("retries"))) {
        bool ok = false;
        o.save.retries = parser.value(QStringLiteral("retries")).toInt(&ok);
        if (!ok || o.save.retries < 0)
            return QStringLiteral("--retries needs a number");
    }
    if (parser.isSet(QStringLiteral("progress"))) {
        const QString mode = parser.value(QStringLiteral("progress"));
        if (mode == u"none")
            o.save.progress = ProgressMode::None;
        else if (mode == u"bar")
            o.save.progress = ProgressMode::Bar;
        else if (mode == u"lines")
            o.save.progress = ProgressMode::Lines;
        else
            return QStringLiteral("--progress is none, bar or lines");
    }
    return QString();
}

void listSites()
{
    QTextStream out(stdout);
    for (int site = 0; site < SiteCount; ++site) {
        if (const SiteDescription *d = siteDescription(site))
            out << site << "  " << d->name << "  " << d->caption << "  " << d->file << "  " << d->origin << "\n";
    }
}

void addOptions(QCommandLineParser &parser)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const auto valued = [](const QStringList &names, const char *value) {
        return QCommandLineOption(names, QString(), QString::fromLatin1(value));
    };
    parser.addOptions({
        QCommandLineOption(QStringList {QStringLiteral("h"), QStringLiteral("help")}),
        QCommandLineOption(QStringLiteral("version")),
        QCommandLineOption(QStringLiteral("json")),
        QCommandLineOption(QStringLiteral("slots")),
        QCommandLineOption(QStringLiteral("download")),
        QCommandLineOption(QStringLiteral("force-overwrite")),
        valued({QStringLiteral("site")}, "SITE"),
        valued({QStringLiteral("o"), QStringLiteral("output")}, "DIR"),
        valued({QStringLiteral("a"), QStringLiteral("batch-file")}, "FILE"),
        valued({QStringLiteral("all-hosts")}, "HOST"),
        valued({QStringLiteral("stall-timeout")}, "MS"),
        valued({QStringLiteral("deadline")}, "MS"),
        valued({QStringLiteral("low-speed")}, "LIMIT,SECONDS"),
        valued({QStringLiteral("retries")}, "N"),
        valued({QStringLiteral("progress")}, "MODE"),
        valued({QStringLiteral("sites-dir")}, "DIR"),
        QCommandLineOption(QStringLiteral("list-sites")),
        valued({QStringLiteral("show-site")}, "SITE"),
        QCommandLineOption(QStringLiteral("explain")),
        valued({QStringLiteral("page")}, "FILE"),
    });
}

// --help, --version, --list-sites and --show-site: what they print, and the exit status;
// no value when none of them was given.
std::optional<int> answerQuestion(const QCommandLineParser &parser)
{
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(Usage, stdout);
        return ExitOk;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::fputs("quorvin-extract 1.0\n", stdout);
        return ExitOk;
    }
    // The descriptions first: --site names a service by its description.
    loadSiteDescriptions(
        parser.isSet(QStringLiteral("sites-dir")) ? parser.value(QStringLiteral("sites-dir")) : userSitesFolder());
    if (parser.isSet(QStringLiteral("list-sites"))) {
        listSites();
        return ExitOk;
    }
    if (!parser.isSet(QStringLiteral("show-site")))
        return std::nullopt;
    const QString name = parser.value(QStringLiteral("show-site"));
    const SiteDescription *d = siteDescription(siteFromName(name));
    if (!d)
        return usageError(QStringLiteral("unknown site \"%1\"").arg(name));
    QFile file(d->origin == u"built-in" ? QStringLiteral(":/sites/") + d->file : d->origin);
    if (!file.open(QIODevice::ReadOnly))
        return usageError(QStringLiteral("cannot read %1").arg(file.fileName()));
    const QByteArray text = file.readAll();
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    return ExitOk;
}

// The addresses: those of -a files, then the arguments, "-" reading standard input.
QString collectAddresses(const QCommandLineParser &parser, QStringList &addresses)
{
    for (const QString &path : parser.values(QStringLiteral("batch-file"))) {
        QFile file(path);
        if (path == u"-" ? !file.open(stdin, QIODevice::ReadOnly) : !file.open(QIODevice::ReadOnly))
            return QStringLiteral("cannot read %1").arg(path);
        QTextStream in(&file);
        addresses += readAddresses(in);
    }
    for (const QString &address : parser.positionalArguments()) {
        if (address == u"-") {
            QTextStream in(stdin);
            addresses += readAddresses(in);
        } else {
            addresses << address;
        }
    }
    if (addresses.isEmpty() && parser.values(QStringLiteral("batch-file")).isEmpty())
        return QStringLiteral("no address given");
    return QString();
}

}  // namespace

std::variant<CliOptions, int> parseOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            return usageError(
                QStringLiteral("unknown option %1%2").arg(unknown.first().size() == 1 ? u"-" : u"--", unknown.first()));
        return usageError(parser.errorText());
    }
    if (const std::optional<int> status = answerQuestion(parser))
        return *status;

    CliOptions o;
    o.table = hosts();
    o.explain = parser.isSet(QStringLiteral("explain"));
    o.pageFile = parser.value(QStringLiteral("page"));
    o.json = parser.isSet(QStringLiteral("json"));
    o.withSlots = parser.isSet(QStringLiteral("slots"));
    o.download = parser.isSet(QStringLiteral("download"));
    o.save.forceOverwrite = parser.isSet(QStringLiteral("force-overwrite"));
    if (const QString why = applyValues(parser, o); !why.isEmpty())
        return usageError(why);
    if (const QString why = collectAddresses(parser, o.addresses); !why.isEmpty())
        return usageError(why);
    // A share message as an app writes it: the address is taken out of the text around it.
    for (QString &address : o.addresses) {
        if (const QString found = shareAddressIn(address, o.table); !found.isEmpty())
            address = found;
    }
    return o;
}
