#include "options.h"

#include "download/download_text.h"
#include "download/video_name.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <cstdio>

namespace {

// Every option once: its names, its value's name, and its help. The parser, --help and the
// documentation test are all made from this table.
struct OptionSpec {
    QList<const char *> names;  // short names first
    const char *value;          // "" for a switch
    const char *help;
};

using S = QList<const char *>;
const QList<OptionSpec> Table = {
    {S {"site"}, "SITE",
        "weishi, meipai, kuaishou, weipai, miaopai, 0-4, or auto (the default): each address gets the service "
        "whose page prefix it starts with"},
    {S {"a", "batch-file"}, "FILE",
        "read addresses from FILE, one a line (blank lines and lines starting with #, ; or ] are skipped); - as "
        "an address reads them from standard input the same way"},
    {S {"j", "J", "json", "dump-json"}, "",
        "one JSON object per address and line: address, site, ok, video_url, cover_url, avatar_url, author, "
        "description, date, verified, status, error, error_code (see the man page)"},
    {S {"O", "print"}, "TEMPLATE",
        "print the template filled in for each video extracted, one line each, the fields as -o names them; "
        "not with --json"},
    {S {"g", "get-url"}, "", "print the link of each video extracted, one line each; not with --json"},
    {S {"s", "simulate"}, "", "extract only: no download, even with --download"},
    {S {"skip-download"}, "", "the same as --simulate"},
    {S {"slots"}, "", "with --json, also the whole record (\"slots\") and the captions as the window shows them"},
    {S {"download"}, "",
        "save each extracted video under a name of its own (resuming an earlier .part file of the same link); "
        "the JSON line then has \"file\" or \"download_error\" and \"download_error_code\""},
    {S {"P", "paths"}, "DIR", "folder for --download, made when missing (default: the current folder)"},
    {S {"o", "output"}, "DIR|TEMPLATE|FILE",
        "a file name when it ends in a video extension (.mp4, .flv...) and is no folder (one address only); "
        "when it holds %(, a file name template below the folder: %(id)s, %(site)s or %(extractor)s, "
        "%(author)s or %(uploader)s, %(description)s or %(title)s, %(date)s, %(upload_date)s (YYYYMMDD), "
        "%(webpage_url)s, %(url)s, %(thumbnail)s, %(ext)s, %% for a percent sign (an unknown field is NA); "
        "else a folder as -P"},
    {S {"force-overwrite", "force-overwrites"}, "",
        "replace an existing file of the same name (by default a file of this video is reported with "
        "\"skipped\": \"exists\" and another video takes the next free name)"},
    {S {"w", "no-overwrites"}, "", "never replace an existing file (the default)"},
    {S {"R", "retries"}, "N",
        "try a download again N times (or infinite) after a network error, with a growing pause, resuming its "
        "part (3)"},
    {S {"progress"}, "MODE",
        "none, bar (a one-line bar; the default on a terminal) or lines (a line per 10 %; the default "
        "otherwise)"},
    {S {"newline"}, "", "progress as lines (--progress lines)"},
    {S {"no-progress"}, "", "no progress (--progress none)"},
    {S {"q", "quiet"}, "", "no progress and no notes on standard error; JSON and errors are still printed"},
    {S {"v", "verbose"}, "", "each address fetched and each extraction step on standard error (--explain)"},
    {S {"i", "ignore-errors"}, "", "go on with the next address after a failure (always done)"},
    {S {"c", "continue"}, "", "resume a partly downloaded file (always done)"},
    {S {"no-part"}, "", "refused: the .part file is what keeps a broken download from passing for a video"},
    {S {"low-speed"}, "LIMIT,SECONDS",
        "give up a transfer that brings fewer than LIMIT bytes a second over SECONDS seconds (1024,60)"},
    {S {"all-hosts"}, "HOST:PORT", "talk to every service on this one host (a mirror or simulator)"},
    {S {"sites-dir"}, "DIR",
        "service descriptions that replace the built-in ones (default: "
        "$XDG_CONFIG_HOME/quorvin-video-helper/sites)"},
    {S {"list-sites"}, "", "show each service, its description file and where it came from"},
    {S {"show-site"}, "SITE", "print the description in force for a service (to copy and edit)"},
    {S {"check-site"}, "SITE|all",
        "run the examples of a service's description (or of all), with --sites-dir those of the folder: pass, "
        "or the first field that differs; exit 0 when all pass, 1 otherwise"},
    {S {"update-sites"}, "",
        "fetch the signed description set published beside the version file and take it when its signature "
        "is trusted, it is newer and every example passes; exit 0 when updated or already current, 1 when "
        "refused"},
    {S {"explain"}, "", "print each extraction step: the slot it writes, its marker, found or not, and the value"},
    {S {"page"}, "FILE",
        "run the steps on a saved page instead of fetching the share page (later fetches still go to the "
        "network)"},
    {S {"stall-timeout"}, "MS", "give up a fetch that receives nothing for MS ms (30000)"},
    {S {"deadline"}, "MS",
        "give up a page fetch that takes longer than MS ms in all (90000); downloads are bounded by "
        "--low-speed instead"},
    {S {"h", "help"}, "", "show this help"},
    {S {"version"}, "", "show the version"},
};

const QList<OptionSpec> &optionTable()
{
    return Table;
}

const char UsageHead[] = "Usage: quorvin-extract [OPTION]... ADDRESS... | -\n"
                         "\n"
                         "Extracts the video link and details from share pages, the way the window does, one\n"
                         "address after the other, each from an empty result record. An address may be given\n"
                         "inside a share message: it is taken out of the text around it.\n"
                         "\n";

const char UsageTail[] = "\n"
                         "Exit status: 0 when everything worked; 1 when an address did not pass the address\n"
                         "checks or matched no service; 2 for a usage error; 3 when a download failed; 4 when an\n"
                         "extraction failed (no page, or no video link in it). When several apply, the highest.\n"
                         "130 when Ctrl+C stopped a download: its part is kept for the next run to resume.\n";

// An option's names with their dashes: "-j", "--json".
QStringList dashed(const OptionSpec &o)
{
    QStringList names;
    for (const char *name : o.names)
        names << (name[1] == 0 ? QStringLiteral("-") : QStringLiteral("--")) + QString::fromLatin1(name);
    return names;
}

// The help's option lines: names and value in a column of 26, the help wrapped at 92.
QString usage()
{
    QString out = QString::fromUtf8(UsageHead);
    for (const OptionSpec &o : optionTable()) {
        const QStringList names = dashed(o);
        QString head = QStringLiteral("  ") + names.join(QStringLiteral(", "));
        if (*o.value)
            head += u' ' + QString::fromLatin1(o.value);
        QString line = head.size() < 26 ? head.leftJustified(27) : head + u'\n' + QString(27, u' ');
        qsizetype column = 27;
        for (const QString &word : QString::fromUtf8(o.help).split(u' ')) {
            if (column + word.size() + 1 > 92 && column > 27) {
                line += u'\n' + QString(27, u' ');
                column = 27;
            } else if (column > 27) {
                line += u' ';
                ++column;
            }
            line += word;
            column += word.size();
        }
        out += line + u'\n';
    }
    return out + QString::fromUtf8(UsageTail);
}

// Addresses from a stream, one a line; blank lines and comment lines (#, ; or ]) skipped.
QStringList readAddresses(QTextStream &in)
{
    QStringList out;
    for (QString line = in.readLine(); !line.isNull(); line = in.readLine()) {
        line = line.trimmed();
        if (!line.isEmpty() && !line.startsWith(u'#') && !line.startsWith(u';') && !line.startsWith(u']'))
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

QString applySaving(const QCommandLineParser &parser, CliOptions &o)
{
    if (parser.isSet(QStringLiteral("paths"))) {
        o.save.folder = parser.value(QStringLiteral("paths"));
        if (o.save.folder.isEmpty())
            return QStringLiteral("--paths needs a folder");
    }
    if (parser.isSet(QStringLiteral("output"))) {
        const QString value = parser.value(QStringLiteral("output"));
        if (value.isEmpty())
            return QStringLiteral("--output needs a folder, a template or a file name");
        if (value.contains(u"%(")) {
            if (const auto problem = templateProblem(value))
                return *problem;
            o.save.nameTemplate = value;
        } else if (fileHasVideoExtension(value) && !QFileInfo(value).isDir()) {
            // The file itself, as a template without fields: below -P when relative, in its
            // own folder when absolute.
            const QFileInfo file(value);
            if (file.isAbsolute())
                o.save.folder = file.path();
            QString name = file.isAbsolute() ? file.fileName() : value;
            o.save.nameTemplate = name.replace(u'%', QStringLiteral("%%"));
            o.save.oneFile = true;
        } else {
            o.save.folder = value;
        }
    }
    if (parser.isSet(QStringLiteral("retries"))) {
        const QString value = parser.value(QStringLiteral("retries"));
        bool ok = value == u"infinite";
        o.save.retries = ok ? -1 : value.toInt(&ok);
        if (!ok || o.save.retries < -1)
            return QStringLiteral("--retries needs a number or infinite");
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
    if (parser.isSet(QStringLiteral("newline")))
        o.save.progress = ProgressMode::Lines;
    if (parser.isSet(QStringLiteral("no-progress")))
        o.save.progress = ProgressMode::None;
    o.save.quiet = parser.isSet(QStringLiteral("quiet"));
    o.save.forceOverwrite = parser.isSet(QStringLiteral("force-overwrite"));
    if (o.save.forceOverwrite && parser.isSet(QStringLiteral("no-overwrites")))
        return QStringLiteral("--force-overwrite and --no-overwrites contradict each other");
    return QString();
}

// Reads the options that take a value; a usage error's message when one is wrong.
QString applyValues(const QCommandLineParser &parser, CliOptions &o)
{
    o.siteName = parser.value(QStringLiteral("site"));
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
        (name[0] == 'd' ? o.deadlineMs : o.stallTimeoutMs) = *ms;
    }
    if (parser.isSet(QStringLiteral("low-speed"))) {
        const QString value = parser.value(QStringLiteral("low-speed"));
        bool okLimit = false;
        const qint64 limit = value.section(u',', 0, 0).toLongLong(&okLimit);
        const auto seconds = positiveNumber(value.section(u',', 1));
        if (!okLimit || limit <= 0 || !seconds)
            return QStringLiteral("--low-speed needs LIMIT,SECONDS (bytes a second, seconds)");
        o.lowSpeedLimit = limit;
        o.lowSpeedSeconds = *seconds;
    }
    o.sitesDirGiven = parser.isSet(QStringLiteral("sites-dir"));
    o.sitesDir = parser.value(QStringLiteral("sites-dir"));
    o.listSites = parser.isSet(QStringLiteral("list-sites"));
    o.showSite = parser.value(QStringLiteral("show-site"));
    o.checkSite = parser.value(QStringLiteral("check-site"));
    o.updateSites = parser.isSet(QStringLiteral("update-sites"));
    return applySaving(parser, o);
}

void addOptions(QCommandLineParser &parser)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const OptionSpec &o : optionTable()) {
        QStringList names;
        for (const char *name : o.names)
            names << QString::fromLatin1(name);
        parser.addOption(QCommandLineOption(names, QString(), QString::fromLatin1(o.value)));
    }
}

// --help and --version: what they print, and the exit status; no value when neither was given.
std::optional<int> answerQuestion(const QCommandLineParser &parser)
{
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(usage().toUtf8().constData(), stdout);
        return ExitOk;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::fputs("quorvin-extract 1.0\n", stdout);
        return ExitOk;
    }
    return std::nullopt;
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
    if (addresses.isEmpty())
        return QStringLiteral("no address given");
    return QString();
}

