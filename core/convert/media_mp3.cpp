// The sound alone as MP3: the first sound stream decoded and encoded with LAME, variable
// bitrate by quality or a fixed bitrate. LAME takes the decoder's planar float as it is; only
// the frame size differs (1024 samples of AAC for 1152 of MP3), which a sample FIFO evens out.
// Another sample format, rate or layout goes through the resampler.
#include "media_convert.h"
#include "media_input.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace media {

namespace {

constexpr int LameRates[] = {44100, 48000, 32000, 22050, 24000, 16000, 11025, 12000, 8000};

// The decoder, the encoder and what lies between them, freed together.
struct Sound {
    AVFormatContext *in = nullptr;
    const Survey *survey = nullptr;             // which input streams are the sound track
    const AVCodecParameters *params = nullptr;  // the sound track's form
    AVCodecContext *decoder = nullptr;
    AVCodecContext *encoder = nullptr;
    SwrContext *resampler = nullptr;
    AVAudioFifo *fifo = nullptr;
    AVFrame *decoded = nullptr;
    AVFrame *converted = nullptr;
    AVPacket *packet = nullptr;
    AVStream *out = nullptr;
    int64_t samplesOut = 0;
    // The form of the frames the resampler was made for.
    bool formKnown = false;
    int format = -1;
    int rate = 0;
    AVChannelLayout layout {};

    ~Sound()
    {
        avcodec_free_context(&decoder);
        avcodec_free_context(&encoder);
        swr_free(&resampler);
        av_channel_layout_uninit(&layout);
        if (fifo != nullptr)
            av_audio_fifo_free(fifo);
        av_frame_free(&decoded);
        av_frame_free(&converted);
        av_packet_free(&packet);
    }
};

int rateFor(int sourceRate)
{
    for (const int rate : LameRates) {
        if (rate == sourceRate)
            return rate;
    }
    return 44100;
}

Outcome openCoders(Sound &s, const Job &job, OutputFile &file)
{
    const AVCodecParameters *source = s.params;
    const AVCodec *decoder = avcodec_find_decoder(source->codec_id);
    const AVCodec *encoder = avcodec_find_encoder_by_name("libmp3lame");
    if (decoder == nullptr)
        return {"unfit_codec", std::string("no decoder for ") + avcodec_get_name(source->codec_id)};
    if (encoder == nullptr)
        return {"unfit_codec", "no MP3 encoder"};
    s.decoder = avcodec_alloc_context3(decoder);
    s.encoder = avcodec_alloc_context3(encoder);
    if (s.decoder == nullptr || s.encoder == nullptr || avcodec_parameters_to_context(s.decoder, source) < 0 ||
        avcodec_open2(s.decoder, decoder, nullptr) < 0)
        return {"unreadable", "cannot decode the sound"};
    AVCodecContext *e = s.encoder;
    e->sample_rate = rateFor(s.decoder->sample_rate);
    e->sample_fmt = AV_SAMPLE_FMT_FLTP;
    av_channel_layout_default(&e->ch_layout, s.decoder->ch_layout.nb_channels >= 2 ? 2 : 1);
    e->time_base = AVRational {1, e->sample_rate};
    if (job.mp3Bitrate > 0) {
        e->bit_rate = int64_t(job.mp3Bitrate) * 1000;
    } else {
        e->flags |= AV_CODEC_FLAG_QSCALE;
        e->global_quality = FF_QP2LAMBDA * job.mp3Quality;
    }
    if (avcodec_open2(e, encoder, nullptr) < 0)
        return {"write_failed", "cannot start the MP3 encoder"};
    s.out = file.newStream();
    if (s.out == nullptr || avcodec_parameters_from_context(s.out->codecpar, e) < 0)
        return {"write_failed", "cannot add the sound stream"};
    s.out->time_base = e->time_base;
    s.fifo = av_audio_fifo_alloc(e->sample_fmt, e->ch_layout.nb_channels, e->frame_size);
    s.decoded = av_frame_alloc();
    s.converted = av_frame_alloc();
    s.packet = av_packet_alloc();
    if (s.fifo == nullptr || s.decoded == nullptr || s.converted == nullptr || s.packet == nullptr)
        return {"write_failed", "out of memory"};
    return {};
}

// Whether frames of this form go to the encoder as they are.
bool sameSamples(int format, int rate, const AVChannelLayout &layout, const AVCodecContext *e)
{
    return format == e->sample_fmt && rate == e->sample_rate && av_channel_layout_compare(&layout, &e->ch_layout) == 0;
}

// The resampler for frames of this form, made anew when the form changes (a decoder may give
// its frames another layout than its setup said, as PCM in Matroska does); none when they
// go to the encoder as they are.
int resamplerFor(Sound &s, int format, int rate, const AVChannelLayout &layout)
{
    const bool same =
        s.formKnown && format == s.format && rate == s.rate && av_channel_layout_compare(&layout, &s.layout) == 0;
    if (same)
        return 0;
    swr_free(&s.resampler);
    s.formKnown = true;
    s.format = format;
    s.rate = rate;
    av_channel_layout_uninit(&s.layout);
    if (const int error = av_channel_layout_copy(&s.layout, &layout); error < 0)
        return error;
    if (sameSamples(format, rate, layout, s.encoder))
        return 0;
    const int error = swr_alloc_set_opts2(&s.resampler, &s.encoder->ch_layout, s.encoder->sample_fmt,
        s.encoder->sample_rate, &s.layout, AVSampleFormat(format), rate, 0, nullptr);
    return error < 0 ? error : swr_init(s.resampler);
}

int openResampler(Sound &s)
{
    return resamplerFor(s, s.decoder->sample_fmt, s.decoder->sample_rate, s.decoder->ch_layout);
}

// Samples into the FIFO, through the resampler when there is one; frame null flushes it.
int queue(Sound &s, AVFrame *frame)
{
    if (frame != nullptr) {
        // A layout left unsaid (PCM in Matroska) is the usual one for its channel count.
        if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
            const int channels = frame->ch_layout.nb_channels;
            av_channel_layout_uninit(&frame->ch_layout);
            av_channel_layout_default(&frame->ch_layout, channels);
        }
        if (const int error = resamplerFor(s, frame->format, frame->sample_rate, frame->ch_layout); error < 0)
            return error;
    }
    if (s.resampler == nullptr) {
        if (frame == nullptr)
            return 0;
        return av_audio_fifo_write(s.fifo, reinterpret_cast<void **>(frame->extended_data), frame->nb_samples) < 0
            ? AVERROR(ENOMEM)
            : 0;
    }
    av_frame_unref(s.converted);
    s.converted->format = s.encoder->sample_fmt;
    s.converted->sample_rate = s.encoder->sample_rate;
    av_channel_layout_copy(&s.converted->ch_layout, &s.encoder->ch_layout);
    if (const int error = swr_convert_frame(s.resampler, s.converted, frame); error < 0)
        return error;
    if (s.converted->nb_samples == 0)
        return 0;
    return av_audio_fifo_write(s.fifo, reinterpret_cast<void **>(s.converted->extended_data), s.converted->nb_samples) <
            0
        ? AVERROR(ENOMEM)
        : 0;
}

