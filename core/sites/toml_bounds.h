// Bounds a description's TOML before the reader sees it: toml++ recurses once per part of a
// dotted key and once per table-header part, which no limit of its own covers.
#pragma once

#include "sites/site_description.h"

#include <QByteArray>
#include <QString>
#include <optional>

// The refusal of a text whose lines pass the length limit, or whose keys and brackets nest
// deeper than the depth limit; text is the file as written, ascii what AsciiOnly made of it
// (the same lines, every string a basic string).
std::optional<LoadError> tomlOutOfBounds(const QString &text, const QByteArray &ascii);

// The line (from 1) holding the first byte that is not UTF-8; 0 when all of it is.
int firstBadUtf8Line(const QByteArray &bytes);
