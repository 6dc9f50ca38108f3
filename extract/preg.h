#pragma once

#include <QString>
#include <optional>

// Replaces every match of the pattern patrn in value_ by str, ignoring letter case.
// An invalid pattern yields no value.
std::optional<QString> preg(const QString &value_, const QString &patrn, const QString &str);
