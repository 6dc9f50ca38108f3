// What the window and the command line say about a download: why it failed, and the progress
// line.
#pragma once

#include "download/download.h"

#include <QString>

// Why a download failed: in words for the user, in short English for scripts, and as a
// fixed code ("disk_full") that never changes.
QString downloadErrorText(DownloadError error, int httpStatus);
QString downloadErrorEnglish(DownloadError error, int httpStatus);
QString downloadErrorCode(DownloadError error);

// "3.2 MB" and the like.
QString byteSize(qint64 bytes);

// "00:12", "1:02:03" for an hour or more, "--:--" when unknown.
QString timeLeftText(qint64 seconds);

// "正在下载视频.. 45% (3.2 MB/7.1 MB, 1.2 MB/s, 剩余 00:12)", the time left only when known, or
// without percent and total when the size is unknown.
QString progressText(const DownloadProgress &p);
