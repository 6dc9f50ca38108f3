#include "media_survey.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace media {

void Span::add(const AVPacket *packet, AVRational timeBase)
{
    const int64_t at = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (at == AV_NOPTS_VALUE)
        return;
    const double from = double(at) * av_q2d(timeBase);
    const double to = double(at + std::max<int64_t>(packet->duration, 0)) * av_q2d(timeBase);
    start = seen ? std::min(start, from) : from;
    end = seen ? std::max(end, to) : to;
    seen = true;
}

namespace {

// True when b continues a: the same codec in the same form, so its packets may follow a's in
// one track and a player reads them with a's setup.
bool sameForm(const AVCodecParameters *a, const AVCodecParameters *b)
{
    if (a->codec_id != b->codec_id)
        return false;
    // The codec's own setup (AAC's or H.264's configuration record) says it all when both
    // have one; a stream met late has its rate and channels only from the container's flags.
    if (a->extradata_size > 0 && b->extradata_size > 0)
        return a->extradata_size == b->extradata_size &&
            std::memcmp(a->extradata, b->extradata, size_t(a->extradata_size)) == 0;
    if (a->codec_type == AVMEDIA_TYPE_AUDIO)
        return a->sample_rate == b->sample_rate && a->ch_layout.nb_channels == b->ch_layout.nb_channels;
    return a->width == b->width && a->height == b->height;
}

bool wanted(const AVStream *s, Target target)
{
    if ((s->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0)
        return false;
    const AVMediaType type = s->codecpar->codec_type;
    return type == AVMEDIA_TYPE_AUDIO || (type == AVMEDIA_TYPE_VIDEO && target == Target::Mp4);
}

// Plans input stream i; late: the reader met it only while reading. False when it is refused.
bool place(Survey &survey, unsigned i, bool late, Target target)
{
    const AVStream *s = survey.in->streams[i];
    if (survey.track.size() <= i)
        survey.track.resize(i + 1, -1);
    if (!wanted(s, target))
        return true;
    const AVMediaType type = s->codecpar->codec_type;
    const auto earlier =
        std::find_if(survey.tracks.begin(), survey.tracks.end(), [type](const Track &t) { return t.type == type; });
    if (earlier == survey.tracks.end() || (!late && target != Target::Mp3)) {
        survey.track[i] = int(survey.tracks.size());
        survey.tracks.push_back({type, int(i), {}});
        return true;
    }
    if (!late)
        return true;  // MP3 holds the first sound track only
    if (!sameForm(survey.in->streams[earlier->source]->codecpar, s->codecpar))
        return false;
    survey.track[i] = int(earlier - survey.tracks.begin());
    return true;
}

}  // namespace

Outcome survey(const std::string &path, Target target, Survey *out)
{
    std::string why;
    out->in = openInput(path, SavedVideoFormats, &why);
    if (!out->in)
        return {"unreadable", why};
    AVFormatContext *in = out->in.get();
    const unsigned atOpen = in->nb_streams;
    for (unsigned i = 0; i < atOpen; ++i)
        place(*out, i, false, target);
    AVPacket *packet = av_packet_alloc();
    if (packet == nullptr)
        return {"write_failed", "out of memory"};
    Outcome outcome;
    int error = 0;
    while ((error = av_read_frame(in, packet)) >= 0) {
        const unsigned index = unsigned(packet->stream_index);
        // A stream the reader met only now is planned at its first packet, when its setup
        // (the codec's configuration record) has been read.
        if (index >= out->track.size() && index >= atOpen) {
            for (unsigned i = unsigned(out->track.size()); i <= index; ++i) {
                if (!place(*out, i, true, target)) {
                    char text[128];
                    std::snprintf(text, sizeof text, "the %s changes its form at %.1f s, which one file cannot hold",
                        in->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO ? "sound" : "video",
                        packet->pts == AV_NOPTS_VALUE ? 0.0
                                                      : double(packet->pts) * av_q2d(in->streams[index]->time_base));
                    outcome = {"changed_stream", text};
                    break;
                }
            }
            if (!outcome.ok())
                break;
        }
        if (const int t = out->trackOf(packet->stream_index); t >= 0)
            out->tracks[size_t(t)].span.add(packet, in->streams[index]->time_base);
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    if (!outcome.ok())
        return outcome;
    if (error != AVERROR_EOF && out->tracks.empty())
        return {"unreadable", "cannot read the file: " + errorText(error)};
    out->track.resize(in->nb_streams, -1);
    return {};
}

std::vector<Span> spansOf(AVFormatContext *in)
{
    std::vector<Span> spans(in->nb_streams);
    AVPacket *packet = av_packet_alloc();
    while (packet != nullptr && av_read_frame(in, packet) >= 0) {
        const size_t index = size_t(packet->stream_index);
        if (index >= spans.size())
            spans.resize(index + 1);
        spans[index].add(packet, in->streams[index]->time_base);
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return spans;
}

}  // namespace media
