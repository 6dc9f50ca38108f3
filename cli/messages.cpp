#include "messages.h"

#include <cstdio>

namespace messages {

namespace {
bool g_quiet = false;
bool g_noWarnings = false;

void line(const char *kind, const QString &text)
{
    std::fprintf(stderr, "quorvin-extract: %s%s\n", kind, text.toUtf8().constData());
}
}  // namespace

void setQuiet(bool quiet)
{
    g_quiet = quiet;
}

void setNoWarnings(bool noWarnings)
{
    g_noWarnings = noWarnings;
}

bool quiet()
{
    return g_quiet;
}

void error(const QString &text)
{
    line("ERROR: ", text);
}

void warning(const QString &text)
{
    if (!g_quiet && !g_noWarnings)
        line("WARNING: ", text);
}

void note(const QString &text)
{
    if (!g_quiet)
        std::fprintf(stderr, "%s\n", text.toUtf8().constData());
}

}  // namespace messages
