#include "keeping.h"
#include "waits.h"
#include "messages.h"

#include "download/output_template.h"
#include "download/sidecar.h"
#include "net/fetch.h"
#include "shell_words.h"
#include "terminal_text.h"

#include <QDateTime>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>
#include <cstdio>

namespace {

// Saves the cover beside the video, bounded as the window's pictures are (8 MiB, the stall
// rule, the deadline) and only when it is a picture; an existing file is never replaced.
// Empty when it worked, else why.
QString saveCover(const QString &cover, const QString &target)
{
    if (!fetch::isWebAddress(cover))
        return QStringLiteral("no cover address");
    QString why;
    return keepCover(fetchNow(cover, fetch::PictureLimit), target, &why) ? QString() : why;
}

void warn(const QString &what, const QString &path, const QString &why)
{
    messages::warning(QStringLiteral("%1 %2: %3").arg(what, forTerminal(path), why));
}

}  // namespace

Keeper::Keeper(const KeepOptions &options) : options_(options)
{
    if (!options_.archiveFile.isEmpty()) {
        archive_.emplace(options_.archiveFile);
        if (!archive_->load(&problem_))
            problem_ = QStringLiteral("cannot read the download archive %1: %2").arg(options_.archiveFile, problem_);
    }
    if (options_.history)
        openHistory();
}

// The window's history, or a line on standard error once when it cannot be used as usual:
// a newer version's (or something else in its place) is not used at all, a read-only one is
// read only, a broken one was moved aside.
void Keeper::openHistory()
{
    store_ = std::make_unique<history::Store>();
    const QString path = history::Store::defaultPath();
    if (!store_->movedAsideTo().isEmpty())
        warn(QStringLiteral("the history was broken: moved aside to"), store_->movedAsideTo(),
            QStringLiteral("a new one was started"));
    if (store_->problem() == history::Store::Problem::None)
        return;
    warn(QStringLiteral("--history"), path, store_->problemText());
    if (store_->inMemory())
        store_.reset();
}

bool Keeper::alreadySaved(const QString &site, const QString &id) const
{
    if (site.isEmpty() || id.isEmpty())
        return false;
    return (archive_ && archive_->contains(site, id)) || (store_ && store_->savedVideo(site, id));
}

std::optional<QString> Keeper::saved(const SavedVideo &s)
{
    QString why;
    if (archive_ && !s.video.id.isEmpty() && !archive_->contains(s.video.site, s.video.id) &&
        !archive_->add(s.video.site, s.video.id, &why))
        warn(QStringLiteral("cannot write the download archive"), options_.archiveFile, why);
    if (store_ && !store_->savedVideo(s.video.site, s.video.id)) {
        history::Entry e;
        e.video = s.video;
        e.avatar = s.avatar;
        e.file = QFileInfo(s.file).absoluteFilePath();
        e.size = e.done = QFileInfo(s.file).size();
        e.state = history::State::Done;
        e.finished = QDateTime::currentDateTime();
        store_->add(e);
    }
    std::optional<QString> cover;
    if (!s.skipped)
        cover = writeSidecars(s);
    if (options_.printPath) {
        std::fprintf(stdout, "%s\n", forTerminal(s.file).toUtf8().constData());
        std::fflush(stdout);
    }
    if (!s.skipped) {
        for (const QString &command : std::as_const(options_.exec))
            runCommand(command, s);
    }
    return cover;
}

std::optional<QString> Keeper::writeSidecars(const SavedVideo &s)
{
    QString why;
    if (options_.infoJson) {
        const QString path = sidecarPath(s.file, QStringLiteral(".info.json"));
        // A work of an author's page also says where in the playlist it stood.
        QVariantHash facts = s.measured;
        for (auto it = s.run.cbegin(); it != s.run.cend(); ++it) {
            if (it.key().startsWith(u"playlist") || it.key() == u"n_entries")
                facts.insert(it.key(), it.value());
        }
        if (!writeSidecar(path, videoInfoJson(s.video, s.avatar, QDateTime::currentDateTime(), s.file, facts), &why))
            warn(QStringLiteral("cannot write"), path, why);
    }
    if (options_.description) {
        const QString path = sidecarPath(s.file, QStringLiteral(".description"));
        if (!writeSidecar(path, s.video.description.toUtf8(), &why))
            warn(QStringLiteral("cannot write"), path, why);
    }
    if (!options_.thumbnail)
        return std::nullopt;
    const QString path = sidecarPath(s.file, coverExtension(s.video.cover));
    if (const QString problem = saveCover(s.video.cover, path); !problem.isEmpty()) {
        warn(QStringLiteral("cover skipped:"), path, problem);
        return QString();  // asked for, not written: null in the JSON line
    }
    return path;
}

void Keeper::runCommand(const QString &command, const SavedVideo &s)
{
    const QString &path = s.file;
    // Words as a shell would split them, but no shell: {} is the path as one argument.
    QStringList words = shellWords(command).value_or(QStringList());
    if (words.isEmpty())
        return;
    // The path goes last only when the command places nothing of the video itself: neither
    // {} nor a template field (a command naming %(id)s is about that name, not the file).
    bool placed = false;
    // Template fields in a word are filled as --print fills them; each word stays one
    // argument, so %(...)q gives the value as it stands.
    outtmpl::Fields fields {s.video, QFileInfo(path).suffix(), s.measured};
    fields.more.insert(s.run);
    fields.more[QStringLiteral("filepath")] = QFileInfo(path).absoluteFilePath();
    fields.more[QStringLiteral("filename")] = QFileInfo(path).absoluteFilePath();
    for (QString &word : words) {
        // Filled piece by piece around each {}, so neither a value nor the path is read again.
        QStringList pieces = word.split(QStringLiteral("{}"));
        placed = placed || pieces.size() > 1;
        for (QString &piece : pieces) {
            if (!outtmpl::namedFields(piece).isEmpty()) {
                piece = outtmpl::expand(piece, fields, false, true);
                placed = true;
            }
        }
        word = pieces.join(path);
    }
    if (!placed)
        words << path;
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(words.takeFirst(), words);
    const QString program = process.program();
    if (!process.waitForStarted()) {
        ++commandsFailed_;
        messages::error(QStringLiteral("--exec could not start %1 (not found, or not a program) for %2")
                            .arg(forTerminal(program), forTerminal(path)));
        return;
    }
    process.waitForFinished(-1);
    if (process.exitStatus() != QProcess::NormalExit) {
        ++commandsFailed_;
        messages::error(
            QStringLiteral("--exec: %1 was killed (a signal) for %2").arg(forTerminal(program), forTerminal(path)));
    } else if (const int code = process.exitCode(); code != 0) {
        ++commandsFailed_;
        messages::error(QStringLiteral("--exec exited with %1 for %2").arg(code).arg(forTerminal(path)));
    }
}
