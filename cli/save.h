// --download: saving each extracted video under a name of its own, with progress on standard
// error.
#pragma once

#include <QString>
#include <optional>

// What a video's file name is made of.
struct VideoFields {
    QString id;  // the share address after the page prefix ("10004")
    QString site;
    QString author;
    QString description;
    QString date;
    QString address;  // the share address
    QString link;     // the video's own address
    QString cover;
};

struct SaveOutcome {
    QString file;          // the path on disk: saved, or the earlier copy of this video when skipped
    bool skipped = false;  // this video was there already and was not replaced
    QString error;         // a short English reason when it did not work
    QString errorCode;     // its fixed code ("disk_full")
    QString errorText;     // the reason in Chinese, for people
};

enum class ProgressMode {
    Auto,  // a bar on a terminal, lines otherwise
    None,
    Bar,    // one line redrawn in place, as wide as the terminal
    Lines,  // a plain line per 10 %
};

struct SaveOptions {
    ProgressMode progress = ProgressMode::Auto;
    bool forceOverwrite = false;  // replace an existing file of the same name
    int retries = 3;              // further tries after a network error; -1 without end
    int firstPauseMs = 1000;      // pause before the first retry, doubled for each next one
    bool quiet = false;           // no notes on standard error (errors still)
    bool chinese = true;          // errors on standard error in Chinese (text mode) or English
    QString folder = QStringLiteral(".");
    QString nameTemplate;  // -o with %(field)s: the file's path below folder
    bool oneFile = false;  // -o named the file itself: no other name is tried
};

// Why a -o template cannot be used (absolute, "..", a folder) or no value when it can.
std::optional<QString> templateProblem(const QString &nameTemplate);

// The fields of a template that no video has ("%(views)s"): each is filled with "NA".
QStringList unknownTemplateFields(const QString &text);

// The template with its fields filled in: %(id)s, %(site)s, %(extractor)s and
// %(extractor_key)s (the service), %(author)s and %(uploader)s, %(description)s and
// %(title)s, %(date)s, %(upload_date)s (YYYYMMDD when the date can be read), %(webpage_url)s
// (the share address), %(url)s (the video link), %(thumbnail)s (the cover), %(ext)s; "%%" is
// a percent sign; an empty or unknown field is "NA". For a file name (forFile) each value is
// made one file name, and so is every part of the filled path.
QString expandTemplate(
    const QString &nameTemplate, const VideoFields &video, const QString &extension, bool forFile = true);

// Saves the video at link. The name (the default, or the template's) and its " (2)",
// " (3)"... variants are looked at in order: one that records this link as its origin means
// this video is there already (skipped); otherwise the first free name is taken. Where the
// file system keeps no attributes, a file with the default name (which carries the video's
// id) counts as this video. A part file left by an earlier run of the same link is resumed.
// A try that fails on a network error (refused, connection lost, stalled, too slow, cut
// short, 5xx) is repeated up to retries times, resuming its part.
SaveOutcome saveVideo(const QString &link, const VideoFields &video, const SaveOptions &options);

// From now on a Ctrl+C during a download stops it keeping its part (download_error
// "interrupted"); at any other moment it ends the program as usual.
void watchInterrupts();
// True once a Ctrl+C stopped a download.
bool interruptedByUser();
