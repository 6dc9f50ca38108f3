// Copying the extracted link and saving the video to a file.
#include "download_text.h"
#include "fetch.h"
#include "form1.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

void Form1::refuseWithoutVideo()
{
    ask(QStringLiteral("请先获取视频!"), BoxIcon::Information, BoxButtons::Ok);
}

QString Form1::videoLink() const
{
    return Result.Failed ? QString() : Result.ResultSlots[SlotVideoUrl];
}

void Form1::Command3_Click()
{
    const QString link = videoLink();
    if (link.isEmpty()) {
        refuseWithoutVideo();
        return;
    }
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(link);
    setStatus(QStringLiteral("视频链接地址已复制.."));
}

void Form1::Command2_Click()
{
    if (download_->isRunning()) {
        if (ask(QStringLiteral("是否取消当前下载?"), BoxIcon::Information, BoxButtons::YesNo) == IDYES)
            download_->cancel();
        return;
    }
    const QString link = videoLink();
    if (link.isEmpty()) {
        refuseWithoutVideo();
        return;
    }
    // Only web addresses are fetched: a page could plant any other scheme or a path.
    if (!fetch::isWebAddress(link)) {
        ask(QStringLiteral("该视频地址无法下载!"), BoxIcon::Information, BoxButtons::Ok);
        return;
    }
    Web1->Navigate(link);
}

void Form1::saveVideo(const QString &link)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (folder.isEmpty())
        folder = QDir::homePath();
    const QString suggested =
        folder + u'/' + suggestedFileName(link, Label1->text(), Label3->text());
    const QString path = seams.saveFileName ? seams.saveFileName(this, QStringLiteral("保存视频"), suggested)
                                            : QString();
    if (path.isEmpty())
        return;
    sinceProgressShown_.invalidate();
    setStatus(QStringLiteral("正在下载视频.."));
    // The link is copied: a new extraction does not touch the running download.
    download_->start(QString(link), path);
}

void Form1::downloadProgress(const DownloadProgress &progress)
{
    // A few updates a second are enough to see it move.
    if (sinceProgressShown_.isValid() && sinceProgressShown_.elapsed() < 250)
        return;
    sinceProgressShown_.start();
    setStatus(progressText(progress));
}

void Form1::downloadFinished(DownloadError error, int httpStatus)
{
    const QString path = QDir::toNativeSeparators(download_->target());
    if (error == DownloadError::None) {
        setStatus(QStringLiteral("视频下载完毕.."));
        const QString text = QStringLiteral("视频已保存到:\r") + path + QStringLiteral("\r\r是否打开所在文件夹?");
        if (ask(text, BoxIcon::Information, BoxButtons::YesNo) == IDYES)
            launch(QUrl::fromLocalFile(QFileInfo(download_->target()).absolutePath()).toString());
    } else if (error == DownloadError::Cancelled) {
        setStatus(QStringLiteral("视频下载已取消.."));
    } else {
        setStatus(QStringLiteral("视频下载失败.."));
        ask(QStringLiteral("视频下载失败: ") + downloadErrorText(error, httpStatus), BoxIcon::Warning,
            BoxButtons::Ok);
    }
}
