#include "media_input.h"

#include <algorithm>

extern "C" {
#include <libavutil/error.h>
}

namespace media {

std::string errorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

InputContext openInput(const std::string &path, const char *formats, std::string *why)
{
    AVFormatContext *c = avformat_alloc_context();
    if (c == nullptr) {
        *why = "out of memory";
        return nullptr;
    }
    AVDictionary *options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    av_dict_set(&options, "format_whitelist", formats, 0);
    const std::string url = "file:" + path;
    int error = avformat_open_input(&c, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (error < 0) {
        *why = "not a video file: " + errorText(error);
        return nullptr;  // avformat_open_input freed c
    }
    InputContext input(c);
    if ((error = avformat_find_stream_info(c, nullptr)) < 0) {
        *why = "unreadable streams: " + errorText(error);
        return nullptr;
    }
    return input;
}

MemoryInput::MemoryInput(std::string_view bytes, const char *formats) : bytes_(bytes)
{
    constexpr int BufferSize = 4096;
    auto *buffer = static_cast<unsigned char *>(av_malloc(BufferSize));
    io_ = avio_alloc_context(buffer, BufferSize, 0, this, &MemoryInput::read, nullptr, &MemoryInput::seek);
    context_ = avformat_alloc_context();
    if (io_ == nullptr || context_ == nullptr)
        return;
    context_->pb = io_;
    context_->flags |= AVFMT_FLAG_CUSTOM_IO;
    AVDictionary *options = nullptr;
    av_dict_set(&options, "format_whitelist", formats, 0);
    if (avformat_open_input(&context_, nullptr, nullptr, &options) < 0)
        context_ = nullptr;
    av_dict_free(&options);
    if (context_ != nullptr && avformat_find_stream_info(context_, nullptr) < 0)
        avformat_close_input(&context_);
}

MemoryInput::~MemoryInput()
{
    avformat_close_input(&context_);
    if (io_ != nullptr)
        av_freep(&io_->buffer);
    avio_context_free(&io_);
}

int MemoryInput::read(void *self, uint8_t *buffer, int size)
{
    auto *in = static_cast<MemoryInput *>(self);
    const size_t left = in->bytes_.size() - in->at_;
    if (left == 0)
        return AVERROR_EOF;
    const size_t n = std::min(left, size_t(size));
    std::copy_n(in->bytes_.data() + in->at_, n, buffer);
    in->at_ += n;
    return int(n);
}

int64_t MemoryInput::seek(void *self, int64_t offset, int whence)
{
    auto *in = static_cast<MemoryInput *>(self);
    const auto size = int64_t(in->bytes_.size());
    if ((whence & AVSEEK_SIZE) != 0)
        return size;
    int64_t to = offset;
    if ((whence & 3) == SEEK_CUR)
        to += int64_t(in->at_);
    else if ((whence & 3) == SEEK_END)
        to += size;
    if (to < 0 || to > size)
        return AVERROR(EINVAL);
    in->at_ = size_t(to);
    return to;
}

int firstStream(const AVFormatContext *c, AVMediaType type)
{
    for (unsigned i = 0; i < c->nb_streams; ++i) {
        const AVStream *s = c->streams[i];
        if (s->codecpar->codec_type == type && (s->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0)
            return int(i);
    }
    return -1;
}

}  // namespace media
