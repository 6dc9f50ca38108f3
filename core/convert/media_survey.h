// What a media file holds, read once to its end before anything is written: a reader such
// as FLV's may meet a stream only while reading (sound that starts late, sound tags whose
// flags change), so the streams found when the file was opened are not all there is.
#pragma once

#include "media_file.h"
#include "media_input.h"

#include <string>
#include <vector>

namespace media {

// The time a stream's packets cover, in seconds.
struct Span {
    double start = 0;
    double end = 0;
    bool seen = false;
    double seconds() const { return seen ? end - start : 0; }
    void add(const AVPacket *packet, AVRational timeBase);
};

// One track of the output: the input streams that go into it (a stream met late that
// continues an earlier one of the same form joins it) and the time they cover.
struct Track {
    AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
    int source = -1;  // the input stream whose parameters the track takes
    Span span;
};

struct Survey {
    InputContext in;         // read to its end: every stream the file holds
    std::vector<int> track;  // for each input stream, its track; -1: left out
    std::vector<Track> tracks;
    // The track of an input stream, -1 when it is left out (or was never met).
    int trackOf(int stream) const { return stream >= 0 && size_t(stream) < track.size() ? track[size_t(stream)] : -1; }
};

// Reads path to its end and plans the output's tracks for target: each stream the file
// holds at its opening is a track of its own, as before; a stream met later joins an earlier
// track of its kind when it has the same form (codec, rate, channels, size, codec setup), is a
// track of its own when none of its kind was there, and is refused ("changed_stream") when
// its form differs. Video is left out of sound-only targets; MP3 takes one sound track.
Outcome survey(const std::string &path, Target target, Survey *out);

// The span of each stream of an opened input, read to its end.
std::vector<Span> spansOf(AVFormatContext *in);

}  // namespace media
