#include "extract/address_check.h"

#include "sites/site_registry.h"
#include "sites/textcuts.h"

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
    return checkAddress(siteDescription(site), address, h);
}

std::optional<QString> checkAddress(const SiteDescription *d, const QString &address, const Hosts &h)
{
    if (!d)
        return std::nullopt;
    const QString prefix = prefixAddress(*d, QStringLiteral("page"), h);
    if (address.isEmpty())
        return d->checkEmpty;
    if (!address.contains(QStringLiteral("http://"), Qt::CaseSensitive))
        return NoHttp;
    // The address is the service's only when it begins with the page prefix: one that merely
    // holds it (in a query, say) would be fetched from another host.
    if (!address.startsWith(prefix, Qt::CaseSensitive))
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

namespace {

// Schemes are matched without case: "HTTP://" is written by some keyboards and apps.
bool addressStartsAt(const QString &text, qsizetype at)
{
    const QStringView rest = QStringView(text).mid(at);
    return rest.startsWith(u"http://", Qt::CaseInsensitive) || rest.startsWith(u"https://", Qt::CaseInsensitive);
}

// The address with its scheme and host in lower case, as every page prefix is written.
QString lowerSchemeAndHost(const QString &address)
{
    const qsizetype host = address.indexOf(u"://") + 3;
    qsizetype end = host;
    while (end < address.size() && !QStringView(u"/?#").contains(address.at(end)))
        ++end;
    return address.left(end).toLower() + address.mid(end);
}

// Printable ASCII: everything else (white space, controls, Chinese text, full-width
// punctuation, emoji, zero-width spaces, byte-order marks) ends an address.
bool addressCharacter(QChar c)
{
    return c.unicode() > 0x20 && c.unicode() < 0x7f;
}

}  // namespace

QStringList addressesIn(const QString &text)
{
    QStringList found;
    qsizetype at = 0;
    while (at < text.size()) {
        if (!addressStartsAt(text, at)) {
            ++at;
            continue;
        }
        qsizetype end = at + (text.at(at + 4).toLower() == u's' ? 8 : 7);
        while (end < text.size() && addressCharacter(text.at(end)) &&
            !(addressStartsAt(text, end) && text.at(end - 1) != u'='))
            ++end;
        qsizetype last = end;
        while (last > at && QStringView(u".,;:!?)]}>'\"").contains(text.at(last - 1)))
            --last;
        found << lowerSchemeAndHost(text.mid(at, last - at));
        at = end;
    }
    return found;
}

QString shareAddressIn(const QString &text, const Hosts &h)
{
    const QStringList addresses = addressesIn(text);
    for (const QString &address : addresses) {
        for (int site = 0; site < SiteCount; ++site) {
            const QString prefix = pagePrefix(site, h);
            if (!prefix.isEmpty() && address.startsWith(prefix))
                return address;
        }
    }
    return addresses.isEmpty() ? QString() : addresses.first();
}

QStringList shareAddressesIn(const QString &text, const Hosts &h)
{
    QStringList found;
    for (const QString &address : addressesIn(text)) {
        if (siteForAddress(address, h) >= 0 && !found.contains(address))
            found << address;
    }
    return found;
}

QString withoutQuery(const QString &address)
{
    const qsizetype end = address.indexOf(QRegularExpression(QStringLiteral("[?#]")));
    return end < 0 ? address : address.left(end);
}

QString videoIdOf(const QString &address, int site, const Hosts &h)
{
    QString id = withoutQuery(address);
    const QString prefix = pagePrefix(site, h);
    if (!prefix.isEmpty() && id.startsWith(prefix))
        id.remove(0, prefix.size());
    while (id.startsWith(u'/'))
        id.remove(0, 1);
    if (id.endsWith(u".htm"))
        id.chop(4);
    return id;
}
