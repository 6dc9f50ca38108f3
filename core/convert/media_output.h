// An output file written through libavformat: its streams, its tags and cover, the header,
// the packets and the trailer; removed again when it is not finished.
#pragma once

#include "media_file.h"

#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace media {

class OutputFile {
public:
    // muxer: "mp4", "ipod" or "mp3".
    OutputFile(const std::string &path, const char *muxer);
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    AVFormatContext *context() const { return context_; }
    bool valid() const { return context_ != nullptr; }
    // Whether the container can hold a stream of this codec.
    bool canHold(AVCodecID codec) const;
    // A stream copied from in (its parameters, time base and language); null when it fails.
    AVStream *copyStream(const AVStream *in);
    AVStream *newStream();
    void setTags(const Tags &tags);
    // The cover as an attached picture, when its bytes are a JPEG or PNG; written with the
    // header. False when the bytes are neither.
    bool addCover(const std::string &bytes);
    // Opens the file and writes the header (MP4: the index moved to the front at the end).
    int begin();
    int write(AVPacket *packet);  // interleaved; the packet is taken
    // Writes the trailer and closes the file: 0, or the error (the file is then removed).
    int finish();

private:
    std::string path_;
    AVFormatContext *context_ = nullptr;
    std::string cover_;
    int coverStream_ = -1;
    bool open_ = false;
    bool finished_ = false;
};

}  // namespace media
