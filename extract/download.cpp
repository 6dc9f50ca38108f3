#include "download.h"

#include "fetch.h"

#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStorageInfo>
#include <cerrno>
#ifdef Q_OS_UNIX
#include <sys/statvfs.h>
#endif
#include <cstdio>

namespace {

constexpr qint64 ReadBufferSize = 1024 * 1024;

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The whole size from "Content-Range: bytes a-b/size", -1 when not given.
qint64 rangeTotal(const QByteArray &contentRange)
{
    const qsizetype slash = contentRange.lastIndexOf('/');
    bool ok = false;
    const qint64 total = slash < 0 ? -1 : contentRange.mid(slash + 1).trimmed().toLongLong(&ok);
    return ok ? total : -1;
}

// The first byte position from "Content-Range: bytes a-b/size", -1 when not given.
qint64 rangeStart(const QByteArray &contentRange)
{
    QByteArray range = contentRange.trimmed();
    if (!range.startsWith("bytes "))
        return -1;
    range = range.mid(6);
    bool ok = false;
    const qint64 start = range.left(range.indexOf('-')).toLongLong(&ok);
    return ok ? start : -1;
}

// Bytes free for this user in the file system that holds folder; -1 when unknown.
qint64 freeBytes(const QString &folder)
{
#ifdef Q_OS_UNIX
    // Asked of the folder itself: QStorageInfo goes through the mount table, which does not
    // describe the folder inside a chroot or some containers.
    struct statvfs info {};
    if (statvfs(QFile::encodeName(folder).constData(), &info) == 0)
        return qint64(info.f_bavail) * qint64(info.f_frsize);
    return -1;
#else
    const QStorageInfo storage(folder);
    return storage.isValid() ? storage.bytesAvailable() : -1;
#endif
}

DownloadError fileError(const QFileDevice &file)
{
    switch (file.error()) {
    case QFileDevice::ResourceError: return DownloadError::DiskFull;
    case QFileDevice::PermissionsError: return DownloadError::NoPermission;
    default: return DownloadError::WriteFailed;
    }
}

}  // namespace

QString downloadErrorText(DownloadError error, int httpStatus)
{
    switch (error) {
    case DownloadError::None: return QString();
    case DownloadError::NotWeb: return QStringLiteral("该视频地址无法下载!");
    case DownloadError::ConnectFailed: return QStringLiteral("无法连接到服务器");
    case DownloadError::ConnectionLost: return QStringLiteral("网络连接中断");
    case DownloadError::TimedOut: return QStringLiteral("连接超时，服务器长时间没有响应");
    case DownloadError::HttpStatus: return QStringLiteral("服务器返回错误: %1").arg(httpStatus);
    case DownloadError::TooManyRedirects: return QStringLiteral("重定向次数过多");
    case DownloadError::DiskFull: return QStringLiteral("磁盘空间不足");
    case DownloadError::NoPermission: return QStringLiteral("没有写入权限");
    case DownloadError::WriteFailed: return QStringLiteral("无法写入文件");
    case DownloadError::Cancelled: return QStringLiteral("下载已取消");
    }
    return QString();
}

Download::Download(QObject *parent) : QObject(parent)
{
    stall_.setSingleShot(true);
    connect(&stall_, &QTimer::timeout, this, [this] { fail(DownloadError::TimedOut); });
}

Download::~Download()
{
    dropReply();
}

void Download::start(const QString &url, const QString &target)
{
    dropReply();
    target_ = target;
    contentType_.clear();
    status_ = 0;
    redirects_ = 0;
    total_ = -1;
    running_ = true;
    clock_.start();
    const QUrl address(url);
    if (!fetch::isWebUrl(address)) {
        // Reported after the caller has returned, like every other outcome.
        QTimer::singleShot(0, this, [this] { fail(DownloadError::NotWeb); });
        return;
    }
    request(address);
}

void Download::request(const QUrl &url)
{
    part_.close();
    part_.setFileName(partPath(target_));
    const QFileInfo existing(part_.fileName());
    resumeFrom_ = existing.isFile() ? existing.size() : 0;
    received_ = 0;
    expected_ = -1;
    writing_ = false;

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    // The bytes are stored as they come: no content coding to undo.
    request.setRawHeader("Accept-Encoding", "identity");
    if (resumeFrom_ > 0)
        request.setRawHeader("Range", "bytes=" + QByteArray::number(resumeFrom_) + "-");
    reply_ = fetch::networkManager().get(request);
    reply_->setReadBufferSize(ReadBufferSize);
    connect(reply_, &QNetworkReply::metaDataChanged, this, &Download::onHeaders);
    connect(reply_, &QNetworkReply::readyRead, this, &Download::onData);
    connect(reply_, &QNetworkReply::finished, this, &Download::onFinished);
    connect(reply_, &QNetworkReply::downloadProgress, this, [this] { stall_.start(fetch::timeout()); });
    stall_.start(fetch::timeout());
}

