// --download: saving each extracted video into a folder, with progress on standard error.
#pragma once

#include <QString>

struct SaveOutcome {
    QString file;          // the path on disk: saved, or left as it was when skipped
    bool skipped = false;  // the file existed and was not replaced
    QString error;         // the reason in words when it did not work
};

struct SaveOptions {
    bool terminal = false;        // draw a progress bar on standard error
    bool forceOverwrite = false;  // replace an existing file of the same name
};

// Saves the video at link into folder under the name the window would offer, resuming a
// part file left by an earlier run of the same link. An existing file is never replaced
// unless forceOverwrite. On a terminal a one-line progress bar is drawn on standard error;
// otherwise one line per finished file.
SaveOutcome saveVideo(const QString &link, const QString &folder, const QString &author,
                      const QString &date, const SaveOptions &options);
