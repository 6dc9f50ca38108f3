// The streams copied into MP4 or M4A, timestamps kept; the progress by the input read.
#include "media_convert.h"

#include "media_input.h"
#include "media_output.h"

#include <algorithm>

namespace media {

Outcome copyStreams(AVFormatContext *in, const Survey &survey, const Job &job, OutputFile &out)
{
    const bool soundOnly = job.target == Target::M4a;
    std::vector<int> trackOut;
    for (const Track &track : survey.tracks) {
        // The track takes its form from the stream that opened it, met late or not.
        const AVStream *s = survey.in->streams[track.source];
        if (!out.canHold(s->codecpar->codec_id)) {
            return {"unfit_codec",
                std::string("the ") + (soundOnly ? "M4A" : "MP4") + " container cannot hold " +
                    avcodec_get_name(s->codecpar->codec_id)};
        }
        AVStream *copy = out.copyStream(s);
        if (copy == nullptr)
            return {"write_failed", "cannot add a stream"};
        trackOut.push_back(copy->index);
    }
    const bool sound = std::any_of(
        survey.tracks.begin(), survey.tracks.end(), [](const Track &t) { return t.type == AVMEDIA_TYPE_AUDIO; });
    if (soundOnly && !sound)
        return {"no_audio", "the video has no sound"};
    std::vector<int> map(survey.track.size(), -1);
    for (size_t i = 0; i < map.size(); ++i) {
        if (survey.track[i] >= 0)
            map[i] = trackOut[size_t(survey.track[i])];
    }
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
