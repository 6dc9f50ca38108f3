// Where a download of the list stands: the queue that runs it and the history that keeps it
// speak of the same states.
#pragma once

enum class DownloadState { Waiting, Running, Paused, Done, Failed, Cancelled };
