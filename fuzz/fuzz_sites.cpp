// Each service description's steps (the built-in files, loaded as the program loads them)
// and the display step on a fuzzed page and a fuzzed interface answer,
// with the address checks on a fuzzed address. First byte: the site.
#include "extract/address_check.h"
#include "extract/display.h"
#include "record/extractor.h"
#include "sites/site_registry.h"
#include "sites/sites.h"
#include "fuzz_input.h"
#include "record/hosts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int site = data[0] % 5;
    const QList<QByteArray> parts = splitInput(data + 1, size - 1, 3);
    static const Hosts hosts = Hosts::allOn(QStringLiteral("127.0.0.1:1"));
    const QString address = QString::fromUtf8(parts[2]);
    (void)checkAddress(site, address, hosts);

    Slots rs;
    rs[SlotPage] = QString::fromUtf8(parts[0]);
    const QString answer = QString::fromUtf8(parts[1]);
    const ExtractorContext ctx {
        [&](const QString &) { return std::optional<QString>(answer); }, [&] { return address; }, hosts};
    extractSite(site, rs, ctx);
    (void)planDisplay(site, rs, hosts);
    return 0;
}
