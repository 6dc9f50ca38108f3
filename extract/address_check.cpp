#include "address_check.h"

#include "sites.h"
#include "textcuts.h"

#include <QRegularExpression>
#include <array>

namespace {

struct CheckTexts {
    const char *empty;
    const char *wrongPrefix;
    const char *onlyPrefix;
};

const char *const NoHttp = "请在网之前加入http://";

const std::array<CheckTexts, SiteCount> Texts = {{
    {"请您输入微视网页版地址..", "您输入的地址有误,请检查!如果网之前没有www，请加www",
     "请输入正确的微视地址..如果网之前没有www，请加www"},
    {"请您输入美拍网页版地址..", "您输入的地址有误,请检查!", "请输入正确的美拍地址.."},
    {"请您输入快手网页版地址..", "您输入的地址有误,请检查!", "请输入正确的快手地址.."},
    {"请您输入微拍网页版地址..", "您输入的地址有误,请检查!", "请输入正确的微拍地址.."},
    {"请您输入秒拍网页版地址..", "您输入的地址有误,请检查!如果网之前没有www，请加www",
     "请输入正确的秒拍地址..如果网之前没有www，请加www"},
}};

}  // namespace

QString pagePrefix(int site, const Hosts &h)
{
    switch (site) {
    case Weishi: return h.WeishiPagePrefix;
    case Meipai: return h.MeipaiPagePrefix;
    case Kuaishou: return h.KuaishouPagePrefix;
    case Weipai: return h.WeipaiPagePrefix;
    case Miaopai: return h.MiaopaiPagePrefix;
    }
    return QString();
}

std::optional<QString> checkAddress(int site, const QString &address, const Hosts &h)
{
    if (site < 0 || site >= SiteCount)
        return std::nullopt;
    const CheckTexts &texts = Texts[site];
    const QString prefix = pagePrefix(site, h);
    if (address.isEmpty())
        return QString::fromUtf8(texts.empty);
    if (!address.contains(QStringLiteral("http://"), Qt::CaseSensitive))
        return QString::fromUtf8(NoHttp);
    if (!address.contains(prefix, Qt::CaseSensitive))
        return QString::fromUtf8(texts.wrongPrefix);
    if (cuts::removeAll(address, prefix).isEmpty())
        return QString::fromUtf8(texts.onlyPrefix);
    return std::nullopt;
}

int siteForAddress(const QString &text, const Hosts &h)
{
    int found = -1;
    for (int site = 0; site < SiteCount; ++site) {
        const QString prefix = pagePrefix(site, h);
        if (prefix.isEmpty() || !text.startsWith(prefix))
            continue;
        if (found >= 0)
            return -1;  // ambiguous: leave the choice to the user
        found = site;
    }
    return found;
}

QString droppedAddress(const QString &text)
{
    const QString trimmed = text.trimmed();
    const qsizetype end = trimmed.indexOf(QRegularExpression(QStringLiteral("[\\r\\n]")));
    return (end < 0 ? trimmed : trimmed.left(end)).trimmed();
}

QString shareAddressIn(const QString &text, const Hosts &h)
{
    qsizetype start = -1;
    qsizetype end = -1;
    for (int site = 0; site < SiteCount; ++site) {
        const QString prefix = pagePrefix(site, h);
        if (prefix.isEmpty())
            continue;
        for (qsizetype at = text.indexOf(prefix); at >= 0; at = text.indexOf(prefix, at + 1)) {
            qsizetype stop = at + prefix.size();
            while (stop < text.size() && !text.at(stop).isSpace())
                ++stop;
            // A prefix with nothing after it is no address; the earliest address wins.
            if (stop > at + prefix.size() && (start < 0 || at < start)) {
                start = at;
                end = stop;
            }
            if (stop > at + prefix.size())
                break;
        }
    }
    return start < 0 ? QString() : text.mid(start, end - start);
}
