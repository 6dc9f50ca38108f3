#include "download/retrying_download.h"

#include "net/request_pace.h"

#include <QFile>

bool worthRetrying(DownloadError error, int httpStatus)
{
    switch (error) {
    case DownloadError::ConnectFailed:
    case DownloadError::ConnectionLost:
    case DownloadError::TimedOut:
    case DownloadError::TooSlow:
    case DownloadError::Incomplete: return true;
    case DownloadError::HttpStatus: return httpStatus >= 500 || httpStatus == 429;
    default: return false;
    }
}

RetryingDownload::RetryingDownload(QObject *parent) : QObject(parent), download_(new Download(this))
{
    pause_.setSingleShot(true);
    connect(&pause_, &QTimer::timeout, this, &RetryingDownload::tryOnce);
    connect(download_, &Download::progress, this, &RetryingDownload::progress);
    connect(download_, &Download::finished, this, &RetryingDownload::onFinished);
}

void RetryingDownload::start(const QString &link, const QString &target, Download::Options options, Retry retry)
{
    link_ = link;
    target_ = target;
    options_ = options;
    options_.reconnect = retry.retries != 0;  // no tries asked for: no connection opened again
    retry_ = retry;
    tries_ = 0;
    running_ = true;
    tryOnce();
}

void RetryingDownload::tryOnce()
{
    ++tries_;
    download_->start(link_, target_, options_);
}

void RetryingDownload::onFinished(DownloadError error, int httpStatus)
{
    mostConnections_ = qMax(mostConnections_, download_->mostConnections());
    const int attempt = tries_ - 1;
    if (error == DownloadError::None || (retry_.retries >= 0 && attempt >= retry_.retries) ||
        !worthRetrying(error, httpStatus)) {
        end(error, httpStatus);
        return;
    }
    // Never more requests that bring nothing than the program allows in a minute.
    const int waitMs = qMax(retry_.firstPauseMs << qMin(attempt, 6), fetch::msUntilFruitlessAllowed());
    emit retrying(error, httpStatus, waitMs);
    if (running_)
        pause_.start(waitMs);
}

void RetryingDownload::end(DownloadError error, int httpStatus)
{
    running_ = false;
    emit finished(error, httpStatus);
}

void RetryingDownload::cancel()
{
    if (pause_.isActive()) {
        pause_.stop();
        // Between two tries nothing holds the part: it goes as a cancelled download's does.
        QFile::remove(Download::partPath(download_->target()));
        QFile::remove(Download::controlPath(download_->target()));
        end(DownloadError::Cancelled, 0);
    } else if (download_->isRunning()) {
        download_->cancel();
    }
}

void RetryingDownload::stop()
{
    if (pause_.isActive()) {
        pause_.stop();
        end(DownloadError::Interrupted, 0);
    } else if (download_->isRunning()) {
        download_->stop();
    }
}
