// Whether a video file of unknown length arrived whole, judged by its own framing: the sizes
// of an MP4's top-level boxes and of an FLV's tags must add up to the file's end.
#pragma once

#include <QtGlobal>

enum class Framing {
    Whole,    // every box or tag ends within the file, the last one at its end
    Cut,      // the last box or tag runs past the end of the file
    Unknown,  // neither MP4 nor FLV: nothing to judge by
};

// Reads only the headers, through fd (positioned reads; the offset is left as it was).
Framing checkFraming(int fd, qint64 size);
