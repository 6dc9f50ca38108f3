#include "convert/conversion.h"

#include "download/place_file.h"
#include "download/video_name.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimerEvent>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <csignal>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace convert {

namespace {

// The descriptor the converter's process writes its output through.
constexpr int ConverterOutputFd = 3;

// The words the converter's process is started with; what a page wrote (the tags) goes on
// its standard input (inputOf), never as an argument.
QStringList helperArguments(const Request &r, const QString &output)
{
    QStringList words {QStringLiteral("convert"), QStringLiteral("--to"), kindName(r.kind)};
    if (r.kind == Kind::Mp3 && r.mp3Bitrate > 0)
        words << QStringLiteral("--bitrate") << QString::number(r.mp3Bitrate);
    else if (r.kind == Kind::Mp3)
        words << QStringLiteral("--quality") << QString::number(r.mp3Quality);
    if (r.embedTags || !r.cover.isEmpty())
        words << QStringLiteral("--tags");
    if (!r.cover.isEmpty())
        words << QStringLiteral("--cover");
    // "--" cannot be mistaken: the paths are absolute.
    words << QFileInfo(r.source).absoluteFilePath() << output;
    return words;
}

// The converter's standard input: with --tags the title, artist, date and comment, each as
// its length in bytes on a line of its own and then its bytes; then the cover's bytes.
QByteArray inputOf(const Request &r)
{
    QByteArray in;
    if (r.embedTags || !r.cover.isEmpty()) {
        QStringList texts(4);
        if (r.embedTags)
            texts = {r.video.description.isEmpty() ? QFileInfo(r.source).completeBaseName() : r.video.description,
                r.video.author, r.video.date, r.video.address};
        for (const QString &text : texts) {
            const QByteArray bytes = text.toUtf8();
            in += QByteArray::number(bytes.size()) + '\n' + bytes;
        }
    }
    return in + r.cover;
}

// A new empty file in folder for the converter's output, open for reading and writing with
// the permissions a download's file gets (the user's umask): one without a name where the
// file system allows it, so nothing is left behind whatever ends the program; else a hidden
// name of its own, made anew (O_EXCL never follows a link put there). -1 when none could be
// made; name: the hidden name, or empty.
int openOutput(const QDir &folder, QString *name)
{
    name->clear();
    const QByteArray dir = QFile::encodeName(folder.absolutePath());
    int fd = ::open(dir.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return fd;
    static int counter = 0;
    for (int tries = 0; tries < 100; ++tries) {
        QString path = folder.filePath(
            QStringLiteral(".quorvin-converting-%1-%2").arg(QCoreApplication::applicationPid()).arg(++counter));
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            *name = path;
            return fd;
        }
        if (errno != EEXIST)
            break;
    }
    return -1;
}

Result failure(const char *code, const QString &why)
{
    Result r;
    r.code = QString::fromLatin1(code);
    r.error = why;
    return r;
}

}  // namespace

QString kindName(Kind kind)
{
    const std::string_view name = kindRow(kind).name;
    return QString::fromLatin1(name.data(), qsizetype(name.size()));
}

QString kindCaption(Kind kind)
{
    const std::string_view caption = kindRow(kind).caption;
    return QString::fromUtf8(caption.data(), qsizetype(caption.size()));
}

std::optional<Kind> kindNamed(const QString &name)
{
    const QByteArray latin = name.toLatin1();
    if (const KindRow *row = kindRowNamed(std::string_view(latin.constData(), size_t(latin.size())));
        row && QString::fromLatin1(latin) == name)
        return row->kind;
    return std::nullopt;
}

bool isSoundFileName(const QString &path)
{
    const std::optional<Kind> kind = kindNamed(QFileInfo(path).suffix().toLower());
    return kind && kindRow(*kind).soundOnly;
}

