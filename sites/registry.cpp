#include "extractor.h"
#include "sites.h"

Extractor extractorFor(int site)
{
    switch (site) {
    case Weishi: return extractWeishi;
    case Meipai: return extractMeipai;
    case Kuaishou: return extractKuaishou;
    case Weipai: return extractWeipai;
    case Miaopai: return extractMiaopai;
    }
    return nullptr;
}
