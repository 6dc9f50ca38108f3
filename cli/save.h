// --download: saving each extracted video under a name of its own, with progress on standard
// error.
#pragma once

#include "download/video_name.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QVariant>
#include <functional>
#include <optional>

struct SaveOutcome {
    QString file;             // the path on disk: saved, or the earlier copy of this video when skipped
    bool skipped = false;     // this video was there already and was not replaced
    QString error;            // a short English reason when it did not work
    QString errorCode;        // its fixed code ("disk_full")
    QString errorText;        // the reason in Chinese, for people
    int connections = 0;      // the most connections the download had open at once; 0: none ran
    QByteArray lastModified;  // the server's Last-Modified for the file, as sent
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
    QString nameTemplate;                     // -o with %(field)s: the file's path below folder
    QHash<QString, QVariant> templateFields;  // what the template may name beyond the video (autonumber)
    bool oneFile = false;                     // -o named the file itself: no other name is tried
    bool restrictNames = false;               // --restrict-filenames: ASCII letters, digits and _-. only
    int trimNames = 0;                        // --trim-filenames: the name's length in characters; 0: no cut
};

// Saves the video at link. The name (the default, or the template's) and its " (2)",
// " (3)"... variants are looked at in order: one that records this link as its origin means
// this video is there already (skipped); otherwise the first free name is taken. Where the
// file system keeps no attributes, a file with the default name (which carries the video's
// id) counts as this video. A part file left by an earlier run of the same link is resumed.
// A try that fails on a network error (refused, connection lost, stalled, too slow, cut
// short, 5xx) is repeated up to retries times, resuming its part.
SaveOutcome saveVideo(const QString &link, const VideoFields &video, const SaveOptions &options);

// From now on a Ctrl+C during a download (or the pause between addresses) stops it keeping
// its part (download_error "interrupted"); at any other moment it ends the program as usual.
// An interrupt the caller ignores stays ignored.
void watchInterrupts();
// True once a Ctrl+C stopped a download or a pause.
bool interruptedByUser();
// Waits ms between two addresses on the event loop, then calls then (interrupted: a Ctrl+C
// ended the wait).
void pauseThen(int ms, QObject *context, std::function<void(bool interrupted)> then);
