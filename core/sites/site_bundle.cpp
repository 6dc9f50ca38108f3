#include "sites/site_bundle.h"

#include "sites/site_description.h"
#include "site_limits.h"
#include "sites_keys.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QtEndian>
#include <sodium.h>
#include <zlib.h>

namespace sitebundle {

namespace {

const QByteArray Magic = QByteArrayLiteral("quorvin-sites-bundle ");

QStringList &keysInUse()
{
    static QStringList keys =
        QString::fromLatin1(BuildSiteKeys).split(QRegularExpression(QStringLiteral("[;,\\s]+")), Qt::SkipEmptyParts);
    return keys;
}

bool sodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

// One "key value" header line of the unpacked set.
std::optional<QByteArray> headerLine(const QByteArray &text, qsizetype &at, const QByteArray &key)
{
    const qsizetype end = text.indexOf('\n', at);
    if (end < 0 || !text.mid(at, end - at).startsWith(QByteArray(key + ' ')))
        return std::nullopt;
    QByteArray value = text.mid(at + key.size() + 1, end - at - key.size() - 1);
    at = end + 1;
    return value;
}

// The set's text from its compressed form (the size first, four bytes big-endian, then a zlib
// stream), inflated a piece at a time and stopped at MaxUnpackedBytes of real output, whatever
// the size written before it says.
std::optional<QByteArray> inflated(const QByteArray &packed, QString *why)
{
    constexpr qsizetype Chunk = qsizetype(64) * 1024;
    const quint32 claimed = packed.size() < 4 ? 0 : qFromBigEndian<quint32>(packed.constData());
    if (claimed > quint32(MaxUnpackedBytes)) {
        *why = QStringLiteral("larger than 16 MiB unpacked");
        return std::nullopt;
    }
    z_stream z {};
    if (packed.size() < 4 || inflateInit(&z) != Z_OK) {
        *why = QStringLiteral("the compressed set is damaged");
        return std::nullopt;
    }
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(packed.constData() + 4));
    z.avail_in = uInt(packed.size() - 4);
    QByteArray out;
    QByteArray chunk(Chunk, '\0');
    int status = Z_OK;
    while (status == Z_OK) {
        z.next_out = reinterpret_cast<Bytef *>(chunk.data());
        z.avail_out = uInt(Chunk);
        status = inflate(&z, Z_NO_FLUSH);
        const qsizetype got = Chunk - qsizetype(z.avail_out);
        if (out.size() + got > MaxUnpackedBytes) {
            inflateEnd(&z);
            *why = QStringLiteral("larger than 16 MiB unpacked");
            return std::nullopt;
        }
        out.append(chunk.constData(), got);
        if (status == Z_OK && got == 0 && z.avail_in == 0)
            status = Z_BUF_ERROR;  // the stream ends before its end
    }
    inflateEnd(&z);
    if (status != Z_STREAM_END || out.isEmpty() || quint32(out.size()) != claimed) {
        *why = QStringLiteral("the compressed set is damaged");
        return std::nullopt;
    }
    return out;
}

}  // namespace

QMap<QString, QByteArray> filesIn(const QString &root, const QString &folder)
{
    QMap<QString, QByteArray> files;
    // Paths below the folder however it was written ("sets/src2", "./src", "/abs"): both sides
    // of the relative path are absolute.
    const QDir base(root.startsWith(u':') ? root : QDir(root).absolutePath());
    QDirIterator it(base.path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = base.relativeFilePath(it.next());
        QFile file(it.filePath());
        if (path.contains(u'/') && path.startsWith(folder) && file.open(QIODevice::ReadOnly))
            files.insert(path, file.readAll());
    }
    return files;
}

QByteArray pack(const SiteFiles &set)
{
    QByteArray text = "set " + QByteArray::number(set.version) + "\ndate " + set.date.toUtf8() + "\n";
    for (auto it = set.files.cbegin(); it != set.files.cend(); ++it)
        text += "file " + QByteArray::number(it.value().size()) + ' ' + it.key().toUtf8() + '\n' + it.value() + '\n';
    return Magic + QByteArray::number(FormatVersion) + '\n' + qCompress(text, 9);
}

