#include "net/proxy.h"

#include "net/network_policy.h"

#include <QStringList>

namespace fetch {

namespace {

QString environment(const char *name)
{
    return QString::fromLocal8Bit(qgetenv(name)).trimmed();
}

// The lower-case variable, else its upper-case form where one is honoured.
QString variable(const char *lower, const char *upper)
{
    const QString value = environment(lower);
    return value.isEmpty() && upper ? environment(upper) : value;
}

struct Parsed {
    QNetworkProxy proxy;
    QString problem;
};

Parsed parse(const QString &text)
{
    Parsed out;
    const QUrl url =
        QUrl::fromUserInput(text.contains(QStringLiteral("://")) ? text : QStringLiteral("http://") + text);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty()) {
        out.problem = QStringLiteral("not a proxy address");
        return out;
    }
    if (scheme == u"https") {
        out.problem = QStringLiteral("a TLS connection to the proxy is not supported (use http:// or socks5://)");
        return out;
    }
    QNetworkProxy::ProxyType type = QNetworkProxy::HttpProxy;
    if (scheme == u"socks5" || scheme == u"socks5h")
        type = QNetworkProxy::Socks5Proxy;
    else if (scheme != u"http") {
        out.problem = QStringLiteral("unknown proxy type \"%1\"").arg(scheme);
        return out;
    }
    out.proxy = QNetworkProxy(type, url.host(), quint16(url.port(1080)), url.userName(), url.password());
    return out;
}

// True when host matches an entry of no_proxy: "*", a name and its subdomains
// ("example.com" or ".example.com"), or an address as written.
bool bypassed(const QString &host, const QString &noProxy)
{
    const QString name = host.toLower();
    for (QString entry : noProxy.split(u',', Qt::SkipEmptyParts)) {
        entry = entry.trimmed().toLower();
        if (entry == u"*")
            return true;
        const qsizetype colon = entry.lastIndexOf(u':');
        if (colon > 0 && !entry.contains(u']') && entry.count(u':') == 1)
            entry = entry.left(colon);  // a port is not told apart
        if (entry.startsWith(u'.'))
            entry = entry.mid(1);
        if (!entry.isEmpty() && (name == entry || name.endsWith(u'.' + entry)))
            return true;
    }
    return false;
}

}  // namespace

void setProxyChoice(std::optional<QString> proxy)
{
    NetworkPolicy::Choice choice = policy().choice();
    choice.proxy = proxy;
    policy().apply(choice);
}

QString proxyProblem(const QString &proxy)
{
    return proxy.trimmed().isEmpty() ? QString() : parse(proxy.trimmed()).problem;
}

QNetworkProxy proxyFor(const QUrl &url)
{
    return policy().proxyFor(url);
}

QNetworkProxy proxyUnder(const std::optional<QString> &chosen, const QUrl &url)
{
    QString text;
    if (chosen) {
        text = *chosen;
    } else {
        if (bypassed(url.host(), variable("no_proxy", "NO_PROXY")))
            return QNetworkProxy::NoProxy;
        // HTTP_PROXY is left alone: a web server's programs get it from a request's header.
        text = url.scheme() == u"https" ? variable("https_proxy", "HTTPS_PROXY") : variable("http_proxy", nullptr);
        if (text.isEmpty())
            text = variable("all_proxy", "ALL_PROXY");
    }
    if (text.isEmpty())
        return QNetworkProxy::NoProxy;
    const Parsed parsed = parse(text);
    // A proxy address that cannot be used is not skipped in silence: the request fails
    // through a proxy that cannot be reached, and says so.
    if (!parsed.problem.isEmpty())
        return QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("0.0.0.0"), 1);
    return parsed.proxy;
}

}  // namespace fetch
