// The media work itself, on FFmpeg's libraries and nothing of Qt: a saved video copied into
// MP4 or M4A, its sound encoded as MP3, tags and a cover put inside, the result read back and
// checked, and what a file holds measured. Only the small child program and the tests call
// it: a file that makes the libraries crash or run away ends that child, never the window.
#pragma once

#include "record/convert_kinds.h"

#include <functional>
#include <optional>
#include <string>

namespace media {

// What a job makes: a row of the kinds table.
using Target = convert::Kind;

// What a file says of itself, written into it with embedTags.
struct Tags {
    std::string title;
    std::string artist;
    std::string date;
    std::string comment;  // the share address
};

struct Job {
    std::string source;
    std::string output;  // written here whole; the caller moves it into place
    Target target = Target::Mp4;
    int mp3Quality = 2;  // VBR quality 0 (best) to 9, when mp3Bitrate is 0
    int mp3Bitrate = 0;  // kbit/s; 0: VBR by quality
    bool embedTags = false;
    Tags tags;
    std::string cover;                  // a JPEG or PNG's bytes; empty: no cover inside
    std::function<void(int)> progress;  // percent of the input read, when it changes
};

// A failure's fixed code and a short English reason; ok when both are empty.
struct Outcome {
    std::string code;  // "unfit_codec", "no_audio", "unreadable", "write_failed", "check_failed"
    std::string reason;
    bool ok() const { return code.empty(); }
};

// Makes job.output from job.source: streams copied for MP4 and M4A (refused when the
// container cannot hold one), the sound encoded for MP3; then the output is opened again and
// checked (every stream there, the duration close to the source's). A failure leaves no
// output behind.
Outcome convert(const Job &job);

// What a media file holds, as libavformat reads it.
struct Facts {
    double duration = -1;  // seconds, -1 when unknown
    int width = 0;
    int height = 0;
    std::string vcodec;  // "h264", empty when there is no video
    std::string acodec;
    std::string container;  // libavformat's name for it ("flv", "mov,mp4,m4a,3gp,3g2,mj2")
};
// The facts of path, or no value (with why) when it cannot be read as media.
std::optional<Facts> probe(const std::string &path, std::string *why);

// The longest a check lets an output's duration differ from its source's: 1 %, at least
// 0.15 s (an MP3 adds its encoder's delay and padding).
double durationTolerance(double seconds);

}  // namespace media
