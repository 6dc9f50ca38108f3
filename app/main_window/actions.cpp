// Copying the extracted link and saving the video to a file.
#include "download/download_text.h"
#include "download/video_name.h"
#include "net/fetch.h"
#include "main_window/form1.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
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
        // The question closes itself when the download ends first (downloadFinished).
        cancelQuestionOpen_ = true;
        const int answer = ask(QStringLiteral("是否取消当前下载?"), BoxIcon::Information, BoxButtons::YesNo);
        cancelQuestionOpen_ = false;
        if (answer == IDYES && download_->isRunning())
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
    // The name of the extracted video; a link set without an extraction is named after itself
    // and what the captions show.
    VideoFields shown;
    shown.author = Label1->text();
    shown.date = Label3->text();
    shown.link = link;
    const QString name = videoName_.isEmpty() ? videoName(shown) : videoName_;
    QString suggested = settings_.saveFolder() + u'/' + name;
    QString path;
    bool replace = false;
    for (;;) {
        path = seams.saveFileName ? seams.saveFileName(this, QStringLiteral("保存视频"), suggested) : QString();
        if (path.isEmpty())
            return;
        // The dialog asked about replacing the name as typed. A name that does not end in a
        // video extension ("keep", "海边 2015.07.08") gets the video's, and then the file of
        // that name is asked about here, since the dialog never saw it; 否 goes back to the
        // dialog with that name, to choose another.
        replace = QFileInfo::exists(path);
        if (fileHasVideoExtension(path))
            break;
        path += u'.' + QFileInfo(name).suffix();
        replace = QFileInfo::exists(path);
        if (!replace ||
            ask(QFileInfo(path).fileName() + QStringLiteral("已存在。是否替换?"), BoxIcon::Warning,
                BoxButtons::YesNo) == IDYES)
            break;
        suggested = path;
    }
    sinceProgressShown_.invalidate();
    setStatus(QStringLiteral("正在下载视频.."));
    Command2->setToolTip(QStringLiteral("正在下载视频,再次点击\"下载视频\"可取消下载"));
    // The link is copied: a new extraction does not touch the running download.
    // Overwrite only what the user agreed to replace: a file that appears meanwhile is kept.
    Download::Options options;
    options.overwrite = replace;
    download_->start(QString(link), path, options);
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
    Command2->setToolTip(QString());
    if ((cancelQuestionOpen_ || quitQuestionOpen_) && seams.closeMessageBox)
        seams.closeMessageBox();  // nothing is left to cancel or to lose
    const QString path = QDir::toNativeSeparators(download_->target());
    if (error == DownloadError::None) {
        settings_.setSaveFolder(QFileInfo(download_->target()).absolutePath());
        setStatus(QStringLiteral("视频下载完毕.."));
        if (!isActiveWindow() && seams.notify)
            seams.notify(QStringLiteral("视频下载完毕"), QFileInfo(download_->target()).fileName());
        const QString text = QStringLiteral("视频已保存到:\r") + path + QStringLiteral("\r\r是否打开所在文件夹?");
        if (ask(text, BoxIcon::Information, BoxButtons::YesNo) == IDYES)
            launch(QUrl::fromLocalFile(QFileInfo(download_->target()).absolutePath()).toString());
    } else if (error == DownloadError::Cancelled) {
        setStatus(QStringLiteral("视频下载已取消.."));
    } else {
        setStatus(QStringLiteral("视频下载失败.."));
        ask(QStringLiteral("视频下载失败: ") + downloadErrorText(error, httpStatus), BoxIcon::Warning, BoxButtons::Ok);
    }
}
