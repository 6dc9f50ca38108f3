// The converter's entry: the input opened, the output made, then read back and checked
// before anyone may take it; and the facts of a file, measured.
#include "media_convert.h"
#include "media_input.h"
#include "media_survey.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace media {

namespace {

double seconds(const AVFormatContext *c)
{
    return c->duration > 0 ? double(c->duration) / AV_TIME_BASE : -1;
}

const char *kindOf(AVMediaType type)
{
    return type == AVMEDIA_TYPE_AUDIO ? "sound" : "video";
}

// The output read back: each of the survey's tracks there, in order of its kind, covering the
// time its streams covered in the source, and a video as long as the source says it is.
// An MP3 may differ by one frame more (its encoder's delay and padding).
Outcome check(const std::string &path, const Survey &source, Target target)
{
    std::string why;
    const InputContext out = openInput(path, SavedVideoFormats, &why);
    if (!out)
        return {"check_failed", "the new file cannot be read back: " + why};
    double frame = 0;
    std::vector<const AVStream *> made;
    for (unsigned i = 0; i < out->nb_streams; ++i) {
        const AVStream *s = out->streams[i];
        if ((s->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0)
            continue;
        made.push_back(s);
        if (target == Target::Mp3 && s->codecpar->sample_rate > 0)
            frame = 1152.0 / s->codecpar->sample_rate;
    }
    const double sourceSeconds = seconds(source.in.get());
    const std::vector<Span> spans = spansOf(out.get());
    for (const AVMediaType type : {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO}) {
        std::vector<double> wanted;
        std::vector<double> found;
        for (const Track &t : source.tracks) {
            if (t.type == type)
                wanted.push_back(t.span.seconds());
        }
        for (const AVStream *s : made) {
            if (s->codecpar->codec_type == type)
                found.push_back(size_t(s->index) < spans.size() ? spans[size_t(s->index)].seconds() : 0);
        }
        if (found.size() != wanted.size())
            return {"check_failed", std::string("the new file lacks a ") + kindOf(type) + " stream"};
        for (size_t k = 0; k < wanted.size(); ++k) {
            if (std::abs(found[k] - wanted[k]) > durationTolerance(wanted[k]) + frame) {
                char text[128];
                std::snprintf(text, sizeof text, "the %s is cut short or damaged: it converts to %.2f s of %.2f s",
                    kindOf(type), found[k], wanted[k]);
                return {"check_failed", text};
            }
        }
    }
    // A video is also as long as its source says it is (a cut file says more than it holds);
    // the sound alone covers what the source's sound covers, which may start late or end early.
    const double whole = seconds(out.get());
    if (target == Target::Mp4 && sourceSeconds > 0 &&
        (whole < 0 || std::abs(whole - sourceSeconds) > durationTolerance(sourceSeconds) + frame)) {
        char text[96];
        std::snprintf(text, sizeof text, "the video is cut short or damaged: it converts to %.2f s of %.2f s", whole,
            sourceSeconds);
        return {"check_failed", text};
    }
    return {};
}

const char *muxerOf(Target target)
{
    return convert::kindRow(target).muxer.data();  // the table's texts are literals: terminated
}

}  // namespace

double durationTolerance(double seconds)
{
    return std::max(0.01 * seconds, 0.15);
}

Outcome convert(const Job &job)
{
    // The whole file read first: every stream it holds, also those met only while reading.
    Survey survey;
    if (Outcome surveyed = media::survey(job.source, job.target, &survey); !surveyed.ok())
        return surveyed;
    const bool sound = std::any_of(
        survey.tracks.begin(), survey.tracks.end(), [](const Track &t) { return t.type == AVMEDIA_TYPE_AUDIO; });
    if (job.target != Target::Mp4 && !sound)
        return {"no_audio", "the video has no sound"};
    if (survey.tracks.empty())
        return {"unreadable", "the file has no video or sound stream"};
    std::string why;
    const InputContext in = openInput(job.source, SavedVideoFormats, &why);
    if (!in)
        return {"unreadable", why};
    Outcome made;
    {
        OutputFile out(job.output, muxerOf(job.target));
        if (!out.valid())
            return {"write_failed", "cannot make the output"};
        made =
            job.target == Target::Mp3 ? encodeMp3(in.get(), survey, job, out) : copyStreams(in.get(), survey, job, out);
    }  // an unfinished output is removed here
    if (!made.ok())
        return made;
    Outcome checked = check(job.output, survey, job.target);
    if (!checked.ok())
        std::remove(job.output.c_str());
    return checked;
}

std::optional<Facts> probe(const std::string &path, std::string *why)
{
    const InputContext in = openInput(path, SavedVideoFormats, why);
    if (!in)
        return std::nullopt;
    return factsOf(in.get());
}

Facts factsOf(const AVFormatContext *in)
{
    Facts facts;
    facts.duration = seconds(in);
    facts.container = in->iformat->name;
    if (const int v = firstStream(in, AVMEDIA_TYPE_VIDEO); v >= 0) {
        const AVCodecParameters *p = in->streams[v]->codecpar;
        facts.vcodec = avcodec_get_name(p->codec_id);
        facts.width = p->width;
        facts.height = p->height;
    }
    if (const int a = firstStream(in, AVMEDIA_TYPE_AUDIO); a >= 0)
        facts.acodec = avcodec_get_name(in->streams[a]->codecpar->codec_id);
    return facts;
}

}  // namespace media
