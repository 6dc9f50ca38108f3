// Copying the extracted link and saving the video to a file.
#include "download/download_text.h"
#include "download/video_name.h"
#include "net/fetch.h"
#include "main_window/form1.h"
#include "result_panel.h"

#include "convert/conversion.h"

#include "downloads/download_list.h"
#include "download_list/list_window.h"

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
    emit linkCopied(link);  // a watched clipboard does not take it back
    setStatus(QStringLiteral("视频链接地址已复制.."));
}

void Form1::Command2_Click()
{
    downloadAs(std::nullopt);
}

void Form1::downloadAs(std::optional<convert::Kind> convertTo)
{
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
    // A video saved before: asked once whether again; 否 starts nothing.
    if (!downloadAgain())
        return;
    saveVideo(link, convertTo);
}

void Form1::saveVideo(const QString &link, std::optional<convert::Kind> convertTo)
{
    // The name of the extracted video; a link set without an extraction is named after itself
    // and what the captions show.
    VideoFields shown;
    shown.author = Label1->text();
    shown.date = Label3->text();
    shown.link = link;
    const QString name = result_->shown().name.isEmpty() ? videoName(shown) : result_->shown().name;
    // The sound alone is saved under the name the user gives the sound file: the dialog
    // proposes NAME.mp3 (or .m4a) and shows sound files.
    const QString soundExtension = convertTo ? convert::kindName(*convertTo) : QString();
    const QString saved = !convertTo ? name : QFileInfo(name).completeBaseName() + u'.' + soundExtension;
    QString suggested = Settings().saveFolder() + u'/' + saved;
    QString path;
    bool replace = false;
    for (;;) {
        path = seams.saveFileName
            ? seams.saveFileName(this, !convertTo ? QStringLiteral("保存视频") : QStringLiteral("保存音频"), suggested)
            : QString();
        if (path.isEmpty())
            return;
        // The dialog asked about replacing the name as typed. A name that does not end in a
        // video extension ("keep", "海边 2015.07.08") gets the video's, and then the file of
        // that name is asked about here, since the dialog never saw it; 否 goes back to the
        // dialog with that name, to choose another.
        replace = QFileInfo::exists(path);
        if (!convertTo ? fileHasVideoExtension(path) : QFileInfo(path).suffix().toLower() == soundExtension)
            break;
        path += u'.' + QFileInfo(saved).suffix();
        replace = QFileInfo::exists(path);
        if (!replace ||
            ask(QFileInfo(path).fileName() + QStringLiteral("已存在。是否替换?"), BoxIcon::Warning,
                BoxButtons::YesNo) == IDYES)
            break;
        suggested = path;
    }
    setDownloadStatus(QStringLiteral("正在下载视频.."));
    Command2->setToolTip(QStringLiteral("正在下载视频,按 Ctrl+J 打开下载列表"));
    // The link is copied: a new extraction does not touch the download. Overwrite only what
    // the user agreed to replace: a file that appears meanwhile is kept.
    DownloadRequest request;
    request.video = result_->shown().name.isEmpty() ? shown : result_->shown().video;
    request.video.link = link;
    request.target = path;
    request.replace = replace;
    if (convertTo) {
        // The video goes to a name of its own beside the sound file, never over a video the
        // user has; the sound takes the chosen name (or "NAME (2).mp3" when that is taken).
        request.target = convert::soundSourcePath(path, QFileInfo(name).suffix());
        request.replace = false;
    }
    request.cover = Image1->pixmap().toImage();
    request.avatar = result_->shown().avatar;
    request.convertTo = convertTo;
    downloads_.follow.follow(downloads()->add(request));
}

void Form1::downloadProgress(qint64 id, const DownloadProgress &progress)
{
    // The status line follows the download started last; a few updates a second are enough.
    if (!downloads_.follow.progressDue(id))
        return;
    setDownloadStatus(progressText(progress));
}

void Form1::downloadFinished(qint64 id, DownloadError error, int httpStatus)
{
    if (!downloads_.follow.follows(id))
        return;  // seen in the list
    Command2->setToolTip(QStringLiteral("按 Ctrl+J 打开下载列表"));
    if (phase_.quitQuestionOpen && downloads()->unfinished() == 0 && downloads()->conversionsRunning() == 0 &&
        seams.closeMessageBox)
        seams.closeMessageBox();  // nothing is left to lose
    const std::optional<history::Entry> entry = downloads()->entry(id);
    const QString file = entry ? entry->file : QString();
    const bool listOpen = listWindowIfMade() && listWindowIfMade()->isVisible();
    if (error == DownloadError::None) {
        Settings().set(Settings::Key::SaveFolder, QFileInfo(file).absolutePath());
        setDownloadStatus(QStringLiteral("视频下载完毕.."));
        if (listOpen)
            return;
        const QString text = QStringLiteral("视频已保存到:\r") + QDir::toNativeSeparators(file) +
            QStringLiteral("\r\r是否打开所在文件夹?");
        if (ask(text, BoxIcon::Information, BoxButtons::YesNo) == IDYES)
            launch(QUrl::fromLocalFile(QFileInfo(file).absolutePath()).toString());
    } else if (error == DownloadError::Cancelled) {
        setDownloadStatus(QStringLiteral("视频下载已取消.."));
    } else if (error == DownloadError::Interrupted) {
        setDownloadStatus(QStringLiteral("视频下载已暂停.."));
    } else {
        setDownloadStatus(QStringLiteral("视频下载失败.."));
        if (!listOpen)
            ask(QStringLiteral("视频下载失败: ") + downloadErrorText(error, httpStatus), BoxIcon::Warning,
                BoxButtons::Ok);
    }
}
