#include "save.h"

#include "download.h"
#include "download_text.h"
#include "part_file.h"
#include "progress.h"
#include "terminal_text.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>
#include <cstdio>
#include <unistd.h>

namespace {

struct Try {
    DownloadError error = DownloadError::None;
    int status = 0;
    QString file;
};

// A failure that another try may mend: the network's, not the file's or the link's.
bool worthRetrying(const Try &t)
{
    switch (t.error) {
    case DownloadError::ConnectFailed:
    case DownloadError::ConnectionLost:
    case DownloadError::TimedOut:
    case DownloadError::TooSlow:
    case DownloadError::Incomplete: return true;
    case DownloadError::HttpStatus: return t.status >= 500;
    default: return false;
    }
}

Try downloadOnce(const QString &link, const QString &target, const Download::Options &options, ProgressMode mode)
{
    Download download;
    QEventLoop loop;
    ProgressPrinter printer(mode == ProgressMode::Bar, QFileInfo(target).fileName());
    Try result;
    if (mode != ProgressMode::None)
        QObject::connect(&download, &Download::progress, &loop, [&](const DownloadProgress &p) { printer.update(p); });
    QObject::connect(&download, &Download::finished, &loop, [&](DownloadError e, int s) {
        result.error = e;
        result.status = s;
        loop.quit();
    });
    download.start(link, target, options);
    loop.exec();
    printer.finish();
    result.file = download.target();
    return result;
}

void pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

const QRegularExpression &fieldPattern()
{
    static const QRegularExpression pattern(QStringLiteral("%\\(([a-z_]*)\\)s|%%"));
    return pattern;
}

const QStringList &templateFields()
{
    static const QStringList fields = {QStringLiteral("id"), QStringLiteral("site"), QStringLiteral("author"),
        QStringLiteral("description"), QStringLiteral("title"), QStringLiteral("date"), QStringLiteral("ext")};
    return fields;
}

// "name (n).ext" beside path.
QString numbered(const QString &path, int n)
{
    const QFileInfo info(path);
    const QString suffix = info.suffix();
    return info.dir().filePath(
        info.completeBaseName() + QStringLiteral(" (%1)").arg(n) + (suffix.isEmpty() ? QString() : u'.' + suffix));
}

// What stands at a candidate name for this link.
enum class NameState { Free, ThisVideo, Taken };

NameState stateOf(const QString &path, const QString &link, bool firstNameCarriesId)
{
    const partfile::Kind kind = partfile::kindOf(path);
    if (kind == partfile::Kind::Missing) {
        // A part of another link under this name belongs to another video's download.
        const auto control = partfile::readControl(Download::controlPath(path));
        return control && control->url != link ? NameState::Taken : NameState::Free;
    }
    if (kind != partfile::Kind::Regular)
        return NameState::Taken;
    const partfile::Origin origin = partfile::originOf(path);
    if (origin.url == link || (!origin.supported && firstNameCarriesId))
        return NameState::ThisVideo;
    return NameState::Taken;
}

}  // namespace

std::optional<QString> templateProblem(const QString &nameTemplate)
{
    for (auto it = fieldPattern().globalMatch(nameTemplate); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        if (m.captured() != u"%%" && !templateFields().contains(m.captured(1)))
            return QStringLiteral("unknown field %1 in the template").arg(m.captured());
    }
    if (QDir::isAbsolutePath(nameTemplate))
        return QStringLiteral("the template names a path below the folder, not an absolute one");
    if (nameTemplate.split(u'/').contains(QStringLiteral("..")))
        return QStringLiteral("the template may not climb out of the folder with ..");
    if (nameTemplate.endsWith(u'/'))
        return QStringLiteral("the template names a folder, not a file");
    return std::nullopt;
}

QString expandTemplate(const QString &nameTemplate, const VideoFields &video, const QString &extension)
{
    const auto value = [&](const QString &field) {
        const QString text = field == u"id" ? video.id
            : field == u"site"              ? video.site
            : field == u"author"            ? video.author
            : field == u"date"              ? video.date
            : field == u"ext"               ? extension
                                            : video.description;
        // Each value is one file name of its own: a page's "..", "/" or "CON" never names a
        // folder or a device.
        return fileNamePart(text).trimmed().isEmpty() ? QStringLiteral("NA") : safeFileName(text);
    };
    QString out;
    qsizetype at = 0;
    for (auto it = fieldPattern().globalMatch(nameTemplate); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out += nameTemplate.mid(at, m.capturedStart() - at);
        out += m.captured() == u"%%" ? QStringLiteral("%") : value(m.captured(1));
        at = m.capturedEnd();
    }
    out += nameTemplate.mid(at);
    // Every part of the path within a file name's length, the extension kept on the last.
    QStringList parts = out.split(u'/');
    for (qsizetype i = 0; i < parts.size(); ++i)
        parts[i] = safeFileName(parts[i], i + 1 == parts.size());
    return parts.join(u'/');
}

