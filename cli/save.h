// --download: saving each extracted video into a folder, with progress on standard error.
#pragma once

#include <QString>

struct SaveOutcome {
    QString file;          // the path on disk: saved, or left as it was when skipped
    bool skipped = false;  // the file existed and was not replaced
    QString error;         // the reason in words when it did not work
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
    int retries = 3;              // further tries after a network error
    int firstPauseMs = 1000;      // pause before the first retry, doubled for each next one
};

// Saves the video at link into folder under the name the window would offer, resuming a
// part file left by an earlier run of the same link. An existing file is never replaced
// unless forceOverwrite. A try that fails on a network error (refused, connection lost,
// stalled, too slow, cut short, 5xx) is repeated up to retries times, resuming its part.
SaveOutcome saveVideo(
    const QString &link, const QString &folder, const QString &author, const QString &date, const SaveOptions &options);
