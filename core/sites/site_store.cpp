#include "site_store.h"

#include "site_bundle.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <unistd.h>

QString siteStoreFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
        QStringLiteral("/quorvin-video-helper");
}

QString siteStorePath()
{
    return siteStoreFolder() + QStringLiteral("/sites.signed");
}

QString previousSiteStorePath()
{
    return siteStorePath() + QStringLiteral(".previous");
}

std::optional<SignedSet> readSignedSet(const QString &path)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.read(sitebundle::MaxBundleBytes + 200);
    const qsizetype line = bytes.indexOf('\n');
    if (line <= 0 || bytes.size() - line - 1 > sitebundle::MaxBundleBytes)
        return std::nullopt;
    return SignedSet {bytes.mid(line + 1), bytes.left(line)};
}

bool storeSignedSet(const SignedSet &set, QString *why)
{
    if (!QDir().mkpath(siteStoreFolder())) {
        *why = QStringLiteral("cannot make %1").arg(siteStoreFolder());
        return false;
    }
    QSaveFile out(siteStorePath());
    const QByteArray bytes = set.signature.trimmed() + '\n' + set.bundle;
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size()) {
        *why = QStringLiteral("cannot write %1: %2").arg(siteStorePath(), out.errorString());
        return false;
    }
    // The set in use stays reachable as the previous one: a second name for it first, then the
    // new set takes its place in one rename.
    const QByteArray current = QFile::encodeName(siteStorePath());
    const QByteArray previous = QFile::encodeName(previousSiteStorePath());
    if (QFile::exists(siteStorePath())) {
        ::unlink(previous.constData());
        if (::link(current.constData(), previous.constData()) != 0) {
            out.cancelWriting();
            *why = QStringLiteral("cannot keep the previous set as %1").arg(previousSiteStorePath());
            return false;
        }
    }
    if (!out.commit()) {
        *why = QStringLiteral("cannot write %1: %2").arg(siteStorePath(), out.errorString());
        return false;
    }
    return true;
}
