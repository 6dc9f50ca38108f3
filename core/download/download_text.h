// What the window and the command line say about a download: the file name offered for a
// link, and the progress line.
#pragma once

#include "download.h"

#include <QString>

// A file name for the video at link: the link's own file name, or author and date when the
// link has none; the extension from the link when it names a video type, else from the
// answer's type (contentType, may be empty), else ".mp4". Path separators and control
// characters are taken out, so the name always stays inside the chosen folder. The name takes
// at most MaxNameBytes in UTF-8 (room is left for ".part.meta" within the system's 255),
// shortened between characters.
inline constexpr qsizetype MaxNameBytes = 240;
QString suggestedFileName(
    const QString &link, const QString &author, const QString &date, const QString &contentType = QString());

// Why a download failed: in words for the user, in short English for scripts, and as a
// fixed code ("disk_full") that never changes.
QString downloadErrorText(DownloadError error, int httpStatus);
QString downloadErrorEnglish(DownloadError error, int httpStatus);
QString downloadErrorCode(DownloadError error);

// The name a video is saved under by default, the same in the window and on the command
// line, readable and never shared by two videos: "author - description [site-id].ext", the
// description cut to DescriptionInName characters, the whole within MaxNameBytes; characters
// that file systems refuse (/ \ : * ? " < > | and controls) are replaced by "_".
inline constexpr qsizetype DescriptionInName = 40;
QString videoFileName(const QString &author, const QString &description, const QString &site, const QString &id,
    const QString &extension);

// A value made safe as one part of a file name: refused characters replaced by "_", white
// space runs as one space, no leading dots.
QString fileNamePart(const QString &value);

// A text made one file name, whatever a page put in it, and one that copies onto any file
// system as it is: "/", "\", NUL, control characters and what Windows refuses (< > : " | ? *)
// replaced by "_", white space runs as one space, leading and trailing dots and spaces removed
// after everything else, a name of nothing (".", "..", "") as "_", a device name Windows keeps
// (CON, NUL, COM1...) with "_" before it, and the whole cut to MaxNameBytes of UTF-8 between
// two characters, keeping the extension when withExtension.
QString safeFileName(const QString &value, bool withExtension = false);

// The extension a video from link is saved with before its answer's type is known.
QString linkVideoExtension(const QString &link);

// True when the link's file name ends in a video type's extension.
bool hasVideoExtension(const QString &link);

// True when a local file name ends in a video type's extension ("海边 2015.07.08" does not).
bool fileHasVideoExtension(const QString &path);

// path with its extension set by the answer's type (.flv for FLV, else .mp4).
QString withTypeExtension(const QString &path, const QString &contentType);

// "3.2 MB" and the like.
QString byteSize(qint64 bytes);

// "00:12", "1:02:03" for an hour or more, "--:--" when unknown.
QString timeLeftText(qint64 seconds);

// "正在下载视频.. 45% (3.2 MB/7.1 MB, 1.2 MB/s, 剩余 00:12)", the time left only when known, or
// without percent and total when the size is unknown.
QString progressText(const DownloadProgress &p);