// Every packet the encoder has ready, written.
int drainEncoder(Sound &s, OutputFile &file)
{
    int error = 0;
    while ((error = avcodec_receive_packet(s.encoder, s.packet)) >= 0) {
        av_packet_rescale_ts(s.packet, s.encoder->time_base, s.out->time_base);
        s.packet->stream_index = s.out->index;
        if ((error = file.write(s.packet)) < 0)
            return error;
    }
    return error == AVERROR(EAGAIN) || error == AVERROR_EOF ? 0 : error;
}

// Whole encoder frames out of the FIFO; at the end (last) the rest as a short one.
int encodeQueued(Sound &s, OutputFile &file, bool last)
{
    const int frameSize = s.encoder->frame_size;
    while (av_audio_fifo_size(s.fifo) >= frameSize || (last && av_audio_fifo_size(s.fifo) > 0)) {
        AVFrame *frame = av_frame_alloc();
        frame->nb_samples = std::min(frameSize, av_audio_fifo_size(s.fifo));
        frame->format = s.encoder->sample_fmt;
        frame->sample_rate = s.encoder->sample_rate;
        av_channel_layout_copy(&frame->ch_layout, &s.encoder->ch_layout);
        int error = av_frame_get_buffer(frame, 0);
        if (error >= 0 &&
            av_audio_fifo_read(s.fifo, reinterpret_cast<void **>(frame->data), frame->nb_samples) < frame->nb_samples)
            error = AVERROR(EIO);
        frame->pts = s.samplesOut;
        s.samplesOut += frame->nb_samples;
        if (error >= 0)
            error = avcodec_send_frame(s.encoder, frame);
        av_frame_free(&frame);
        if (error < 0 || (error = drainEncoder(s, file)) < 0)
            return error;
    }
    if (!last)
        return 0;
    const int error = avcodec_send_frame(s.encoder, nullptr);
    return error < 0 ? error : drainEncoder(s, file);
}

// Every frame the decoder has ready, queued and encoded.
int drainDecoder(Sound &s, OutputFile &file)
{
    int error = 0;
    while ((error = avcodec_receive_frame(s.decoder, s.decoded)) >= 0) {
        error = queue(s, s.decoded);
        av_frame_unref(s.decoded);
        if (error < 0 || (error = encodeQueued(s, file, false)) < 0)
            return error;
    }
    return error == AVERROR(EAGAIN) || error == AVERROR_EOF ? 0 : error;
}

// Reads the input to its end, the sound stream's packets decoded and encoded as they come.
int transcode(Sound &s, OutputFile &file, const Job &job)
{
    Progress progress(s.in, job.progress);
    AVPacket *packet = av_packet_alloc();
    int error = 0;
    while ((error = av_read_frame(s.in, packet)) >= 0) {
        if (s.survey->trackOf(packet->stream_index) == 0) {
            // A damaged packet is skipped as a player skips it; the check afterwards judges the whole.
            if (avcodec_send_packet(s.decoder, packet) >= 0)
                error = drainDecoder(s, file);
        }
        av_packet_unref(packet);
        progress.update();
        if (error < 0)
            break;
    }
    av_packet_free(&packet);
    if (error < 0 && error != AVERROR_EOF)
        return error;
    avcodec_send_packet(s.decoder, nullptr);
    if ((error = drainDecoder(s, file)) < 0 || (error = queue(s, nullptr)) < 0)
        return error;
    return encodeQueued(s, file, true);
}

}  // namespace

Outcome encodeMp3(AVFormatContext *in, const Survey &survey, const Job &job, OutputFile &out)
{
    Sound s;
    s.in = in;
    s.survey = &survey;
    if (survey.tracks.empty())
        return {"no_audio", "the video has no sound"};
    s.params = survey.in->streams[survey.tracks.front().source]->codecpar;
    if (Outcome opened = openCoders(s, job, out); !opened.ok())
        return opened;
    if (openResampler(s) < 0)
        return {"write_failed", "cannot convert the samples"};
    if (Outcome begun = begin(job, out); !begun.ok())
        return begun;
    if (const int error = transcode(s, out, job); error < 0)
        return {"write_failed", "cannot encode the sound: " + errorText(error)};
    if (const int error = out.finish(); error < 0)
        return {"write_failed", "cannot finish the file: " + errorText(error)};
    return {};
}

}  // namespace media
