#include "sites.h"

#include <array>

namespace {
const std::array<const char *, SiteCount> Captions = {"微视", "美拍", "GIF快手", "微拍", "秒拍"};
const std::array<const char *, SiteCount> Names = {"weishi", "meipai", "kuaishou", "weipai", "miaopai"};
}  // namespace

QString siteCaption(int site)
{
    return site >= 0 && site < SiteCount ? QString::fromUtf8(Captions[site]) : QString();
}

QString siteChosenText(int site)
{
    return QStringLiteral("您当前选择的是") + siteCaption(site) + QStringLiteral("视频提取..");
}

int siteFromName(const QString &name)
{
    for (int i = 0; i < SiteCount; ++i) {
        if (name == QString::fromUtf8(Names[i]) || name == QString::number(i))
            return i;
    }
    return -1;
}

QString siteName(int site)
{
    return site >= 0 && site < SiteCount ? QString::fromUtf8(Names[site]) : QString();
}
