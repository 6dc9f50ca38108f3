// A finished file (a conversion's output) put in place under the download naming rules.
#pragma once

#include <QString>

struct PlacedFile {
    QString file;            // where it lies now (or the earlier copy of this video)
    bool thisVideo = false;  // a file of this video was there already: from was removed
    int error = 0;           // an errno value when it could not be moved
};

// Moves from to first, or to the first free " (n)" variant of it, never replacing a file, and
// records link as its origin so that the next run knows it as this video's file. When one of
// the names holds this video already, from is removed and that file is named.
PlacedFile placeFile(const QString &from, const QString &first, const QString &link);

// Moves from over target (a file of the same video made anew, such as the saved MP4 with its
// tags written in), recording link as its origin first. Returns 0, or an errno value.
int replaceFile(const QString &from, const QString &target, const QString &link);