namespace {

// One name's download, tried again after network errors as the options say.
Try downloadWithRetries(const QString &link, const QString &target, const Download::Options &downloadOptions,
    ProgressMode mode, const SaveOptions &options)
{
    for (int attempt = 0;; ++attempt) {
        Try t = downloadOnce(link, target, downloadOptions, mode);
        if (t.error == DownloadError::None || (options.retries >= 0 && attempt >= options.retries) || !worthRetrying(t))
            return t;
        const int waitMs = options.firstPauseMs << qMin(attempt, 6);
        if (!options.quiet) {
            const QString why =
                options.chinese ? downloadErrorText(t.error, t.status) : downloadErrorEnglish(t.error, t.status);
            std::fprintf(stderr, "retrying in %.1f s: %s: %s\n", waitMs / 1000.0,
                forTerminal(link).toUtf8().constData(), why.toUtf8().constData());
        }
        pause(waitMs);
    }
}

// The absolute path of relative in folder, when it lies inside it.
std::optional<QString> insideFolder(const QString &folder, const QString &relative)
{
    const QString root = QDir::cleanPath(QDir(folder).absolutePath());
    const QString path = QDir::cleanPath(QDir(root).absoluteFilePath(relative));
    return path.startsWith(root + u'/') ? std::optional(path) : std::nullopt;
}

SaveOutcome failed(const QString &link, const SaveOutcome &outcome, const SaveOptions &options)
{
    std::fprintf(stderr, "download failed: %s: %s\n", forTerminal(link).toUtf8().constData(),
        (options.chinese ? outcome.errorText : outcome.error).toUtf8().constData());
    return outcome;
}

}  // namespace

SaveOutcome saveVideo(const QString &link, const VideoFields &video, const SaveOptions &options)
{
    SaveOutcome outcome;
    const auto skipped = [&](const QString &file) {
        outcome.file = file;
        outcome.skipped = true;
        if (!options.quiet)
            std::fprintf(stderr, "exists, not replaced: %s\n", forTerminal(file).toUtf8().constData());
        return outcome;
    };
    // The name is decided before the first byte; a link without a video extension takes the
    // answer's type, which the download applies when the answer's headers arrive.
    const QString extension = linkVideoExtension(link);
    const QString relative = options.nameTemplate.isEmpty()
        ? videoFileName(video.author, video.description, video.site, video.id, extension)
        : expandTemplate(options.nameTemplate, video, extension);
    const std::optional<QString> inside = insideFolder(options.folder, relative);
    if (!inside) {
        outcome.error = QStringLiteral("the name leaves the folder: ") + relative;
        outcome.errorCode = QStringLiteral("bad_template");
        outcome.errorText = QStringLiteral("文件名不在保存文件夹中");
        return failed(link, outcome, options);
    }
    const QString &first = *inside;
    QDir().mkpath(QFileInfo(first).absolutePath());
    const bool nameCarriesId = options.nameTemplate.isEmpty() || options.nameTemplate.contains(u"%(id)s");

    Download::Options downloadOptions;
    downloadOptions.overwrite = options.forceOverwrite;
    downloadOptions.extensionFromType = !hasVideoExtension(link);
    ProgressMode mode = options.quiet ? ProgressMode::None : options.progress;
    if (mode == ProgressMode::Auto)
        mode = isatty(STDERR_FILENO) ? ProgressMode::Bar : ProgressMode::Lines;

    Try t;
    for (int n = 1;; ++n) {
        const QString target = n == 1 ? first : numbered(first, n);
        const NameState state =
            options.forceOverwrite ? NameState::Free : stateOf(target, link, n == 1 && nameCarriesId);
        if (state == NameState::ThisVideo)
            return skipped(target);
        if (state == NameState::Taken)
            continue;
        t = downloadWithRetries(link, target, downloadOptions, mode, options);
        // Another video took the name meanwhile, or the answer's type named a taken file.
        if (t.error != DownloadError::Exists)
            break;
        if (partfile::originOf(t.file).url == link)
            return skipped(t.file);
    }
    if (t.error != DownloadError::None) {
        outcome.error = downloadErrorEnglish(t.error, t.status);
        outcome.errorCode = downloadErrorCode(t.error);
        outcome.errorText = downloadErrorText(t.error, t.status);
        return failed(link, outcome, options);
    }
    outcome.file = t.file;
    if (mode != ProgressMode::Bar && !options.quiet)
        std::fprintf(stderr, "saved: %s\n", forTerminal(outcome.file).toUtf8().constData());
    return outcome;
}
