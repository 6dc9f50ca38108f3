// --exec's command as a POSIX shell splits it into words (single quotes, double quotes and
// backslashes; nothing expanded, nothing run), and the one form that would hand a page's
// text to a shell after all.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The words of command; no value when a quote is left open. With comments, an unquoted #
// that starts a word starts a comment to the end of its line, as a shell reads a script.
std::optional<QStringList> shellWords(const QString &command, bool comments = false);

// Which word is the script of "sh -c" (or bash, dash, zsh, ksh, busybox): with c among its
// options, the first word after them ("--" ends them); -1 when there is none.
qsizetype shellScriptIndex(const QStringList &words);

// Why words may not run as they are: {} or any field inside a shell's script would be read
// by that shell, so a title's $(...) would run. Empty when fine.
QString shellScriptProblem(const QStringList &words);