// Options that cannot go together, or that mean nothing without another; the message, or "".
QString contradictions(const QCommandLineParser &parser, CliOptions &o)
{
    if (parser.isSet(QStringLiteral("no-part")))
        return QStringLiteral("--no-part is not offered: a download is written to NAME.part and renamed only when "
                              "it is whole, so a broken one never passes for a video");
    if ((!o.printTemplate.isEmpty() || o.getUrl) && o.json)
        return QStringLiteral("--print and --get-url write plain lines; they cannot go with --json");
    if ((parser.isSet(QStringLiteral("output")) || parser.isSet(QStringLiteral("paths"))) && !o.download)
        return QStringLiteral("-o and -P say where --download saves: add --download");
    if (parser.isSet(QStringLiteral("simulate")) || parser.isSet(QStringLiteral("skip-download")))
        o.download = false;
    return QString();
}

}  // namespace

int usageError(const QString &message)
{
    QTextStream err(stderr);
    err << "quorvin-extract: " << message << " (see --help)\n";
    return ExitUsage;
}

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
    o.verbose = parser.isSet(QStringLiteral("verbose"));
    o.explain = parser.isSet(QStringLiteral("explain")) || o.verbose;
    o.pageFile = parser.value(QStringLiteral("page"));
    o.json = parser.isSet(QStringLiteral("json"));
    o.withSlots = parser.isSet(QStringLiteral("slots"));
    o.download = parser.isSet(QStringLiteral("download"));
    o.printTemplate = parser.value(QStringLiteral("print"));
    o.getUrl = parser.isSet(QStringLiteral("get-url"));
    if (const QString why = applyValues(parser, o); !why.isEmpty())
        return usageError(why);
    if (const QString why = contradictions(parser, o); !why.isEmpty())
        return usageError(why);
    if (o.listSites || o.updateSites || parser.isSet(QStringLiteral("show-site")) ||
        parser.isSet(QStringLiteral("check-site")))
        return o;  // a question about the descriptions: no addresses needed
    if (const QString why = collectAddresses(parser, o.addresses); !why.isEmpty())
        return usageError(why);
    if (o.save.oneFile && o.addresses.size() > 1)
        return usageError(QStringLiteral("-o names one file; use a template such as '%(id)s.%(ext)s'"));
    // A field no video has is filled with NA: said once, not refused.
    for (const QString &field : unknownTemplateFields(o.save.nameTemplate + o.printTemplate))
        std::fprintf(stderr, "quorvin-extract: no video has the field %s: it is NA\n", field.toUtf8().constData());
    return o;
}
