// The download archive script writers keep: one line per saved video, the service's name, a
// space and the video's id ("meipai 10004"). A listed video is not fetched again; a saved
// one is appended with a single write under an advisory lock, so two runs sharing the file
// never tear or interleave a line.
#pragma once

#include <QSet>
#include <QString>

namespace history {

class DownloadArchive {
public:
    explicit DownloadArchive(const QString &path) : path_(path) {}

    // Reads the file; a missing file is an empty archive. False with why when it cannot be read.
    bool load(QString *why);
    bool contains(const QString &site, const QString &id) const;
    // Appends "site id"; false with why when the file cannot be written.
    bool add(const QString &site, const QString &id, QString *why);

private:
    static QString key(const QString &site, const QString &id);

    QString path_;
    QSet<QString> keys_;
};

}  // namespace history
