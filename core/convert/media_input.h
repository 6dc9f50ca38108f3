// An input file opened through libavformat, bounded: the file protocol only (a hostile file
// cannot make the libraries open an address), the demuxers a saved video can need, and the
// stream facts read.
#pragma once

#include <memory>
#include <string>
#include <string_view>

extern "C" {
#include <libavformat/avformat.h>
}

namespace media {

// The demuxers a saved video is read with.
inline constexpr char SavedVideoFormats[] = "flv,mov,mp3,matroska,webm";

struct FormatCloser {
    void operator()(AVFormatContext *c) const { avformat_close_input(&c); }
};
using InputContext = std::unique_ptr<AVFormatContext, FormatCloser>;

// Opens path and reads its stream facts; null with why set when it is no media file the
// formats allow.
InputContext openInput(const std::string &path, const char *formats, std::string *why);

// The same on bytes in memory (the fuzz target's way in); the bytes outlive the context.
class MemoryInput {
public:
    MemoryInput(std::string_view bytes, const char *formats);
    ~MemoryInput();
    MemoryInput(const MemoryInput &) = delete;
    MemoryInput &operator=(const MemoryInput &) = delete;
    AVFormatContext *context() const { return context_; }

private:
    std::string_view bytes_;
    size_t at_ = 0;
    AVIOContext *io_ = nullptr;
    AVFormatContext *context_ = nullptr;
    static int read(void *self, uint8_t *buffer, int size);
    static int64_t seek(void *self, int64_t offset, int whence);
};

// What an opened input holds (media_file.h's Facts).
struct Facts;
Facts factsOf(const AVFormatContext *in);

// An FFmpeg error code as text.
std::string errorText(int code);

// The index of the first stream of type (attached pictures skipped), -1 when none.
int firstStream(const AVFormatContext *c, AVMediaType type);

}  // namespace media