QString Result::text() const
{
    static const QHash<QString, QString> texts = {
        {QStringLiteral("unfit_codec"), QStringLiteral("该视频的编码无法放入 MP4，已保留原文件")},
        {QStringLiteral("no_audio"), QStringLiteral("该视频没有声音，已保留原文件")},
        {QStringLiteral("changed_stream"),
            QStringLiteral("该视频的声音或画面中途改变了格式，无法放入一个文件，已保留原文件")},
        {QStringLiteral("unreadable"), QStringLiteral("视频文件无法读取，已保留原文件")},
        {QStringLiteral("check_failed"), QStringLiteral("转换结果未通过检查，已保留原文件")},
        {QStringLiteral("write_failed"), QStringLiteral("无法写入转换后的文件，已保留原文件")},
        {QStringLiteral("crashed"), QStringLiteral("转换程序意外退出，已保留原文件")},
        {QStringLiteral("timeout"), QStringLiteral("转换超时，已保留原文件")},
        {QStringLiteral("cancelled"), QStringLiteral("已取消转换")},
        {QStringLiteral("no_helper"), QStringLiteral("找不到转换程序")},
        {QStringLiteral("missing"), QStringLiteral("原文件已不在")},
    };
    if (code == u"check_failed") {
        // The measure the check took, as the command line gives it: "converts to 0.89 s of 2.08 s".
        static const QRegularExpression measured(
            QStringLiteral("(sound|video) is cut short or damaged: it converts to ([0-9.]+) s of ([0-9.]+) s"));
        if (const QRegularExpressionMatch m = measured.match(error); m.hasMatch())
            return QStringLiteral("转换结果未通过检查（%1只有 %2 秒，原文件 %3 秒），已保留原文件")
                .arg(m.captured(1) == u"sound" ? QStringLiteral("声音") : QStringLiteral("画面"), m.captured(2),
                    m.captured(3));
        if (error.contains(QStringLiteral("lacks a sound")))
            return QStringLiteral("转换结果缺少声音，已保留原文件");
        if (error.contains(QStringLiteral("lacks a video")))
            return QStringLiteral("转换结果缺少画面，已保留原文件");
    }
    return code.isEmpty() ? QString() : texts.value(code, QStringLiteral("转换失败，已保留原文件"));
}

QString convertedName(const QString &source, Kind kind)
{
    const QFileInfo info(source);
    return info.dir().filePath(info.completeBaseName() + u'.' + kindName(kind));
}

namespace {
const QString SoundSourceMark = QStringLiteral(".quorvin-video.");
}  // namespace

QString soundSourcePath(const QString &soundFile, const QString &videoExtension)
{
    const QFileInfo info(soundFile);
    return info.dir().filePath(u'.' + info.fileName() + SoundSourceMark + videoExtension);
}

QString soundTargetOf(const QString &videoFile)
{
    const QFileInfo info(videoFile);
    const QString name = info.fileName();
    const qsizetype mark = name.lastIndexOf(SoundSourceMark);
    if (!name.startsWith(u'.') || mark <= 1)
        return QString();
    const QString sound = name.mid(1, mark - 1);
    return isSoundFileName(sound) ? info.dir().filePath(sound) : QString();
}

void removeLeftovers(const QString &folder)
{
    static const QRegularExpression ours(QStringLiteral("^\\.quorvin-converting-([0-9]+)-r?[0-9]+$"));
    const QDir dir(folder);
    for (const QString &name : dir.entryList({QStringLiteral(".quorvin-converting-*")}, QDir::Files | QDir::Hidden)) {
        const QRegularExpressionMatch m = ours.match(name);
        if (!m.hasMatch())
            continue;
        const auto pid = pid_t(m.captured(1).toLongLong());
        if (pid == ::getpid() || ::kill(pid, 0) == 0 || errno != ESRCH)
            continue;  // this program's, or one still running
        // Only a regular file: a link put under such a name is neither followed nor removed.
        struct stat info {};
        const QByteArray path = QFile::encodeName(dir.filePath(name));
        if (::lstat(path.constData(), &info) == 0 && S_ISREG(info.st_mode))
            ::unlink(path.constData());
    }
}

