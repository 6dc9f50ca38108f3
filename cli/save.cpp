#include "save.h"

#include "download.h"
#include "download_text.h"
#include "fetch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QEventLoop>
#include <cstdio>

namespace {

QString clockText(qint64 seconds)
{
    if (seconds < 0)
        return QStringLiteral("--:--");
    return QStringLiteral("%1:%2").arg(seconds / 60, 2, 10, QChar('0')).arg(seconds % 60, 2, 10, QChar('0'));
}

void drawBar(const DownloadProgress &p)
{
    constexpr int Width = 24;
    const int filled = p.total > 0 ? int(p.done * Width / p.total) : 0;
    QString bar = QString(filled, u'#') + QString(Width - filled, u' ');
    const QString percent = p.total > 0 ? QStringLiteral("%1%").arg(p.done * 100 / p.total, 3) : QStringLiteral(" --");
    const QString size = p.total > 0 ? byteSize(p.done) + u'/' + byteSize(p.total) : byteSize(p.done);
    const QString line = QStringLiteral("\r[%1] %2 %3 %4/s 剩余 %5\x1b[K")
                             .arg(bar, percent, size, byteSize(qint64(p.bytesPerSecond)), clockText(p.secondsLeft));
    std::fputs(line.toUtf8().constData(), stderr);
    std::fflush(stderr);
}

}  // namespace

SaveOutcome saveVideo(const QString &link, const QString &folder, const QString &author,
                      const QString &date, const SaveOptions &options)
{
    SaveOutcome outcome;
    if (link.isEmpty()) {
        outcome.error = QStringLiteral("没有视频地址");
        return outcome;
    }
    // The name is decided before the first byte; a link without a video extension takes
    // the answer's type, which the download applies when the answer's headers arrive.
    const QString target = QDir(folder).absoluteFilePath(suggestedFileName(link, author, date));
    Download::Options downloadOptions;
    downloadOptions.overwrite = options.forceOverwrite;
    downloadOptions.extensionFromType = !hasVideoExtension(link);
    if (!downloadOptions.extensionFromType && !options.forceOverwrite && QFileInfo(target).isFile()) {
        outcome.file = target;
        outcome.skipped = true;
        std::fprintf(stderr, "exists, not replaced: %s\n", target.toUtf8().constData());
        return outcome;
    }
    Download download;
    QEventLoop loop;
    QElapsedTimer sinceDrawn;
    DownloadError error = DownloadError::None;
    int status = 0;
    QObject::connect(&download, &Download::progress, &loop, [&](const DownloadProgress &p) {
        if (!options.terminal || (sinceDrawn.isValid() && sinceDrawn.elapsed() < 200 && p.done != p.total))
            return;
        sinceDrawn.start();
        drawBar(p);
    });
    QObject::connect(&download, &Download::finished, &loop, [&](DownloadError e, int s) {
        error = e;
        status = s;
        loop.quit();
    });
    download.start(link, target, downloadOptions);
    loop.exec();
    if (options.terminal && sinceDrawn.isValid())
        std::fputs("\n", stderr);

    outcome.file = download.target();
    if (error == DownloadError::None) {
        if (!options.terminal)
            std::fprintf(stderr, "saved: %s\n", outcome.file.toUtf8().constData());
    } else if (error == DownloadError::Exists) {
        outcome.skipped = true;
        std::fprintf(stderr, "exists, not replaced: %s\n", outcome.file.toUtf8().constData());
    } else {
        outcome.file.clear();
        outcome.error = downloadErrorText(error, status);
        std::fprintf(stderr, "download failed: %s: %s\n", link.toUtf8().constData(),
                     outcome.error.toUtf8().constData());
    }
    return outcome;
}
