// The verified description set kept between runs, under $XDG_DATA_HOME/quorvin-video-helper/:
// "sites.signed" holds the signature's line and then the bundle exactly as it was fetched, so
// the two are replaced together in one rename; "sites.signed.previous" is the set before it.
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

struct SignedSet {
    QByteArray bundle;
    QByteArray signature;  // base64
};

QString siteStoreFolder();
QString siteStorePath();          // the set in use
QString previousSiteStorePath();  // the good set before it

// The signed set in a file, read with the bundle's size limit; no value when there is none or
// it is not a signed set (why, when given, says so). A link, anything but a regular file, or a
// file of another user is never read.
std::optional<SignedSet> readSignedSet(const QString &path, QString *why = nullptr);

// Writes a verified set in place of the stored one: into a new temporary file of the folder,
// synced, read back and verified from the disk, then renamed over the stored set (a link there
// is replaced, never written through); the set it replaces then becomes the previous one. At
// every moment the folder holds a good set in use. Holds a lock on the folder and never waits
// for it: Busy when another update holds it. Failed, with the reason, when it cannot be
// written (nothing changed).
enum class StoreOutcome { Stored, Busy, Failed };
StoreOutcome storeSignedSet(const SignedSet &set, QString *why);

// Removes what an interrupted store left (its own temporary files only), unless an update runs.
void cleanSiteStore();

// For tests: called between the steps of the store's sequence (1: the new set written, before
// it is read back; 2: verified, before the set in use gets its second name; 3: before the
// rename into place; 4: before the set replaced becomes the previous one); returning false
// stops there, as a kill would.
void setStoreInterruption(std::function<bool(int step)> check);
