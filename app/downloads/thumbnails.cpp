#include "downloads/thumbnails.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

QString Thumbnails::folder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
        QStringLiteral("/quorvin-video-helper/thumbnails");
}

QString Thumbnails::path(qint64 id) const
{
    return folder() + QStringLiteral("/%1.png").arg(id);
}

void Thumbnails::put(qint64 id, const QImage &cover)
{
    if (cover.isNull())
        return;
    const QImage small = cover.scaled(Width, Height, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (!onDisk(id)) {
        kept_[id] = small;
        return;
    }
    QDir().mkpath(folder());
    small.save(path(id));
}

QImage Thumbnails::get(qint64 id) const
{
    if (!onDisk(id)) {
        const auto kept = kept_.find(id);
        return kept == kept_.end() ? QImage() : kept->second;
    }
    return QImage(path(id));
}

void Thumbnails::remove(qint64 id)
{
    kept_.erase(id);
    if (onDisk(id))
        QFile::remove(path(id));
}

void Thumbnails::removeAbove(qint64 highest) const
{
    const QDir dir(folder());
    for (const QString &name : dir.entryList({QStringLiteral("*.png")}, QDir::Files)) {
        bool number = false;
        const qint64 id = QStringView(name).chopped(4).toLongLong(&number);
        if (number && id > highest)
            QFile::remove(dir.filePath(name));
    }
}
