// The options of quorvin-extract, once each: their names, their values' names and their help,
// from which the parser, --help and the readers are made.
#pragma once

#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>

namespace opt {
// Every option, by which the code reads it: a misspelt option does not compile.
enum Id : int {
    Site,
    BatchFile,
    Json,
    SingleJson,
    FlatPlaylist,
    PlaylistItems,
    MaxDownloads,
    BreakOnExisting,
    DateAfter,
    DateBefore,
    ListingPages,
    ListingWorks,
    Print,
    GetUrl,
    Simulate,
    SkipDownload,
    Slots,
    Download,
    Paths,
    Output,
    AutonumberStart,
    ForceOverwrite,
    NoOverwrites,
    Retries,
    Progress,
    Newline,
    NoProgress,
    Quiet,
    Verbose,
    IgnoreErrors,
    Continue,
    NoPart,
    LowSpeed,
    AllHosts,
    SitesDir,
    ListSites,
    ShowSite,
    CheckSite,
    UpdateSites,
    Explain,
    Page,
    StallTimeout,
    Deadline,
    Help,
    DownloadArchive,
    History,
    WriteInfoJson,
    WriteThumbnail,
    WriteDescription,
    PrintPath,
    Exec,
    Connections,
    LimitRate,
    Proxy,
    SleepRequests,
    RemuxVideo,
    ExtractAudio,
    AudioFormat,
    AudioQuality,
    EmbedMetadata,
    EmbedThumbnail,
    KeepVideo,
    NoWarnings,
    IgnoreConfig,
    ConfigLocations,
    AbortOnError,
    NoAbortOnError,
    Mtime,
    NoMtime,
    RestrictFilenames,
    WindowsFilenames,
    TrimFilenames,
    UserAgent,
    Referer,
    AddHeader,
    Cookies,
    Version
};
}  // namespace opt

// Every option once: its names, its value's name, and its help. The parser, --help, the
// options' readers and the documentation test are all made from this table.
struct OptionSpec {
    opt::Id id;
    QList<const char *> names;  // short names first
    const char *value;          // "" for a switch
    const char *help;
};

const QList<OptionSpec> &optionTable();

// The help --help prints: the usage, every option's lines, the exit statuses.
QString usage();

// The parsed command line, read by option.
class Args {
public:
    explicit Args(const QCommandLineParser &parser) : parser_(parser) {}
    bool isSet(opt::Id id) const { return parser_.isSet(name(id)); }
    QString value(opt::Id id) const { return parser_.value(name(id)); }
    QStringList values(opt::Id id) const { return parser_.values(name(id)); }
    QStringList positional() const { return parser_.positionalArguments(); }
    // The option's long name, as messages give it.
    static QString name(opt::Id id);

private:
    const QCommandLineParser &parser_;
};