std::optional<SiteFiles> unpack(const QByteArray &bundle, QString *why)
{
    const auto refuse = [why](const QString &reason) {
        *why = reason;
        return std::nullopt;
    };
    const qsizetype headEnd = bundle.indexOf('\n');
    if (!bundle.startsWith(Magic) || headEnd < 0)
        return refuse(QStringLiteral("not a description set"));
    const QByteArray format = bundle.mid(Magic.size(), headEnd - Magic.size());
    if (format != QByteArray::number(FormatVersion))
        return refuse(QStringLiteral("set format %1 is not known").arg(QString::fromLatin1(format.left(20))));
    const std::optional<QByteArray> unpacked = inflated(bundle.mid(headEnd + 1), why);
    if (!unpacked)
        return std::nullopt;
    const QByteArray &text = *unpacked;
    SiteFiles set;
    qsizetype at = 0;
    const std::optional<QByteArray> version = headerLine(text, at, "set");
    const std::optional<QByteArray> date = version ? headerLine(text, at, "date") : std::nullopt;
    bool number = false;
    set.version = version ? version->toInt(&number) : 0;
    if (!date || !number || set.version <= 0)
        return refuse(QStringLiteral("no set version and date"));
    set.date = QString::fromUtf8(*date);
    while (at < text.size()) {
        const std::optional<QByteArray> line = headerLine(text, at, "file");
        const qsizetype space = line ? line->indexOf(' ') : -1;
        const qint64 size = space > 0 ? line->left(space).toLongLong(&number) : -1;
        const QString path = space > 0 ? QString::fromUtf8(line->mid(space + 1)) : QString();
        // The size is compared with what is left before any sum is made of it.
        if (!line || !number || size < 0 || !isFolderPath(path) || size >= text.size() - at ||
            text.at(at + size) != '\n')
            return refuse(QStringLiteral("a damaged file entry"));
        if (size > sitelimits::MaxFileBytes)
            return refuse(QStringLiteral("%1 is larger than 1 MiB").arg(path));
        if (set.files.size() >= MaxFiles || set.files.contains(path))
            return refuse(QStringLiteral("more than %1 files, or %2 twice").arg(MaxFiles).arg(path));
        set.files.insert(path, text.mid(at, size));
        at += size + 1;
    }
    return set;
}

QStringList trustedKeys()
{
    return keysInUse();
}

void setTrustedKeys(const QStringList &keys)
{
    keysInUse() = keys;
}

std::optional<QByteArray> signatureBytes(const QByteArray &signature)
{
    // 64 bytes are 88 base64 characters, the last two "=". Nothing else may be there but one
    // line end: a signature written any other way is not stored, so never refused later.
    QByteArray text = signature;
    if (text.endsWith("\r\n"))
        text.chop(2);
    else if (text.endsWith('\n'))
        text.chop(1);
    static const QRegularExpression form(QStringLiteral("^[A-Za-z0-9+/]{86}==$"));
    if (!form.match(QString::fromLatin1(text)).hasMatch())
        return std::nullopt;
    const QByteArray::FromBase64Result raw =
        QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    return raw && raw.decoded.size() == crypto_sign_BYTES ? std::optional(raw.decoded) : std::nullopt;
}

bool verify(const QByteArray &data, const QByteArray &signature, const QStringList &keys, QString *why)
{
    const QByteArray raw = signatureBytes(signature).value_or(QByteArray());
    if (!sodiumReady() || raw.size() != crypto_sign_BYTES) {
        *why = QStringLiteral("the signature is not an Ed25519 signature written as one line of 88 base64 characters");
        return false;
    }
    if (keys.isEmpty()) {
        *why = QStringLiteral("this build trusts no key");
        return false;
    }
    for (const QString &key : keys) {
        const QByteArray pk = QByteArray::fromBase64(key.toLatin1());
        if (pk.size() == crypto_sign_PUBLICKEYBYTES &&
            crypto_sign_verify_detached(reinterpret_cast<const unsigned char *>(raw.constData()),
                reinterpret_cast<const unsigned char *>(data.constData()), quint64(data.size()),
                reinterpret_cast<const unsigned char *>(pk.constData())) == 0)
            return true;
    }
    *why = QStringLiteral(
        "the signature does not verify with any trusted key (changed after signing, or signed by another key)");
    return false;
}

std::optional<QByteArray> sign(const QByteArray &data, const QByteArray &secretKey)
{
    const QByteArray sk = QByteArray::fromBase64(secretKey.trimmed());
    if (!sodiumReady() || sk.size() != crypto_sign_SECRETKEYBYTES)
        return std::nullopt;
    QByteArray signature(crypto_sign_BYTES, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char *>(signature.data()), nullptr,
        reinterpret_cast<const unsigned char *>(data.constData()), quint64(data.size()),
        reinterpret_cast<const unsigned char *>(sk.constData()));
    return signature.toBase64();
}

std::pair<QByteArray, QByteArray> makeKeyPair()
{
    QByteArray pk(crypto_sign_PUBLICKEYBYTES, '\0');
    QByteArray sk(crypto_sign_SECRETKEYBYTES, '\0');
    if (sodiumReady())
        crypto_sign_keypair(reinterpret_cast<unsigned char *>(pk.data()), reinterpret_cast<unsigned char *>(sk.data()));
    std::pair<QByteArray, QByteArray> pair {sk.toBase64(), pk.toBase64()};
    sodium_memzero(sk.data(), size_t(sk.size()));
    return pair;
}

}  // namespace sitebundle
