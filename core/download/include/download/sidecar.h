// The files beside a saved video (its information, description and cover): written as the
// video is, under a temporary name first and then put in place only when nothing has the
// name, so a sidecar never replaces another file and is never seen half written.
#pragma once

#include <QByteArray>
#include <QString>

// NAME.ext beside a video: the video's path without its extension, then ext (".info.json").
QString sidecarPath(const QString &videoPath, const QString &ext);

// Writes content to path; false with why (in English) when it exists already or cannot be
// written.
bool writeSidecar(const QString &path, const QByteArray &content, QString *why);
