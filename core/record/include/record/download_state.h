// Where a download of the list stands: the queue that runs it and the history that keeps it
// speak of the same states.
#pragma once

// Converting: a finished download being made into another file (MP4, or its sound alone).
enum class DownloadState { Waiting, Running, Paused, Done, Failed, Cancelled, Converting };
