// The converter's entry: the input opened, the output made, then read back and checked
// before anyone may take it; and the facts of a file, measured.
#include "media_convert.h"
#include "media_input.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace media {

namespace {

double seconds(const AVFormatContext *c)
{
    return c->duration > 0 ? double(c->duration) / AV_TIME_BASE : -1;
}

// How many streams of each kind the output must have.
struct Expected {
    int video = 0;
    int audio = 0;
};

Expected expectedStreams(const AVFormatContext *in, Target target)
{
    Expected e;
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        const AVStream *s = in->streams[i];
        if ((s->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0)
            continue;
        if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && target == Target::Mp4)
            ++e.video;
        else if (s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && (target != Target::Mp3 || e.audio == 0))
            ++e.audio;
    }
    return e;
}

// The output read back: every stream there and its duration close to the source's.
Outcome check(const std::string &path, const Expected &expected, double sourceSeconds)
{
    std::string why;
    const InputContext out = openInput(path, SavedVideoFormats, &why);
    if (!out)
        return {"check_failed", "the new file cannot be read back: " + why};
    Expected found;
    for (unsigned i = 0; i < out->nb_streams; ++i) {
        const AVStream *s = out->streams[i];
        if ((s->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0)
            continue;
        if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            ++found.video;
        else if (s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            ++found.audio;
    }
    if (found.video != expected.video || found.audio != expected.audio)
        return {"check_failed", "the new file lacks a stream"};
    const double made = seconds(out.get());
    if (sourceSeconds > 0 && (made < 0 || std::abs(made - sourceSeconds) > durationTolerance(sourceSeconds))) {
        char text[96];
        std::snprintf(text, sizeof text, "the video is cut short or damaged: it converts to %.2f s of %.2f s", made,
            sourceSeconds);
        return {"check_failed", text};
    }
    return {};
}

const char *muxerOf(Target target)
{
    switch (target) {
    case Target::Mp4: return "mp4";
    case Target::M4a: return "ipod";
    case Target::Mp3: return "mp3";
    }
    return "mp4";
}

}  // namespace

double durationTolerance(double seconds)
{
    return std::max(0.01 * seconds, 0.15);
}

Outcome convert(const Job &job)
{
    std::string why;
    const InputContext in = openInput(job.source, SavedVideoFormats, &why);
    if (!in)
        return {"unreadable", why};
    const Expected expected = expectedStreams(in.get(), job.target);
    if (job.target != Target::Mp4 && expected.audio == 0)
        return {"no_audio", "the video has no sound"};
    if (expected.video + expected.audio == 0)
        return {"unreadable", "the file has no video or sound stream"};
    const double sourceSeconds = seconds(in.get());
    Outcome made;
    {
        OutputFile out(job.output, muxerOf(job.target));
        if (!out.valid())
            return {"write_failed", "cannot make the output"};
        made = job.target == Target::Mp3 ? encodeMp3(in.get(), job, out) : copyStreams(in.get(), job, out);
    }  // an unfinished output is removed here
    if (!made.ok())
        return made;
    Outcome checked = check(job.output, expected, sourceSeconds);
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
