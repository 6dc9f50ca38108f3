// The service-description loader on malformed files: it refuses them with a line and a
// reason and never crashes; what it accepts, the steps then run on a fuzzed page.
#include "extractor.h"
#include "site_registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    LoadError error;
    const std::optional<SiteDescription> site = parseSiteDescription(text, QStringLiteral("fuzz.toml"), &error);
    if (!site)
        return 0;
    static const Hosts hosts = Hosts::allOn(QStringLiteral("127.0.0.1:1"));
    Slots rs;
    rs[SlotPage] = QString::fromUtf8(text);
    const ExtractorContext ctx {[](const QString &a) { return std::optional<QString>(a); },
        [] { return QStringLiteral("http://127.0.0.1:1/media/1"); }, hosts};
    runSteps(*site, rs, ctx);
    return 0;
}
