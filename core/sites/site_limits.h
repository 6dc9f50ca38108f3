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
// Pattern operations (preg) of one description; the memory RE2 may use for each one (the
// compiled program and its matching cache), and for all the patterns of the user's and the
// signed sets' descriptions alive together (the built-in ones are not counted).
inline constexpr int MaxPatterns = 64;
inline constexpr qint64 PatternMaxMem = qint64(1) * 1024 * 1024;
inline constexpr qint64 MaxPatternMemory = qint64(128) * 1024 * 1024;
// The work of one extraction: 16-bit units (or UTF-8 bytes, for patterns) its operations may
// read together. The built-in descriptions need far less on the largest page.
inline constexpr qint64 MaxWorkUnits = qint64(512) * 1024 * 1024;
// A line of a description file, and how deep its keys and brackets may nest.
inline constexpr int MaxLineLength = 4096;
inline constexpr int MaxKeyDepth = 32;
// Examples of one description.
inline constexpr int MaxExamples = 32;
// A description file, and each of its example files.
inline constexpr qint64 MaxFileBytes = qint64(1024) * 1024;

}  // namespace sitelimits
