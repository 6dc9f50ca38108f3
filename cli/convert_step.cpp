#include "convert_step.h"
#include "waits.h"
#include "messages.h"

#include "download/sidecar.h"
#include "download/video_name.h"
#include "net/fetch.h"
#include "option_table.h"
#include "terminal_text.h"

#include <QFile>
#include <QRegularExpression>
#include <cstdio>

QString readConvertOptions(const Args &args, ConvertOptions &o)
{
    const bool remux = args.isSet(opt::RemuxVideo);
    const bool audio = args.isSet(opt::ExtractAudio);
    if (remux && audio)
        return QStringLiteral("--remux-video and --extract-audio make different files: choose one");
    if (remux) {
        if (args.value(opt::RemuxVideo).toLower() != u"mp4")
            return QStringLiteral("--remux-video takes mp4");
        o.kind = convert::Kind::Mp4;
    }
    const QString format =
        args.isSet(opt::AudioFormat) ? args.value(opt::AudioFormat).toLower() : QStringLiteral("m4a");
    const std::optional<convert::Kind> sound = convert::kindNamed(format);
    if (!sound || !convert::kindRow(*sound).soundOnly)
        return QStringLiteral("--audio-format takes m4a or mp3");
    if (args.isSet(opt::AudioFormat) && !audio)
        return QStringLiteral("--audio-format goes with --extract-audio (-x)");
    if (audio)
        o.kind = sound;
    if (args.isSet(opt::AudioQuality)) {
        // 0 (best) to 9 for a variable bitrate, or a bitrate such as 192K.
        static const QRegularExpression shape(QStringLiteral("^(?:([0-9])|([0-9]{2,3})[kK]?)$"));
        const QRegularExpressionMatch m = shape.match(args.value(opt::AudioQuality));
        const int bitrate = m.captured(2).toInt();
        if (!m.hasMatch() || (!m.captured(2).isEmpty() && (bitrate < 32 || bitrate > 320)))
            return QStringLiteral("--audio-quality takes 0 (best) to 9, or a bitrate from 32K to 320K");
        o.mp3Quality = m.captured(1).isEmpty() ? o.mp3Quality : m.captured(1).toInt();
        o.mp3Bitrate = bitrate;
    }
    o.embedMetadata = args.isSet(opt::EmbedMetadata);
    o.embedThumbnail = args.isSet(opt::EmbedThumbnail);
    o.keepVideo = args.isSet(opt::KeepVideo);
    return QString();
}

QString convertedAlready(const QString &path, const QString &link, const ConvertOptions &options)
{
    if (!options.kind)
        return QString();
    const SavePlace place = savePlace(convert::convertedName(path, *options.kind), {link}, false);
    return place.thisVideo ? place.file : QString();
}

namespace {

// The cover's bytes for the file, fetched as a sidecar cover is; empty when there is none.
QByteArray coverBytes(const QString &cover)
{
    if (!fetch::isWebAddress(cover))
        return QByteArray();
    const fetch::Result answer = fetchNow(cover, fetch::PictureLimit);
    return answer.ok && answer.status == 200 && isImageData(answer.body) ? answer.body : QByteArray();
}

}  // namespace

std::optional<convert::Result> convertSaved(
    const QString &file, const VideoFields &video, const ConvertOptions &options, bool quiet)
{
    const bool embed = options.embedMetadata || options.embedThumbnail;
    const bool savedMp4 = file.endsWith(QStringLiteral(".mp4"), Qt::CaseInsensitive);
    convert::Request request;
    request.source = file;
    if (!options.kind || *options.kind == convert::Kind::Mp4) {
        if (!embed && options.kind) {
            // A video saved as MP4 already is what --remux-video mp4 asks for.
            if (savedMp4) {
                convert::Result same;
                same.file = file;
                same.existed = true;
                return same;
            }
        } else if (!embed) {
            return std::nullopt;
        } else if (savedMp4) {
            // The tags and cover written into the saved MP4 itself: a stream copy, checked
            // as a conversion is, that takes the file's place.
            request.replaceSource = true;
        } else if (!options.kind) {
            messages::warning(QStringLiteral("%1 is not an MP4, which alone can hold the tags and the cover: nothing "
                                             "was embedded (add --remux-video mp4)")
                                  .arg(forTerminal(file)));
            return std::nullopt;
        }
    }
    request.kind = options.kind.value_or(convert::Kind::Mp4);
    request.mp3Quality = options.mp3Quality;
    request.mp3Bitrate = options.mp3Bitrate;
    request.embedTags = options.embedMetadata;
    request.video = video;
    if (options.embedThumbnail)
        request.cover = coverBytes(video.cover);
    convert::Result result = convertNow(request);
    if (!result.ok()) {
        messages::error(
            QStringLiteral("conversion failed, the original kept: %1: %2").arg(forTerminal(file), result.error));
        return result;
    }
    if (!quiet)
        messages::note((request.replaceSource ? QStringLiteral("tags written: ") : QStringLiteral("converted: ")) +
            forTerminal(result.file));
    if (!options.keepVideo && result.file != file)
        QFile::remove(file);
    return result;
}
