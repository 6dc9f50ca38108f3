// After a download: the saved video made into MP4 or its sound alone (--remux-video,
// --extract-audio), with tags and cover inside, the original removed unless -k; and the
// saved file measured.
#pragma once

#include "convert/conversion.h"
#include "record/video_fields.h"

#include <QString>
#include <optional>

class Args;

struct ConvertOptions {
    std::optional<convert::Kind> kind;  // none: nothing is converted
    int mp3Quality = 2;
    int mp3Bitrate = 0;  // kbit/s; 0: by quality
    bool embedMetadata = false;
    bool embedThumbnail = false;
    bool keepVideo = false;
};

// Reads --remux-video, -x, --audio-format, --audio-quality, --embed-*, -k; the usage error
// or "".
QString readConvertOptions(const Args &args, ConvertOptions &options);

// Where the converted file of a video saved at path would lie when it is there already
// (a file of this video under the converted name or one of its " (n)" variants); "" when none.
QString convertedAlready(const QString &path, const QString &link, const ConvertOptions &options);

// Converts the video saved at file as the options say; the original is removed after a
// conversion that passed its check unless keepVideo. No value when nothing was asked.
std::optional<convert::Result> convertSaved(
    const QString &file, const VideoFields &video, const ConvertOptions &options, bool quiet);
