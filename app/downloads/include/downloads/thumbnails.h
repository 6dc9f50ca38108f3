// The rows' cover thumbnails. Rows of a history file keep theirs on disk
// ($XDG_CACHE_HOME/quorvin-video-helper/thumbnails/ID.png), shared by every window on that
// file, whose ids are never given again; rows the history does not keep (history off or in
// memory, read-only) keep theirs in memory for the run, since their ids come back in the
// next run. A thumbnail goes with its row.
#pragma once

#include <QImage>
#include <QString>
#include <map>

class Thumbnails {
public:
    static constexpr int Width = 160;
    static constexpr int Height = 90;

    static QString folder();
    // True when the rows of positive ids are those of a history file.
    void setOnDisk(bool onDisk) { onDisk_ = onDisk; }
    void put(qint64 id, const QImage &cover);
    QImage get(qint64 id) const;
    void remove(qint64 id);
    // Removes the thumbnails on disk of ids above highest: left by rows of another history
    // (one moved aside, or an older program's that gave ids again), never this file's.
    void removeAbove(qint64 highest) const;

private:
    QString path(qint64 id) const;
    bool onDisk(qint64 id) const { return onDisk_ && id > 0; }

    bool onDisk_ = false;
    std::map<qint64, QImage> kept_;
};