void Download::onHeaders()
{
    if (!reply_ || writing_)
        return;
    stall_.start(fetch::timeout());
    status_ = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status_ <= 0 || isRedirect(status_))
        return;  // handled when the answer ends
    if (status_ != 200 && status_ != 206)
        return;  // an error status: its page is not the file

    contentType_ = QString::fromLatin1(reply_->rawHeader("Content-Type"));
    const QByteArray lengthHeader = reply_->rawHeader("Content-Length");
    bool hasLength = false;
    const qint64 length = lengthHeader.trimmed().toLongLong(&hasLength);
    expected_ = hasLength ? length : -1;

    // Unbuffered: what arrived is on disk at once, so a part left by a program that ended
    // abruptly holds everything received before.
    QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered;
    if (status_ == 206 && resumeFrom_ > 0 && rangeStart(reply_->rawHeader("Content-Range")) == resumeFrom_) {
        mode |= QIODevice::Append;  // the rest of the file: added to what is there
        total_ = rangeTotal(reply_->rawHeader("Content-Range"));
    } else {
        if (status_ == 206) {
            // A part we did not ask for: nothing to append it to safely.
            fail(DownloadError::HttpStatus);
            return;
        }
        resumeFrom_ = 0;  // the server sent the whole file: start over
        mode |= QIODevice::Truncate;
        total_ = expected_;
    }

    if (!part_.open(mode)) {
        const int why = errno;  // Qt reports every failed open as OpenError
        fail(why == EACCES || why == EPERM || why == EROFS ? DownloadError::NoPermission
             : why == ENOSPC                               ? DownloadError::DiskFull
                                                           : fileError(part_));
        return;
    }
    // Refuse before writing when the rest of the file cannot fit on the disk.
    const qint64 free = freeBytes(QFileInfo(target_).absolutePath());
    if (expected_ > 0 && free >= 0 && free < expected_) {
        fail(DownloadError::DiskFull);
        return;
    }
    writing_ = true;
    emitProgress();
}

void Download::onData()
{
    if (!reply_)
        return;
    stall_.start(fetch::timeout());
    if (!writing_) {
        reply_->skip(reply_->bytesAvailable());  // a redirect's or an error page's body
        return;
    }
    while (reply_ && reply_->bytesAvailable() > 0) {
        const QByteArray piece = reply_->read(qMin<qint64>(reply_->bytesAvailable(), ReadBufferSize));
        if (part_.write(piece) != piece.size()) {
            fail(fileError(part_));
            return;
        }
        received_ += piece.size();
    }
    emitProgress();
}

void Download::onFinished()
{
    if (!reply_ || !running_)
        return;
    stall_.stop();
    onData();
    if (!reply_)
        return;
    const QNetworkReply::NetworkError error = reply_->error();
    status_ = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray location = reply_->rawHeader("Location");

    if (status_ <= 0) {
        const bool refused = error == QNetworkReply::ConnectionRefusedError ||
                             error == QNetworkReply::HostNotFoundError;
        fail(refused ? DownloadError::ConnectFailed : DownloadError::ConnectionLost);
        return;
    }
    if (isRedirect(status_) && !location.isEmpty()) {
        const QUrl next = reply_->url().resolved(QUrl::fromEncoded(location));
        dropReply();
        if (++redirects_ > MaxRedirects) {
            fail(DownloadError::TooManyRedirects);
            return;
        }
        if (!fetch::isWebUrl(next)) {
            fail(DownloadError::NotWeb);
            return;
        }
        request(next);
        return;
    }
    if (status_ == 416 && resumeFrom_ > 0 && rangeTotal(reply_->rawHeader("Content-Range")) == resumeFrom_) {
        total_ = resumeFrom_;  // the part file already holds the whole file
        complete();
        return;
    }
    if (!writing_) {
        fail(DownloadError::HttpStatus);
        return;
    }
    const bool intact = (error == QNetworkReply::NoError) && (expected_ < 0 || received_ == expected_);
    if (!intact) {
        fail(DownloadError::ConnectionLost);  // the part file stays for a later resume
        return;
    }
    complete();
}

void Download::complete()
{
    dropReply();
    if (!part_.flush()) {
        fail(fileError(part_));
        return;
    }
    part_.close();
    // rename() replaces the target in one step: it holds either the old or the whole new file.
    if (std::rename(QFile::encodeName(part_.fileName()).constData(), QFile::encodeName(target_).constData()) != 0) {
        fail(errno == EACCES || errno == EPERM ? DownloadError::NoPermission : DownloadError::WriteFailed);
        return;
    }
    running_ = false;
    DownloadProgress p;
    p.done = p.total = QFileInfo(target_).size();
    const double seconds = clock_.elapsed() / 1000.0;
    p.bytesPerSecond = seconds > 0 ? (p.done - resumeFrom_) / seconds : 0;
    p.secondsLeft = 0;
    emit progress(p);
    emit finished(DownloadError::None, status_);
}

void Download::cancel()
{
    if (!running_)
        return;
    fail(DownloadError::Cancelled);
}

void Download::fail(DownloadError error)
{
    if (!running_)
        return;
    running_ = false;
    stall_.stop();
    dropReply();
    const bool hadPart = part_.isOpen();
    part_.close();
    // Cancelling removes the part; an empty part is worth nothing; a broken transfer keeps
    // what it got for a later resume.
    const QFileInfo info(partPath(target_));
    if (info.isFile() && (error == DownloadError::Cancelled || info.size() == 0 ||
                          error == DownloadError::DiskFull || (hadPart && error == DownloadError::HttpStatus)))
        QFile::remove(info.filePath());
    emit finished(error, status_);
}

void Download::emitProgress()
{
    DownloadProgress p;
    p.done = resumeFrom_ + received_;
    p.total = total_;
    const double seconds = clock_.elapsed() / 1000.0;
    p.bytesPerSecond = seconds > 0.05 ? received_ / seconds : 0;
    if (p.total >= 0 && p.bytesPerSecond > 0)
        p.secondsLeft = qint64((p.total - p.done) / p.bytesPerSecond);
    emit progress(p);
}

void Download::dropReply()
{
    if (!reply_)
        return;
    QNetworkReply *reply = reply_;
    reply_ = nullptr;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
}
