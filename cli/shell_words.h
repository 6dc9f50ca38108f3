// --exec's command as a POSIX shell splits it into words (single quotes, double quotes and
// backslashes; nothing expanded, nothing run), and the one form that would hand a page's
// text to a shell after all.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The words of command; no value when a quote is left open.
std::optional<QStringList> shellWords(const QString &command);

// Why words may not run with {} in them: {} inside the script of "sh -c" (or bash, dash,
// zsh, ksh) would be read by that shell, so a title's $(...) would run. Empty when fine.
QString shellScriptProblem(const QStringList &words);
