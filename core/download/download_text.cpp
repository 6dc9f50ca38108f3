#include "download/download_text.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QTextBoundaryFinder>
#include <QUrl>

QString byteSize(qint64 bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 B").arg(bytes);
    if (bytes < qint64(1024) * 1024)
        return QStringLiteral("%1 KB").arg(bytes / 1024.0, 0, 'f', 1);
    if (bytes < 1024LL * 1024 * 1024)
        return QStringLiteral("%1 MB").arg(bytes / (1024.0 * 1024), 0, 'f', 1);
    return QStringLiteral("%1 GB").arg(bytes / (1024.0 * 1024 * 1024), 0, 'f', 2);
}

QString timeLeftText(qint64 seconds)
{
    if (seconds < 0)
        return QStringLiteral("--:--");
    const QString minutes =
        QStringLiteral("%1:%2").arg(seconds / 60 % 60, 2, 10, QChar(u'0')).arg(seconds % 60, 2, 10, QChar(u'0'));
    return seconds >= 3600 ? QString::number(seconds / 3600) + u':' + minutes : minutes;
}

QString progressText(const DownloadProgress &p)
{
    QString rate = byteSize(qint64(p.bytesPerSecond)) + QStringLiteral("/s");
    if (p.total > 0 && p.secondsLeft >= 0)
        rate += QStringLiteral(", 剩余 %1").arg(timeLeftText(p.secondsLeft));
    if (p.total > 0) {
        const int percent = int(p.done * 100 / p.total);
        return QStringLiteral("正在下载视频.. %1% (%2/%3, %4)")
            .arg(percent)
            .arg(byteSize(p.done), byteSize(p.total), rate);
    }
    return QStringLiteral("正在下载视频.. %1 (%2)").arg(byteSize(p.done), rate);
}

QString downloadErrorText(DownloadError error, int httpStatus)
{
    switch (error) {
    case DownloadError::None: return QString();
    case DownloadError::NotWeb: return QStringLiteral("该视频地址无法下载!");
    case DownloadError::ConnectFailed: return QStringLiteral("无法连接到服务器");
    case DownloadError::ConnectionLost: return QStringLiteral("网络连接中断");
    case DownloadError::TimedOut: return QStringLiteral("连接超时，服务器长时间没有响应");
    case DownloadError::TooSlow: return QStringLiteral("下载速度过慢");
    case DownloadError::Incomplete: return QStringLiteral("服务器发送的视频不完整");
    case DownloadError::HttpStatus: return QStringLiteral("服务器返回错误: %1").arg(httpStatus);
    case DownloadError::TooManyRedirects: return QStringLiteral("重定向次数过多");
    case DownloadError::DiskFull: return QStringLiteral("磁盘空间不足");
    case DownloadError::NoPermission: return QStringLiteral("没有写入权限");
    case DownloadError::WriteFailed: return QStringLiteral("无法写入文件");
    case DownloadError::NotRegularFile: return QStringLiteral("保存位置已有同名的链接、管道或文件夹");
    case DownloadError::Exists: return QStringLiteral("文件已存在");
    case DownloadError::Cancelled: return QStringLiteral("下载已取消");
    case DownloadError::Busy: return QStringLiteral("另一个下载正在写入这个文件");
    case DownloadError::Interrupted: return QStringLiteral("下载已中断,已下载的部分会在下次下载时继续");
    case DownloadError::ProxyFailed: return QStringLiteral("无法连接到代理服务器");
    }
    return QString();
}

QString downloadErrorEnglish(DownloadError error, int httpStatus)
{
    switch (error) {
    case DownloadError::None: return QString();
    case DownloadError::NotWeb: return QStringLiteral("not an http address");
    case DownloadError::ConnectFailed: return QStringLiteral("cannot connect to the server");
    case DownloadError::ConnectionLost: return QStringLiteral("connection lost");
    case DownloadError::TimedOut: return QStringLiteral("timed out");
    case DownloadError::TooSlow: return QStringLiteral("too slow");
    case DownloadError::Incomplete: return QStringLiteral("the server sent an incomplete video");
    case DownloadError::HttpStatus: return QStringLiteral("HTTP status %1").arg(httpStatus);
    case DownloadError::TooManyRedirects: return QStringLiteral("too many redirects");
    case DownloadError::DiskFull: return QStringLiteral("disk full");
    case DownloadError::NoPermission: return QStringLiteral("no permission to write");
    case DownloadError::WriteFailed: return QStringLiteral("cannot write the file");
    case DownloadError::NotRegularFile: return QStringLiteral("a link, pipe or folder has the file's name");
    case DownloadError::Exists: return QStringLiteral("the file exists");
    case DownloadError::Cancelled: return QStringLiteral("cancelled");
    case DownloadError::Busy: return QStringLiteral("another download is writing this file");
    case DownloadError::Interrupted: return QStringLiteral("interrupted");
    case DownloadError::ProxyFailed: return QStringLiteral("cannot connect to the proxy");
    }
    return QString();
}

QString downloadErrorCode(DownloadError error)
{
    switch (error) {
    case DownloadError::None: return QString();
    case DownloadError::NotWeb: return QStringLiteral("not_web");
    case DownloadError::ConnectFailed: return QStringLiteral("connect_failed");
    case DownloadError::ConnectionLost: return QStringLiteral("connection_lost");
    case DownloadError::TimedOut: return QStringLiteral("timed_out");
    case DownloadError::TooSlow: return QStringLiteral("too_slow");
    case DownloadError::Incomplete: return QStringLiteral("incomplete");
    case DownloadError::HttpStatus: return QStringLiteral("http_status");
    case DownloadError::TooManyRedirects: return QStringLiteral("too_many_redirects");
    case DownloadError::DiskFull: return QStringLiteral("disk_full");
    case DownloadError::NoPermission: return QStringLiteral("no_permission");
    case DownloadError::WriteFailed: return QStringLiteral("write_failed");
    case DownloadError::NotRegularFile: return QStringLiteral("not_regular_file");
    case DownloadError::Exists: return QStringLiteral("exists");
    case DownloadError::Cancelled: return QStringLiteral("cancelled");
    case DownloadError::Busy: return QStringLiteral("busy");
    case DownloadError::Interrupted: return QStringLiteral("interrupted");
    case DownloadError::ProxyFailed: return QStringLiteral("proxy_failed");
    }
    return QString();
}
