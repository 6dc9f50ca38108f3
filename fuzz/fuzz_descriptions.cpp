// The service-description loader on malformed files: it refuses them with a line and a
// reason and never crashes; what it accepts, the steps then run on a fuzzed page.
#include "fuzz_run.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    LoadError error;
    const std::optional<SiteDescription> site = parseSiteDescription(text, QStringLiteral("fuzz.toml"), &error);
    if (!site)
        return 0;
    runOnPage(
        *site, QString::fromUtf8(text), [](const QString &a, const Slots &) { return std::optional<QString>(a); });
    return 0;
}
