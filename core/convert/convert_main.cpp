// quorvin-convert: the converter's own process. The window and the command line start it for
// each conversion or measurement, so that a file which makes the media libraries crash, run
// away with memory or hang ends this process only. It opens its own files (by the file
// protocol only), takes the cover's bytes on standard input, reports "progress N" lines and
// one last line ("ok", or "error CODE REASON") on standard output.
//
//   quorvin-convert convert --to mp4|m4a|mp3 [--quality N | --bitrate KBITS] [--tags] [--cover]
//                 SOURCE OUTPUT
//   quorvin-convert probe FILE
//
// With --tags, standard input begins with the title, artist, date and comment, each as its
// length in bytes on a line and then its bytes (a page's text is never an argument: a long one
// would pass the system's limit for one); the cover's bytes follow to the end. OUTPUT may be
// /proc/self/fd/N, a file the parent opened.
#include "media_file.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

// AddressSanitizer reserves terabytes of address space for its shadow memory: a build checked
// with it runs without the address-space limit (the deadline still holds).
#if defined(__SANITIZE_ADDRESS__)
#define QUORVIN_ADDRESS_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUORVIN_ADDRESS_CHECKED 1
#endif
#endif

namespace {

constexpr size_t MostCoverBytes = size_t(16) << 20;                    // the cover as the parent sent it, bounded
constexpr size_t MostInputBytes = MostCoverBytes + (size_t(8) << 20);  // and the tags before it

void limitSelf()
{
#ifndef QUORVIN_ADDRESS_CHECKED
    constexpr rlim_t MemoryLimit = rlim_t(1) << 30;  // 1 GiB of address space
    const rlimit memory {MemoryLimit, MemoryLimit};
    setrlimit(RLIMIT_AS, &memory);
#endif
    const rlimit noCore {0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
}

int usage()
{
    std::puts("error usage quorvin-convert convert --to mp4|m4a|mp3 [options] SOURCE OUTPUT | probe FILE");
    return 2;
}

int probe(const std::string &path)
{
    std::string why;
    const std::optional<media::Facts> facts = media::probe(path, &why);
    if (!facts) {
        std::printf("error unreadable %s\n", why.c_str());
        return 1;
    }
    std::printf("duration=%.3f\nwidth=%d\nheight=%d\nvcodec=%s\nacodec=%s\ncontainer=%s\nok\n", facts->duration,
        facts->width, facts->height, facts->vcodec.c_str(), facts->acodec.c_str(), facts->container.c_str());
    return 0;
}

bool readTarget(const std::string &name, media::Target *target)
{
    const convert::KindRow *row = convert::kindRowNamed(name);
    if (row)
        *target = row->kind;
    return row != nullptr;
}

// The options of convert into job; false on a word it does not know.
bool readJob(const std::vector<std::string> &words, media::Job *job, bool *cover)
{
    std::vector<std::string> paths;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string &w = words[i];
        const bool valued = w == "--to" || w == "--quality" || w == "--bitrate";
        if (valued && i + 1 >= words.size())
            return false;
        if (w == "--to" && !readTarget(words[++i], &job->target))
            return false;
        if (w == "--quality")
            job->mp3Quality = std::atoi(words[++i].c_str());
        else if (w == "--bitrate")
            job->mp3Bitrate = std::atoi(words[++i].c_str());
        else if (w == "--tags")
            job->embedTags = true;
        else if (w == "--cover")
            *cover = true;
        else if (!valued && w.rfind("--", 0) == 0)
            return false;
        else if (!valued)
            paths.push_back(w);
    }
    if (paths.size() != 2)
        return false;
    job->source = paths[0];
    job->output = paths[1];
    return true;
}

// Reads what standard input holds for the job: the framed tags, then the cover. False when
// the tags' framing is broken.
bool readInput(media::Job *job, bool cover)
{
    std::string bytes;
    char chunk[65536];
    size_t n = 0;
    while (bytes.size() <= MostInputBytes && (n = std::fread(chunk, 1, sizeof chunk, stdin)) > 0)
        bytes.append(chunk, n);
    if (bytes.size() > MostInputBytes)
        return false;
    size_t at = 0;
    if (job->embedTags) {
        for (std::string *text : {&job->tags.title, &job->tags.artist, &job->tags.date, &job->tags.comment}) {
            const size_t line = bytes.find('\n', at);
            if (line == std::string::npos || line == at || line - at > 9)
                return false;
            const size_t size = std::strtoul(bytes.substr(at, line - at).c_str(), nullptr, 10);
            if (size > bytes.size() - line - 1)
                return false;
            *text = bytes.substr(line + 1, size);
            at = line + 1 + size;
        }
    }
    if (cover && bytes.size() - at <= MostCoverBytes)
        job->cover = bytes.substr(at);
    return true;
}

int convertFile(const std::vector<std::string> &words)
{
    media::Job job;
    bool cover = false;
    if (!readJob(words, &job, &cover) || !readInput(&job, cover))
        return usage();
    job.progress = [](int percent) {
        std::printf("progress %d\n", percent);
        std::fflush(stdout);
    };
    const media::Outcome outcome = media::convert(job);
    if (!outcome.ok()) {
        std::printf("error %s %s\n", outcome.code.c_str(), outcome.reason.c_str());
        return 1;
    }
    std::puts("ok");
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    limitSelf();
    av_log_set_level(AV_LOG_ERROR);
    const std::vector<std::string> words(argv + std::min(argc, 2), argv + argc);
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "probe" && words.size() == 1)
        return probe(words[0]);
    if (mode == "convert")
        return convertFile(words);
    return usage();
}
