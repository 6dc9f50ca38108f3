// Description sets: any file, and any set text behind a good header, is unpacked or refused
// with a reason; what is unpacked packs back to a set that unpacks the same, and every set
// of files it holds is read like descriptions (no crash, no hang).
#include "sites/site_bundle.h"
#include "sites/site_registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    // Inputs that are not a bundle already are the set's text, compressed behind the header.
    const QByteArray bundle = input.startsWith("quorvin-sites-bundle ")
        ? input
        : QByteArray("quorvin-sites-bundle 1\n") + qCompress(input, 1);
    QString why;
    std::optional<sitebundle::SiteFiles> set = sitebundle::unpack(bundle, &why);
    if (!set) {
        if (why.isEmpty())
            __builtin_trap();
        return 0;
    }
    const std::optional<sitebundle::SiteFiles> again = sitebundle::unpack(sitebundle::pack(*set), &why);
    if (!again || again->files != set->files || again->version != set->version || again->date != set->date)
        __builtin_trap();
    QString ignored;
    descriptionsOf(std::make_shared<const sitebundle::SiteFiles>(std::move(*set)), &ignored);
    return 0;
}
