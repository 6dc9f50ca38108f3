// --download: saving each extracted video into a folder, with progress on standard error.
#pragma once

#include <QString>

struct SaveOutcome {
    QString file;   // the saved path when it worked
    QString error;  // the reason in words when it did not
};

// Saves the video at link into folder under the name the window would offer, resuming a
// part file left by an earlier run. On a terminal a one-line progress bar is drawn on
// standard error; otherwise one line per finished file.
SaveOutcome saveVideo(const QString &link, const QString &folder, const QString &author,
                      const QString &date, bool terminal);