QString helperProgram()
{
    if (QString given = qEnvironmentVariable("QUORVIN_MEDIA_HELPER"); !given.isEmpty())
        return given;
    const QString here = QCoreApplication::applicationDirPath();
    const QStringList places = {here + QStringLiteral("/quorvin-convert"),
        here + QStringLiteral("/../lib/quorvin-video-helper/quorvin-convert"),
        QStringLiteral(QUORVIN_MEDIA_BUILD_PATH)};
    for (const QString &place : places) {
        if (QFileInfo(place).isExecutable())
            return QFileInfo(place).absoluteFilePath();
    }
    return QString();
}

int deadlineMs(qint64 bytes)
{
    return 60000 + int(qMin<qint64>(bytes / 10'000'000, 24 * 3600) * 1000);
}

Conversion::Conversion(QObject *parent) : QObject(parent)
{
    connect(&process_, &QProcess::readyReadStandardOutput, this, &Conversion::onOutput);
    connect(&process_, &QProcess::finished, this, &Conversion::onEnded);
    connect(&process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            end(failure("no_helper", QStringLiteral("the converter could not be started")));
    });
}

Conversion::~Conversion()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
    closeOutput();
}

void Conversion::closeOutput()
{
    // A hidden name is removed only while it still names this output: a link or another file
    // put there since stays as it is.
    struct stat named {};
    struct stat open {};
    if (!temporary_.isEmpty() && output_ >= 0 && ::fstat(output_, &open) == 0 &&
        ::lstat(QFile::encodeName(temporary_).constData(), &named) == 0 && named.st_dev == open.st_dev &&
        named.st_ino == open.st_ino)
        ::unlink(QFile::encodeName(temporary_).constData());
    if (output_ >= 0)
        ::close(output_);
    output_ = -1;
    temporary_.clear();
}

bool Conversion::isRunning() const
{
    return process_.state() != QProcess::NotRunning;
}

void Conversion::start(const Request &request)
{
    if (cancelled_)
        return;  // cancelled before it could start: finished() was said then
    started_ = true;
    request_ = request;
    timedOut_ = false;
    pending_.clear();
    lastLine_.clear();
    startedAt_ = QDateTime::currentMSecsSinceEpoch();
    const QFileInfo source(request.source);
    if (!source.isFile())
        return end(failure("missing", QStringLiteral("the saved file is gone")));
    const QString first = request.target.isEmpty() ? convertedName(request.source, request.kind) : request.target;
    if (const SavePlace place = savePlace(first, {request.video.link}, false);
        place.thisVideo && !request.replaceSource) {
        Result r;
        r.file = place.file;
        r.existed = true;
        return end(r);
    }
    const QString program = helperProgram();
    if (program.isEmpty())
        return end(failure("no_helper", QStringLiteral("the converter is not installed")));
    // The output's file, opened here and handed to the converter as its descriptor 3: what
    // lies at any name in the folder is never what the converter writes or what is moved.
    output_ = openOutput(source.dir(), &temporary_);
    if (output_ < 0)
        return end(failure("write_failed", QStringLiteral("cannot write in ") + source.absolutePath()));
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.setStandardErrorFile(QProcess::nullDevice());
    const int fd = output_;
    process_.setChildProcessModifier([fd] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // the converter ends with the program, whatever ends it
        if (fd == ConverterOutputFd)
            ::fcntl(fd, F_SETFD, 0);
        else
            ::dup2(fd, ConverterOutputFd);
    });
    process_.start(program, helperArguments(request, QStringLiteral("/proc/self/fd/%1").arg(ConverterOutputFd)));
    if (!process_.waitForStarted())
        return;  // errorOccurred ended it
    process_.write(inputOf(request));
    process_.closeWriteChannel();
    timer_ = startTimer(deadlineMs(source.size()));
}

