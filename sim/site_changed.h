// The simulator's own signed description set: when a service's pages change (--site-changed),
// it publishes the built-in set with that service's mended description, one version higher,
// signed with a secret key file, beside the version file.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

struct PublishedSet {
    QByteArray bundle;
    QByteArray signature;
};

// The names of the services whose pages can change ("meipai").
bool hasMendedDescription(const QString &site);

// The set mending site, signed with the key in keyFile; tampered changes one byte of the
// bundle after signing. No value, with the reason, when the key cannot be used.
std::optional<PublishedSet> mendedSet(const QString &site, const QString &keyFile, bool tampered, QString *why);
