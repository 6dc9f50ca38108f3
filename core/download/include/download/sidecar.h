// The files beside a saved video (its information, description and cover): written as the
// video is, under a temporary name first and then put in place only when nothing has the
// name, so a sidecar never replaces another file and is never seen half written.
#pragma once

#include "download/video_name.h"
#include "net/fetch.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVariantHash>

// NAME.ext beside a video: the video's path without its extension, then ext (".info.json").
QString sidecarPath(const QString &videoPath, const QString &ext);

// Writes content to path; false with why (in English) when it exists already or cannot be
// written.
bool writeSidecar(const QString &path, const QByteArray &content, QString *why);

// NAME.info.json of a video: site, id, address, video_url, author, description, date,
// cover_url, avatar_url and the time it was saved (UTC, ISO 8601); UTF-8, keys in English as
// in the command line's JSON. The same also under the names the common downloader writes
// (title, uploader, upload_date, timestamp, webpage_url, url, ext, thumbnail, extractor,
// extractor_key, filename), so other tools read it; then what was measured on the file
// (duration, width, height, vcodec, acodec, filesize).
QByteArray videoInfoJson(const VideoFields &video, const QString &avatar, const QDateTime &saved,
    const QString &file = QString(), const QVariantHash &measured = {});

// The cover's own extension when its address names a picture type, else ".jpg".
QString coverExtension(const QString &cover);

// The extension of the picture type bytes begin as (".jpg", ".png", ".gif", ".webp"); empty
// when they are none of them.
QString imageExtension(const QByteArray &bytes);

// True when bytes begin as a JPEG, PNG, GIF or WebP picture does.
bool isImageData(const QByteArray &bytes);

// A cover fetched for a file (fetch::get with fetch::PictureLimit: 8 MiB, the stall rule and
// the deadline) is kept at path only when it arrived whole with 200 and is a picture, never
// replacing a file; false with why (in English) otherwise.
bool keepCover(const fetch::Result &answer, const QString &path, QString *why);
