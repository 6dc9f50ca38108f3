// What a service description may make the program do, whoever wrote it: every cap in one
// place (docs/site-descriptions.md, "What a description can and cannot do", lists them).
#pragma once

#include <QtGlobal>

namespace sitelimits {

// One value (a slot, a named value, a fetched answer), in 16-bit units: the largest page.
inline constexpr qsizetype MaxValueUnits = qsizetype(16) * 1024 * 1024;
// All the values of one extraction together, the page included.
inline constexpr qsizetype MaxTotalUnits = qsizetype(64) * 1024 * 1024;
// Steps and fetch steps of one description.
inline constexpr int MaxSteps = 200;
inline constexpr int MaxFetches = 8;
// Examples of one description.
inline constexpr int MaxExamples = 32;
// A description file, and each of its example files.
inline constexpr qint64 MaxFileBytes = qint64(1024) * 1024;

}  // namespace sitelimits
