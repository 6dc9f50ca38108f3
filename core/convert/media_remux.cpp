// The streams copied into MP4 or M4A, timestamps kept; the progress by the input read.
#include "media_convert.h"

#include "media_input.h"
#include "media_output.h"

#include <algorithm>

namespace media {

Outcome copyStreams(AVFormatContext *in, const Job &job, OutputFile &out)
{
    const bool soundOnly = job.target == Target::M4a;
    std::vector<int> map(in->nb_streams, -1);
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        const AVStream *s = in->streams[i];
        const AVMediaType type = s->codecpar->codec_type;
        const bool wanted = type == AVMEDIA_TYPE_AUDIO || (!soundOnly && type == AVMEDIA_TYPE_VIDEO);
        if (!wanted || (s->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0)
            continue;
        if (!out.canHold(s->codecpar->codec_id)) {
            return {"unfit_codec",
                std::string("the ") + (soundOnly ? "M4A" : "MP4") + " container cannot hold " +
                    avcodec_get_name(s->codecpar->codec_id)};
        }
        AVStream *copy = out.copyStream(s);
        if (copy == nullptr)
            return {"write_failed", "cannot add a stream"};
        map[i] = copy->index;
    }
    if (soundOnly && firstStream(in, AVMEDIA_TYPE_AUDIO) < 0)
        return {"no_audio", "the video has no sound"};
    return writeMapped(in, job, out, map);
}

Outcome begin(const Job &job, OutputFile &out)
{
    if (job.embedTags) {
        out.setTags(job.tags);
        if (!job.cover.empty())
            out.addCover(job.cover);
    }
    if (const int error = out.begin(); error < 0)
        return {"write_failed", "cannot write the header: " + errorText(error)};
    return {};
}

Outcome writeMapped(AVFormatContext *in, const Job &job, OutputFile &out, const std::vector<int> &map)
{
    if (Outcome begun = begin(job, out); !begun.ok())
        return begun;
    Progress progress(in, job.progress);
    AVPacket *packet = av_packet_alloc();
    int error = 0;
    while ((error = av_read_frame(in, packet)) >= 0) {
        const int to = packet->stream_index < int(map.size()) ? map[size_t(packet->stream_index)] : -1;
        if (to < 0) {
            av_packet_unref(packet);
            continue;
        }
        AVStream *target = out.context()->streams[to];
        av_packet_rescale_ts(packet, in->streams[packet->stream_index]->time_base, target->time_base);
        packet->stream_index = to;
        packet->pos = -1;
        if ((error = out.write(packet)) < 0)
            break;
        progress.update();
    }
    av_packet_free(&packet);
    if (error < 0 && error != AVERROR_EOF)
        return {"write_failed", "cannot copy the streams: " + errorText(error)};
    if ((error = out.finish()) < 0)
        return {"write_failed", "cannot finish the file: " + errorText(error)};
    return {};
}

Progress::Progress(AVFormatContext *in, const std::function<void(int)> &report) : in_(in), report_(report)
{
    size_ = in->pb != nullptr ? avio_size(in->pb) : -1;
}

void Progress::update()
{
    if (!report_ || size_ <= 0)
        return;
    const int percent = int(std::clamp<int64_t>(100 * avio_tell(in_->pb) / size_, 0, 100));
    if (percent != last_) {
        last_ = percent;
        report_(percent);
    }
}

}  // namespace media
