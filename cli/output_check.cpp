#include "output_check.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

std::optional<int> outputFailure()
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return std::nullopt;
    // What was written is lost already; the reason is asked of the descriptor itself (the
    // stream's own write may have been followed by other calls that changed errno).
    std::clearerr(stdout);
    errno = 0;
    const int why = ::write(STDOUT_FILENO, "\n", 1) < 0 ? errno : 0;
    if (why == EPIPE)
        return ExitBrokenPipe;
    std::fprintf(stderr, "quorvin-extract: ERROR: cannot write to standard output: %s\n",
        why != 0 ? std::strerror(why) : "a write failed");
    return ExitOutputFailed;
}
