// The converter's reading path on fuzzed files, limited to the FLV and MP4 demuxers: the
// file opened, its facts read and every packet read, as a conversion reads them.
#include "media_file.h"
#include "media_input.h"

#include <string_view>

extern "C" {
#include <libavutil/log.h>
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    av_log_set_level(AV_LOG_QUIET);
    media::MemoryInput input(std::string_view(reinterpret_cast<const char *>(data), size), "flv,mov");
    AVFormatContext *c = input.context();
    if (c == nullptr)
        return 0;
    (void)media::factsOf(c);
    AVPacket *packet = av_packet_alloc();
    for (int n = 0; n < 100000 && av_read_frame(c, packet) >= 0; ++n) {
        if (packet->stream_index < 0 || unsigned(packet->stream_index) >= c->nb_streams)
            __builtin_trap();  // a packet of a stream the file does not have
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return 0;
}
