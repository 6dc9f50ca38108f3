// The lines quorvin-extract writes on standard error, in the forms log filters know:
// "quorvin-extract: ERROR: ..." for what failed, "quorvin-extract: WARNING: ..." for what
// went otherwise than asked, and plain notes (saved files, retries) for people. -q keeps
// only the errors; --no-warnings drops the warnings.
#pragma once

#include <QString>

namespace messages {

void setQuiet(bool quiet);
void setNoWarnings(bool noWarnings);
bool quiet();

void error(const QString &text);
void warning(const QString &text);
// A note for people: what was saved, converted, fetched.
void note(const QString &text);

}  // namespace messages
