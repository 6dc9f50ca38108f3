#include "sites/site_store.h"

#include "sites/site_bundle.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::function<bool(int)> &interruption()
{
    static std::function<bool(int)> check;
    return check;
}

bool goOn(int step)
{
    return !interruption() || interruption()(step);
}

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// The folder's lock, taken without waiting; released when the object goes.
class FolderLock {
public:
    FolderLock()
    {
        fd_ = ::open(encoded(siteStoreFolder() + QStringLiteral("/sites.lock")).constData(),
            O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        held_ = fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
    }
    ~FolderLock()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;
    bool held() const { return held_; }

private:
    int fd_ = -1;
    bool held_ = false;
};

// A signed set's bytes from an open file, at most the bundle's limit and its signature line.
std::optional<SignedSet> signedSetIn(int fd)
{
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return std::nullopt;
    const QByteArray bytes = file.read(sitebundle::MaxBundleBytes + 200);
    const qsizetype line = bytes.indexOf('\n');
    if (line <= 0 || bytes.size() - line - 1 > sitebundle::MaxBundleBytes)
        return std::nullopt;
    return SignedSet {bytes.mid(line + 1), bytes.left(line)};
}

bool syncFolder()
{
    const int fd = ::open(encoded(siteStoreFolder()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    return synced;
}

// True for the stored set as it should be: a regular file of this user, not a link.
bool ownRegularFile(const QString &path)
{
    struct stat info {};
    return ::lstat(encoded(path).constData(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid();
}

// A new file of the folder, made with O_EXCL: "sites.signed.new-XXXXXX" and the like.
int temporaryFile(const char *kind, QByteArray *path)
{
    *path = encoded(siteStorePath()) + '.' + kind + "-XXXXXX";
    return ::mkostemp(path->data(), O_CLOEXEC);
}

// The new set in a temporary file, synced and verified as it lies on the disk.
bool writeTemporary(const SignedSet &set, QByteArray *path, QString *why)
{
    const int fd = temporaryFile("new", path);
    if (fd < 0) {
        *why = QStringLiteral("cannot write in %1: %2").arg(siteStoreFolder(), systemError());
        return false;
    }
    const QByteArray bytes = set.signature.trimmed() + '\n' + set.bundle;
    QFile out;
    bool ok = out.open(fd, QIODevice::WriteOnly, QFileDevice::DontCloseHandle) && out.write(bytes) == bytes.size() &&
        out.flush() && ::fsync(fd) == 0;
    out.close();
    *why = ok ? QString() : QStringLiteral("cannot write %1: %2").arg(QFile::decodeName(*path), systemError());
    if (ok && goOn(1)) {
        ::lseek(fd, 0, SEEK_SET);
        const std::optional<SignedSet> back = signedSetIn(fd);
        QString ignored;
        ok = back && back->bundle == set.bundle &&
            sitebundle::verify(back->bundle, back->signature, sitebundle::trustedKeys(), &ignored);
        if (!ok)
            *why = QStringLiteral("the set written to %1 does not read back").arg(QFile::decodeName(*path));
    } else if (ok) {
        ok = false;
        *why = QStringLiteral("interrupted");
    }
    ::close(fd);
    if (!ok && *why != u"interrupted")
        ::unlink(path->constData());
    return ok;
}

}  // namespace

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

std::optional<SignedSet> readSignedSet(const QString &path, QString *why)
{
    const auto refuse = [why](const QString &reason) {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    const int fd = ::open(encoded(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == ELOOP)
        return refuse(QStringLiteral("a link, not the stored set itself"));
    if (fd < 0)
        return errno == ENOENT ? refuse(QString()) : refuse(QStringLiteral("cannot be read: ") + systemError());
    struct stat info {};
    std::optional<SignedSet> set;
    QString reason = QStringLiteral("not a signed set");
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        reason = QStringLiteral("not a regular file");
    else if (info.st_uid != ::geteuid())
        reason = QStringLiteral("not the user's own file");
    else
        set = signedSetIn(fd);
    ::close(fd);
    return set ? set : refuse(reason);
}

StoreOutcome storeSignedSet(const SignedSet &set, QString *why)
{
    if (!QDir().mkpath(siteStoreFolder())) {
        *why = QStringLiteral("cannot make %1").arg(siteStoreFolder());
        return StoreOutcome::Failed;
    }
    const FolderLock lock;
    if (!lock.held()) {
        *why = QStringLiteral("another update is running");
        return StoreOutcome::Busy;
    }
    QByteArray fresh;
    if (!writeTemporary(set, &fresh, why))
        return StoreOutcome::Failed;
    // The set in use keeps a second name until the new one has taken its place; a link or a
    // file of someone else there is not kept, only replaced.
    if (!goOn(2))
        return StoreOutcome::Failed;
    QByteArray kept;
    if (ownRegularFile(siteStorePath())) {
        const int fd = temporaryFile("old", &kept);
        if (fd >= 0)
            ::close(fd);
        if (fd < 0 || ::unlink(kept.constData()) != 0 ||
            ::link(encoded(siteStorePath()).constData(), kept.constData()) != 0)
            kept.clear();
    }
    if (!goOn(3))
        return StoreOutcome::Failed;
    if (::rename(fresh.constData(), encoded(siteStorePath()).constData()) != 0) {
        *why = QStringLiteral("cannot write %1: %2").arg(siteStorePath(), systemError());
        ::unlink(fresh.constData());
        if (!kept.isEmpty())
            ::unlink(kept.constData());
        return StoreOutcome::Failed;
    }
    syncFolder();
    if (!goOn(4))
        return StoreOutcome::Failed;
    if (!kept.isEmpty()) {
        ::rename(kept.constData(), encoded(previousSiteStorePath()).constData());
        syncFolder();
    }
    return StoreOutcome::Stored;
}

void cleanSiteStore()
{
    if (!QDir(siteStoreFolder()).exists())
        return;
    const FolderLock lock;
    if (!lock.held())
        return;  // an update runs: its files are not leftovers
    static const QRegularExpression leftover(QStringLiteral("^sites\\.signed\\.(new|old)-[A-Za-z0-9]{6}$"));
    struct stat inUse {};
    const bool stored = ::lstat(encoded(siteStorePath()).constData(), &inUse) == 0;
    for (const QString &name : QDir(siteStoreFolder()).entryList(QDir::Files | QDir::System | QDir::Hidden)) {
        const QRegularExpressionMatch m = leftover.match(name);
        if (!m.hasMatch())
            continue;
        const QByteArray path = encoded(siteStoreFolder() + u'/' + name);
        // The second name of a set that was replaced before it became the previous one.
        struct stat info {};
        if (m.captured(1) == u"old" && stored && ::lstat(path.constData(), &info) == 0 && info.st_ino != inUse.st_ino &&
            ownRegularFile(QFile::decodeName(path)))
            ::rename(path.constData(), encoded(previousSiteStorePath()).constData());
        else
            ::unlink(path.constData());
    }
}

void setStoreInterruption(std::function<bool(int step)> check)
{
    interruption() = std::move(check);
}
