// Standard output as scripts rely on it: a write that failed is never a success.
#pragma once

#include <optional>

// Flushes standard output. No value while everything written reached it; else the status to
// leave with: ExitBrokenPipe, quietly, when the reader went away (`| head`), or
// ExitOutputFailed with a message on standard error (a full disk, /dev/full).
std::optional<int> outputFailure();

// The status of a run whose reader went away, as a shell reports a process SIGPIPE ended.
inline constexpr int ExitBrokenPipe = 141;
inline constexpr int ExitOutputFailed = 1;
