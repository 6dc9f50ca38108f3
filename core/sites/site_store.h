// The verified description set kept between runs, under $XDG_DATA_HOME/quorvin-video-helper/:
// "sites.signed" holds the signature's line and then the bundle exactly as it was fetched, so
// the two are replaced together in one rename; "sites.signed.previous" is the set before it.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

struct SignedSet {
    QByteArray bundle;
    QByteArray signature;  // base64
};

QString siteStoreFolder();
QString siteStorePath();          // the set in use
QString previousSiteStorePath();  // the good set before it

// The signed set in a file, read with the bundle's size limit; no value when there is none or
// it is not a signed set.
std::optional<SignedSet> readSignedSet(const QString &path);

// Writes a verified set in place of the stored one, atomically; the one it replaces becomes
// the previous set. False, with the reason, when it cannot be written (nothing changed).
bool storeSignedSet(const SignedSet &set, QString *why);
