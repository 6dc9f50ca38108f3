// A signed set of service descriptions: one compressed file holding a format version, the
// set's version (a whole number that only grows), its date and every file of the set (each
// service's description and its examples), and beside it an Ed25519 signature of the whole
// file. A set is unpacked only after its signature has been checked with a trusted key.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

namespace sitebundle {

inline constexpr int FormatVersion = 1;
// The largest bundle or signature fetched, and the largest set once unpacked.
inline constexpr qint64 MaxBundleBytes = qint64(4) * 1024 * 1024;
inline constexpr qint64 MaxUnpackedBytes = qint64(16) * 1024 * 1024;
inline constexpr int MaxFiles = 512;

struct SiteFiles {
    int version = 0;
    QString date;                     // "2026-12-07"
    QMap<QString, QByteArray> files;  // "meipai/meipai.toml" -> its bytes
};

// The files of each service's folder under root (a folder on disk or in the resources): those
// one folder down or deeper ("meipai/meipai.toml", "meipai/examples/plain.html"), by their
// path below root; only those under folder when given ("meipai/").
QMap<QString, QByteArray> filesIn(const QString &root, const QString &folder = QString());

QByteArray pack(const SiteFiles &set);
// The set in a bundle, or no value with the reason (format, size, a path or a file too large).
std::optional<SiteFiles> unpack(const QByteArray &bundle, QString *why);

// The keys a set must be signed with: those of the build (SITES_PUBLIC_KEYS), until a test
// gives its own. Each is the base64 text of a 32-byte Ed25519 public key.
QStringList trustedKeys();
void setTrustedKeys(const QStringList &keys);

// The 64 bytes of a signature written as 88 base64 characters and at most one line end after
// them; no value for anything else.
std::optional<QByteArray> signatureBytes(const QByteArray &signature);

// True when signature (the base64 text of a 64-byte Ed25519 signature) signs data with one of
// the keys; otherwise why says what failed.
bool verify(const QByteArray &data, const QByteArray &signature, const QStringList &keys, QString *why);

// The base64 signature of data with a secret key (base64, 64 bytes as libsodium keeps it).
std::optional<QByteArray> sign(const QByteArray &data, const QByteArray &secretKey);

// A new key pair: {secret, public}, both base64.
std::pair<QByteArray, QByteArray> makeKeyPair();

}  // namespace sitebundle
