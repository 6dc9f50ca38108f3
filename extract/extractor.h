// The contract between the driver and the site extractors: an extractor works on the result
// slots alone, with a context that offers the page fetch and the address box as it reads now.
#pragma once

#include "hosts.h"
#include "result.h"

#include <functional>
#include <optional>

struct ExtractorContext {
    std::function<std::optional<QString>(const QString &)> GetBody;
    std::function<QString()> currentAddress;  // the text of Text1 at the moment of the call
    const Hosts &hosts;
};

using Extractor = void (*)(Slots &rs, const ExtractorContext &ctx);

// The extractor of a site index, or nullptr for an unknown index.
Extractor extractorFor(int site);

void extractWeishi(Slots &rs, const ExtractorContext &ctx);
void extractMeipai(Slots &rs, const ExtractorContext &ctx);
void extractKuaishou(Slots &rs, const ExtractorContext &ctx);
void extractWeipai(Slots &rs, const ExtractorContext &ctx);
void extractMiaopai(Slots &rs, const ExtractorContext &ctx);
