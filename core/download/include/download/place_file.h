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

// The same for a file open at fd (one made without a name, or a temporary whose name may have
// been changed since): linked into place through the descriptor, so whatever now lies at a
// temporary's name is never what is moved. Records link as its origin first.
PlacedFile placeDescriptor(int fd, const QString &first, const QString &link);

// fd's file put over target (the same video made anew): linked under a hidden name of its own
// in target's folder, then renamed over target. Returns 0, or an errno value.
int replaceWithDescriptor(int fd, const QString &target, const QString &link);
