// The converter's steps, shared by its files: the stream copy, the sound's encoding and the
// progress by the input read.
#pragma once

#include "media_file.h"
#include "media_output.h"
#include "media_survey.h"

#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace media {

// Reports the percent of the input read, when it changes.
class Progress {
public:
    Progress(AVFormatContext *in, const std::function<void(int)> &report);
    void update();

private:
    AVFormatContext *in_;
    const std::function<void(int)> &report_;
    int64_t size_ = -1;
    int last_ = -1;
};

// The output's tags and cover (when the job embeds them) and its header written.
Outcome begin(const Job &job, OutputFile &out);
// MP4 or M4A: the survey's tracks copied, each from the input streams it gathers.
Outcome copyStreams(AVFormatContext *in, const Survey &survey, const Job &job, OutputFile &out);
// The packets of the input streams map names (-1: left out) written to out, with the tags and
// cover; the file finished.
Outcome writeMapped(AVFormatContext *in, const Job &job, OutputFile &out, const std::vector<int> &map);
// MP3: the survey's sound track decoded and encoded with LAME.
Outcome encodeMp3(AVFormatContext *in, const Survey &survey, const Job &job, OutputFile &out);

}  // namespace media
