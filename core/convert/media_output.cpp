#include "media_output.h"

#include <cstdio>
#include <cstring>

namespace media {

namespace {

AVCodecID pictureCodec(const std::string &bytes)
{
    if (bytes.size() > 3 && std::memcmp(bytes.data(), "\xFF\xD8\xFF", 3) == 0)
        return AV_CODEC_ID_MJPEG;
    if (bytes.size() > 8 && std::memcmp(bytes.data(), "\x89PNG\r\n\x1A\n", 8) == 0)
        return AV_CODEC_ID_PNG;
    return AV_CODEC_ID_NONE;
}

// The picture's size, read by decoding it (which also proves it is one); false when it is not.
bool pictureSize(const std::string &bytes, AVCodecID codec, int *width, int *height)
{
    const AVCodec *decoder = avcodec_find_decoder(codec);
    AVCodecContext *c = decoder != nullptr ? avcodec_alloc_context3(decoder) : nullptr;
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    bool ok = c != nullptr && packet != nullptr && frame != nullptr && avcodec_open2(c, decoder, nullptr) >= 0 &&
        av_new_packet(packet, int(bytes.size())) >= 0;
    if (ok) {
        std::memcpy(packet->data, bytes.data(), bytes.size());
        ok = avcodec_send_packet(c, packet) >= 0 && avcodec_send_packet(c, nullptr) >= 0 &&
            avcodec_receive_frame(c, frame) >= 0 && frame->width > 0 && frame->height > 0;
    }
    if (ok) {
        *width = frame->width;
        *height = frame->height;
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&c);
    return ok;
}

}  // namespace

OutputFile::OutputFile(const std::string &path, const char *muxer) : path_(path)
{
    if (avformat_alloc_output_context2(&context_, nullptr, muxer, path.c_str()) < 0)
        context_ = nullptr;
    // The MP4 muxer opens the output again by name for its second pass: a file, never more.
    if (context_ != nullptr)
        context_->protocol_whitelist = av_strdup("file");
}

OutputFile::~OutputFile()
{
    if (context_ != nullptr) {
        if (open_)
            avio_closep(&context_->pb);
        avformat_free_context(context_);
    }
    if (!finished_)
        std::remove(path_.c_str());
}

bool OutputFile::canHold(AVCodecID codec) const
{
    return avformat_query_codec(context_->oformat, codec, FF_COMPLIANCE_NORMAL) == 1;
}

AVStream *OutputFile::newStream()
{
    return avformat_new_stream(context_, nullptr);
}

AVStream *OutputFile::copyStream(const AVStream *in)
{
    AVStream *out = newStream();
    if (out == nullptr || avcodec_parameters_copy(out->codecpar, in->codecpar) < 0)
        return nullptr;
    out->codecpar->codec_tag = 0;  // the container's own tag for the codec
    out->time_base = in->time_base;
    if (const AVDictionaryEntry *language = av_dict_get(in->metadata, "language", nullptr, 0))
        av_dict_set(&out->metadata, "language", language->value, 0);
    return out;
}

void OutputFile::setTags(const Tags &tags)
{
    const auto set = [this](const char *key, const std::string &value) {
        if (!value.empty())
            av_dict_set(&context_->metadata, key, value.c_str(), 0);
    };
    set("title", tags.title);
    set("artist", tags.artist);
    set("date", tags.date);
    set("comment", tags.comment);
}

bool OutputFile::addCover(const std::string &bytes)
{
    const AVCodecID codec = pictureCodec(bytes);
    int width = 0;
    int height = 0;
    if (codec == AV_CODEC_ID_NONE || bytes.size() > size_t(INT32_MAX) || !pictureSize(bytes, codec, &width, &height))
        return false;
    AVStream *s = newStream();
    if (s == nullptr)
        return false;
    s->disposition = AV_DISPOSITION_ATTACHED_PIC;
    // ID3's picture type: players show only the front cover as the file's picture.
    av_dict_set(&s->metadata, "comment", "Cover (front)", 0);
    s->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    s->codecpar->codec_id = codec;
    s->codecpar->width = width;
    s->codecpar->height = height;
    s->time_base = AVRational {1, 90000};
    cover_ = bytes;
    coverStream_ = s->index;
    return true;
}

int OutputFile::begin()
{
    AVDictionary *options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    int error = avio_open2(&context_->pb, ("file:" + path_).c_str(), AVIO_FLAG_WRITE, nullptr, &options);
    av_dict_free(&options);
    if (error < 0)
        return error;
    open_ = true;
    if (std::strcmp(context_->oformat->name, "mp3") != 0)
        av_dict_set(&options, "movflags", "+faststart", 0);
    error = avformat_write_header(context_, &options);
    av_dict_free(&options);
    if (error < 0 || coverStream_ < 0)
        return error;
    AVPacket *packet = av_packet_alloc();
    if (packet == nullptr || av_new_packet(packet, int(cover_.size())) < 0) {
        av_packet_free(&packet);
        return AVERROR(ENOMEM);
    }
    std::memcpy(packet->data, cover_.data(), cover_.size());
    packet->stream_index = coverStream_;
    packet->flags |= AV_PKT_FLAG_KEY;
    packet->pts = packet->dts = 0;
    error = av_interleaved_write_frame(context_, packet);
    av_packet_free(&packet);
    return error;
}

int OutputFile::write(AVPacket *packet)
{
    return av_interleaved_write_frame(context_, packet);
}

int OutputFile::finish()
{
    int error = av_write_trailer(context_);
    const int closed = avio_closep(&context_->pb);
    open_ = false;
    if (error == 0)
        error = closed;
    finished_ = error == 0;
    return error;
}

}  // namespace media
