// The one proxy every request of the program goes through: pages, fetch steps, pictures,
// downloads, the version check and the set update all use the network manager of their
// thread, and that manager asks here for each address.
//
// By default the proxy comes from the environment only, as curl and wget read it:
// http_proxy for http addresses, https_proxy for https ones, all_proxy for both, no_proxy
// for the hosts that go direct (upper-case names too, except HTTP_PROXY). Desktop settings
// and automatic proxy scripts are never read: looking them up can block. A proxy given by
// the user (--proxy, the list window's 代理 field) replaces the environment; an empty one
// turns the proxy off.
#pragma once

#include <QNetworkProxy>
#include <QString>
#include <QUrl>
#include <optional>

namespace fetch {

// The proxy the user chose: no value to follow the environment, an empty text for none.
// Takes effect for the next connection made.
void setProxyChoice(std::optional<QString> proxy);

// Why a proxy address cannot be used ("" when it can): http:// and socks5:// (socks5h://)
// proxies, a bare "host:port" counting as http.
QString proxyProblem(const QString &proxy);

// The proxy for one request address under the current choice; NoProxy when it goes direct.
QNetworkProxy proxyFor(const QUrl &url);

}  // namespace fetch
