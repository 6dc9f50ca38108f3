// Text from pages and addresses on a terminal: never as control sequences.
#pragma once

#include <QString>

// text with every control character shown escaped, as jq and ls do: C0 (tab too, and line
// breaks unless keepLineBreaks), DEL and C1 as \xHH ("\x1b" for the escape character).
QString forTerminal(const QString &text, bool keepLineBreaks = false);
