#include "address_check.h"

#include "site_registry.h"
#include "textcuts.h"

#include <QRegularExpression>

namespace {
const QString NoHttp = QStringLiteral("请在网之前加入http://");
}  // namespace

QString pagePrefix(int site, const Hosts &h)
{
    return sitePrefix(site, QStringLiteral("page"), h);
}

std::optional<QString> checkAddress(int site, const QString &address, const Hosts &h)
{
    const SiteDescription *d = siteDescription(site);
    if (!d)
        return std::nullopt;
    const QString prefix = pagePrefix(site, h);
    if (address.isEmpty())
        return d->checkEmpty;
    if (!address.contains(QStringLiteral("http://"), Qt::CaseSensitive))
        return NoHttp;
    if (!address.contains(prefix, Qt::CaseSensitive))
        return d->checkWrongPrefix;
    if (cuts::removeAll(address, prefix).isEmpty())
        return d->checkOnlyPrefix;
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