void Conversion::cancel()
{
    if (ended_)
        return;
    cancelled_ = true;
    if (isRunning())
        process_.kill();
    else if (!started_)
        end(failure("cancelled", QStringLiteral("cancelled")));  // before it started (its cover still coming)
}

void Conversion::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != timer_)
        return;
    killTimer(timer_);
    timer_ = 0;
    timedOut_ = true;
    process_.kill();
}

void Conversion::onOutput()
{
    pending_ += process_.readAllStandardOutput();
    qsizetype end = 0;
    while ((end = pending_.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(pending_.left(end));
        pending_.remove(0, end + 1);
        if (line.startsWith(QLatin1String("progress ")))
            emit progress(line.mid(9).toInt());
        else
            lastLine_ = line;
    }
}

void Conversion::onEnded()
{
    onOutput();
    if (timer_ != 0)
        killTimer(timer_);
    timer_ = 0;
    if (cancelled_)
        return end(failure("cancelled", QStringLiteral("cancelled")));
    if (timedOut_)
        return end(failure("timeout", QStringLiteral("the conversion took too long")));
    if (process_.exitStatus() == QProcess::CrashExit)
        return end(failure("crashed", QStringLiteral("the converter ended unexpectedly")));
    if (lastLine_ != QLatin1String("ok")) {
        const QStringList parts = lastLine_.split(u' ');
        if (parts.size() >= 3 && parts[0] == QLatin1String("error"))
            return end(failure(parts[1].toLatin1().constData(), parts.mid(2).join(u' ')));
        return end(failure("crashed", QStringLiteral("the converter ended unexpectedly")));
    }
    if (request_.replaceSource) {
        if (const int why = replaceWithDescriptor(output_, request_.source, request_.video.link); why != 0)
            return end(failure("write_failed", QString::fromLocal8Bit(std::strerror(why))));
        Result r;
        r.file = request_.source;
        return end(r);
    }
    const QString first = request_.target.isEmpty() ? convertedName(request_.source, request_.kind) : request_.target;
    const PlacedFile placed = placeDescriptor(output_, first, request_.video.link);
    if (placed.error != 0)
        return end(failure("write_failed", QString::fromLocal8Bit(std::strerror(placed.error))));
    Result r;
    r.file = placed.file;
    r.existed = placed.thisVideo;
    end(r);
}

void Conversion::end(Result result)
{
    ended_ = true;
    closeOutput();
    result.seconds = double(QDateTime::currentMSecsSinceEpoch() - startedAt_) / 1000.0;
    emit finished(result);
}

std::optional<MediaFacts> probeFile(const QString &path)
{
    const QString program = helperProgram();
    if (program.isEmpty())
        return std::nullopt;
    QProcess process;
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, {QStringLiteral("probe"), QFileInfo(path).absoluteFilePath()});
    process.closeWriteChannel();
    if (!process.waitForFinished(deadlineMs(QFileInfo(path).size()))) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    const QStringList lines = QString::fromUtf8(process.readAllStandardOutput()).split(u'\n');
    if (process.exitStatus() != QProcess::NormalExit || !lines.contains(QStringLiteral("ok")))
        return std::nullopt;
    MediaFacts facts;
    for (const QString &line : lines) {
        const QString key = line.section(u'=', 0, 0);
        const QString value = line.section(u'=', 1);
        if (key == QLatin1String("duration"))
            facts.duration = value.toDouble();
        else if (key == QLatin1String("width"))
            facts.width = value.toInt();
        else if (key == QLatin1String("height"))
            facts.height = value.toInt();
        else if (key == QLatin1String("vcodec"))
            facts.vcodec = value;
        else if (key == QLatin1String("acodec"))
            facts.acodec = value;
        else if (key == QLatin1String("container"))
            facts.container = value;
    }
    return facts;
}

}  // namespace convert
