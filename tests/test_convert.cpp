// The converter on the simulator's files: what it makes is read back through libavformat
// (packets, tags, the cover, the index's place), and the converter's process failing, killed
// or cancelled leaves the original as it was and no output.
#include "convert/conversion.h"
#include "download/video_name.h"
#include "media_input.h"
#include "media_output.h"
#include "media_survey.h"
#include "fixtures.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QSignalSpy>
#include <QProcess>
#include <QDeadlineTimer>
#include <QTest>
#include <sys/xattr.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

using convert::Kind;

namespace {

// One conversion, awaited here.
convert::Result awaitConversion(const convert::Request &request)
{
    convert::Conversion conversion;
    std::optional<convert::Result> result;
    QObject::connect(&conversion, &convert::Conversion::finished, [&result](const convert::Result &r) { result = r; });
    conversion.start(request);
    const QDeadlineTimer deadline(120000);
    while (!result && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    return result.value_or(convert::Result());
}

const QString Media = QStringLiteral(QUORVIN_SOURCE_DIR "/sim/media/");

// The packets of the first stream of type (the cover left out), hashed one after the other.
QByteArray packetsOf(const QString &path, AVMediaType type)
{
    std::string why;
    const media::InputContext in = media::openInput(path.toStdString(), media::SavedVideoFormats, &why);
    if (!in)
        return QByteArray();
    const int stream = media::firstStream(in.get(), type);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    AVPacket *packet = av_packet_alloc();
    int count = 0;
    while (av_read_frame(in.get(), packet) >= 0) {
        if (packet->stream_index == stream) {
            hash.addData(QByteArrayView(reinterpret_cast<const char *>(packet->data), packet->size));
            ++count;
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return QByteArray::number(count) + hash.result().toHex();
}

// The tags and whether a cover picture is inside.
struct Inside {
    QString title;
    QString artist;
    QString comment;
    bool cover = false;
};

Inside insideOf(const QString &path)
{
    std::string why;
    const media::InputContext in = media::openInput(path.toStdString(), media::SavedVideoFormats, &why);
    Inside inside;
    if (!in)
        return inside;
    const auto tag = [&](const char *key) {
        const AVDictionaryEntry *e = av_dict_get(in->metadata, key, nullptr, 0);
        return e != nullptr ? QString::fromUtf8(e->value) : QString();
    };
    inside.title = tag("title");
    inside.artist = tag("artist");
    inside.comment = tag("comment");
    for (unsigned i = 0; i < in->nb_streams; ++i)
        inside.cover = inside.cover || (in->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
    return inside;
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A small JPEG, as a cover is served, made with Qt's own image writer.
QByteArray coverJpeg()
{
    static const QByteArray jpeg = encodedPicture(Qt::red, QSize(32, 32));
    return jpeg;
}

VideoFields videoOf(const QString &link)
{
    VideoFields v;
    v.site = QStringLiteral("weipai");
    v.id = QStringLiteral("wp8001");
    v.author = QStringLiteral("微拍小王");
    v.description = QStringLiteral("第一次用微拍，拍一下我家的狗");
    v.date = QStringLiteral("2014-08-08 08:08");
    v.address = QStringLiteral("http://127.0.0.1:18631/video/wp8001");
    v.link = link;
    return v;
}

// The files in folder other than the source, hidden ones too.
QStringList othersIn(const QString &folder, const QString &source)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    names.removeAll(source);
    return names;
}

// An FLV as servers send them when they change their minds, made from the sample's tags: its
// pictures and sound repeated copies times one after the other (each copy 2.1 s later), the
// sound only in copies [soundFrom, soundTo], its flags' sample-size bit flipped from copy flip
// on, and its codec said to be MP3 from copy mp3 on. 0 for flip and mp3: never.
struct FlvShape {
    int copies = 4;
    int soundFrom = 1;
    int soundTo = 4;
    int flip = 0;
    int mp3 = 0;
};

QByteArray hostileFlv(const FlvShape &shape)
{
    const QByteArray sample = fileBytes(Media + QStringLiteral("sample.flv"));
    struct Tag {
        char type;
        quint32 time;
        QByteArray body;
    };
    QList<Tag> tags;
    for (qsizetype at = 13; at + 11 <= sample.size();) {
        const auto byte = [&](qsizetype i) { return quint32(quint8(sample[at + i])); };
        const qsizetype size = qsizetype(byte(1) << 16 | byte(2) << 8 | byte(3));
        tags.append({sample[at], byte(4) << 16 | byte(5) << 8 | byte(6) | byte(7) << 24, sample.mid(at + 11, size)});
        at += 11 + size + 4;
    }
    QByteArray out = sample.left(13);
    if (shape.soundFrom > 1)
        out[4] = 0x01;  // the header tells of pictures only, as a server that adds sound later writes it
    const auto write = [&out](char type, quint32 time, const QByteArray &body) {
        const auto size = quint32(body.size());
        out += type;
        out += char(size >> 16) + QByteArray(1, char(size >> 8)) + char(size);
        out += char(time >> 16) + QByteArray(1, char(time >> 8)) + char(time) + char(time >> 24);
        out += QByteArray(3, '\0') + body;
        const quint32 previous = 11 + size;
        out += char(previous >> 24) + QByteArray(1, char(previous >> 16)) + char(previous >> 8) + char(previous);
    };
    char soundFlags = 0;  // the flags of the last sound setup written
    for (int copy = 1; copy <= shape.copies; ++copy) {
        for (const Tag &tag : tags) {
            const bool setup = tag.body.size() > 1 && tag.body[1] == 0;  // AVC or AAC configuration
            if (tag.type == 18 || (tag.type == 9 && setup && copy > 1))
                continue;  // no metadata: the duration is the tags'; one picture setup
            if (tag.type == 8 && (copy < shape.soundFrom || copy > shape.soundTo || setup))
                continue;
            QByteArray body = tag.body;
            if (tag.type == 8) {
                if (shape.flip > 0 && copy >= shape.flip)
                    body[0] = char(body[0] ^ 0x02);
                if (shape.mp3 > 0 && copy >= shape.mp3)
                    body[0] = char((body[0] & 0x0f) | 0x20);
                if (body[0] != soundFlags) {
                    // The sound's setup goes before its first frame in each new form.
                    QByteArray config = tags[2].body;
                    config[0] = body[0];
                    write(8, tag.time + quint32(copy - 1) * 2100, config);
                    soundFlags = body[0];
                }
            }
            write(tag.type, tag.time + quint32(copy - 1) * 2100, body);
        }
    }
    return out;
}

// The seconds each kind of stream covers in a file: "video 8.36 sound 4.20".
QString spansIn(const QString &path)
{
    std::string why;
    const media::InputContext in = media::openInput(path.toStdString(), media::SavedVideoFormats, &why);
    if (!in)
        return QStringLiteral("unreadable");
    const std::vector<media::Span> spans = media::spansOf(in.get());
    QStringList parts;
    for (unsigned i = 0; i < in->nb_streams && i < spans.size(); ++i) {
        if ((in->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0)
            continue;
        const bool sound = in->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
        parts << QStringLiteral("%1 %2").arg(sound ? "sound" : "video").arg(spans[i].seconds(), 0, 'f', 1);
    }
    return parts.join(u' ');
}

}  // namespace

class TestConvert : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        av_log_set_level(AV_LOG_ERROR);
        QVERIFY2(coverJpeg().startsWith("\xFF\xD8\xFF"), "no cover: Qt's JPEG image plugin is missing");
    }
    void conversions_data();
    void conversions();
    void helperEndsBadly_data();
    void helperEndsBadly();
    void hostileFlvs_data();
    void hostileFlvs();
    void leftoversOfEndedRunsOnly();
    void soundOfOtherForms_data();
    void soundOfOtherForms();
};

// Sound as other files hold it, made into MP3: PCM in Matroska (whose frames come in another
// layout than its setup says) and a low rate, whose MP3 frames are long.
void TestConvert::soundOfOtherForms_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::newRow("PCM in Matroska, 8 kHz mono") << 8000 << 1;
    QTest::newRow("PCM in Matroska, 44.1 kHz stereo") << 44100 << 2;
}

void TestConvert::soundOfOtherForms()
{
    QFETCH(int, rate);
    QFETCH(int, channels);
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("clip.mkv"));
    {
        // 2 s of a tone, as 20 ms packets of 16-bit samples, the layout left unsaid.
        media::OutputFile out(source.toStdString(), "matroska");
        QVERIFY(out.valid());
        AVStream *s = out.newStream();
        s->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
        s->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
        s->codecpar->sample_rate = rate;
        s->codecpar->ch_layout.order = AV_CHANNEL_ORDER_UNSPEC;
        s->codecpar->ch_layout.nb_channels = channels;
        s->codecpar->bits_per_coded_sample = 16;
        s->time_base = AVRational {1, 1000};
        QCOMPARE(out.begin(), 0);
        const int samples = rate / 50;
        for (int n = 0; n < 100; ++n) {
            AVPacket *packet = av_packet_alloc();
            QVERIFY(av_new_packet(packet, samples * channels * 2) == 0);
            auto *pcm = reinterpret_cast<int16_t *>(packet->data);
            for (int i = 0; i < samples * channels; ++i)
                pcm[i] = int16_t(8000 * ((n * samples + i / channels) % 40 < 20 ? 1 : -1));
            packet->stream_index = s->index;
            packet->pts = packet->dts = av_rescale_q(n * 20, AVRational {1, 1000}, s->time_base);
            packet->duration = av_rescale_q(20, AVRational {1, 1000}, s->time_base);
            QCOMPARE(out.write(packet), 0);
            av_packet_free(&packet);
        }
        QCOMPARE(out.finish(), 0);
    }
    convert::Request request;
    request.source = source;
    request.kind = Kind::Mp3;
    request.video = videoOf(QStringLiteral("http://127.0.0.1:18632/media/wp8001.mkv"));
    const convert::Result result = awaitConversion(request);
    QVERIFY2(result.ok(), qPrintable(result.error));
    const std::optional<convert::MediaFacts> facts = convert::probeFile(result.file);
    QVERIFY(facts);
    QCOMPARE(facts->acodec, QStringLiteral("mp3"));
    QVERIFY2(qAbs(facts->duration - 2.0) < 0.35, qPrintable(QString::number(facts->duration)));
}

// What a killed run's conversion left under a hidden name goes at the next start; a running
// program's stays, and a link under such a name is neither followed nor removed.
void TestConvert::leftoversOfEndedRunsOnly()
{
    QProcess ended;
    ended.start(QStringLiteral("true"));
    QVERIFY(ended.waitForFinished());
    const qint64 dead = ended.processId() > 0 ? ended.processId() : 999999;
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath(QStringLiteral("precious"));
    QFile precious(target);
    QVERIFY(precious.open(QIODevice::WriteOnly) && precious.write("keep") == 4);
    precious.close();
    const auto make = [&dir](const QString &name) {
        QFile f(dir.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write("half") == 4;
    };
    const QString mine = QStringLiteral(".quorvin-converting-%1-1").arg(QCoreApplication::applicationPid());
    const QString running = QStringLiteral(".quorvin-converting-1-2");  // init runs as long as the machine
    QVERIFY(make(QStringLiteral(".quorvin-converting-%1-3").arg(dead)) && make(mine) && make(running));
    QVERIFY(make(QStringLiteral(".quorvin-converting-%1-r4").arg(dead)) && make(QStringLiteral("clip.flv")));
    const QString link = QStringLiteral(".quorvin-converting-%1-5").arg(dead);
    QVERIFY(QFile::link(target, dir.filePath(link)));
    convert::removeLeftovers(dir.path());
    QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    std::sort(left.begin(), left.end());
    QStringList expected {link, mine, running, QStringLiteral("clip.flv")};
    std::sort(expected.begin(), expected.end());
    QCOMPARE(left, expected);
    QCOMPARE(fileBytes(target), QByteArray("keep"));
}

// FLVs whose streams the reader meets only while reading: each converts whole (every stream,
// each as long as in the source) or is refused with the original kept and no output.
void TestConvert::hostileFlvs_data()
{
    QTest::addColumn<int>("copies");
    QTest::addColumn<int>("soundFrom");
    QTest::addColumn<int>("soundTo");
    QTest::addColumn<int>("flip");
    QTest::addColumn<int>("mp3");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("spans");  // of the converted file
    QTest::newRow("sound that starts late, to MP4") << 6 << 5 << 6 << 0 << 0 << int(Kind::Mp4) << ""
                                                    << "video 12.5 sound 4.1";
    QTest::newRow("sound that starts late, to MP3") << 6 << 5 << 6 << 0 << 0 << int(Kind::Mp3) << ""
                                                    << "sound 4.1";
    QTest::newRow("sound whose flags flip, to MP4") << 4 << 1 << 4 << 3 << 0 << int(Kind::Mp4) << ""
                                                    << "video 8.3 sound 8.3";
    QTest::newRow("sound whose flags flip, to M4A") << 4 << 1 << 4 << 3 << 0 << int(Kind::M4a) << ""
                                                    << "sound 8.3";
    QTest::newRow("sound that ends early") << 4 << 1 << 1 << 0 << 0 << int(Kind::Mp4) << ""
                                           << "video 8.3 sound 2.0";
    QTest::newRow("sound whose codec changes: refused") << 4 << 1 << 4 << 0 << 3 << int(Kind::Mp4) << "changed_stream"
                                                        << "";
}

void TestConvert::hostileFlvs()
{
    QFETCH(int, copies);
    QFETCH(int, soundFrom);
    QFETCH(int, soundTo);
    QFETCH(int, flip);
    QFETCH(int, mp3);
    QFETCH(int, kind);
    QFETCH(QString, code);
    QFETCH(QString, spans);
    QTemporaryDir dir;
    const QByteArray bytes = hostileFlv({copies, soundFrom, soundTo, flip, mp3});
    const QString original = dir.filePath(QStringLiteral("clip.flv"));
    QFile out(original);
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size());
    out.close();
    if (soundFrom > 1) {
        // The file is what it means to be: the reader has not met the sound when it opens it.
        std::string why;
        const media::InputContext in = media::openInput(original.toStdString(), media::SavedVideoFormats, &why);
        QVERIFY(in && in->nb_streams == 1);
    }
    convert::Request request;
    request.source = original;
    request.kind = Kind(kind);
    request.video = videoOf(QStringLiteral("http://127.0.0.1:18632/media/wp8001.flv"));
    const convert::Result result = awaitConversion(request);
    QVERIFY2(result.code == code, qPrintable(result.error));
    QCOMPARE(fileBytes(original), bytes);
    if (!code.isEmpty()) {
        QCOMPARE(othersIn(dir.path(), QStringLiteral("clip.flv")), QStringList());
        return;
    }
    QCOMPARE(spansIn(result.file), spans);
}

void TestConvert::conversions_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("tags");
    QTest::addColumn<QString>("taken");  // a file of another video already at the converted name
    QTest::addColumn<QString>("code");   // the failure's code, "" when it works
    QTest::addColumn<QString>("made");   // the converted file's name

    QTest::newRow("FLV to MP4, tags and cover") << "sample.flv" << int(Kind::Mp4) << true << ""
                                                << ""
                                                << "clip.mp4";
    QTest::newRow("a 70,000-character description as the title") << "sample.flv" << int(Kind::Mp4) << true << ""
                                                                 << ""
                                                                 << "clip.mp4";
    QTest::newRow("FLV to MP4, its name taken") << "sample.flv" << int(Kind::Mp4) << false << "clip.mp4"
                                                << ""
                                                << "clip (2).mp4";
    QTest::newRow("FLV's sound as M4A") << "sample.flv" << int(Kind::M4a) << true << ""
                                        << ""
                                        << "clip.m4a";
    QTest::newRow("MP4's sound as MP3") << "sample.mp4" << int(Kind::Mp3) << true << ""
                                        << ""
                                        << "clip.mp3";
    QTest::newRow("old codec: refused") << "old-codec.flv" << int(Kind::Mp4) << false << ""
                                        << "unfit_codec"
                                        << "";
    QTest::newRow("old codec's MP3 sound copied") << "old-codec.flv" << int(Kind::Mp3) << false << ""
                                                  << ""
                                                  << "clip.mp3";
    QTest::newRow("cut short: refused") << "cut" << int(Kind::Mp4) << false << ""
                                        << "check_failed"
                                        << "";
    QTest::newRow("not a video") << "text" << int(Kind::Mp3) << false << ""
                                 << "unreadable"
                                 << "";
}

void TestConvert::conversions()
{
    QFETCH(QString, source);
    QFETCH(int, kind);
    QFETCH(bool, tags);
    QFETCH(QString, taken);
    QFETCH(QString, code);
    QFETCH(QString, made);
    QTemporaryDir dir;
    QByteArray bytes = fileBytes(Media + (source == u"cut" ? QStringLiteral("sample.flv") : source));
    if (source == u"cut")
        bytes.truncate(bytes.size() / 2);
    if (source == u"text")
        bytes = "<html>404</html>";
    const QString ext = source.endsWith(u".mp4") ? QStringLiteral("mp4") : QStringLiteral("flv");
    const QString original = dir.filePath(QStringLiteral("clip.") + ext);
    QFile out(original);
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size());
    out.close();
    if (!taken.isEmpty()) {
        QFile other(dir.filePath(taken));
        QVERIFY(other.open(QIODevice::WriteOnly) && other.write("another video") > 0);
    }
    const QString link = QStringLiteral("http://127.0.0.1:18632/media/wp8001.") + ext;
    convert::Request request;
    request.source = original;
    request.kind = Kind(kind);
    request.embedTags = tags;
    request.cover = tags ? coverJpeg() : QByteArray();
    request.video = videoOf(link);
    if (QByteArray(QTest::currentDataTag()).contains("70,000"))
        request.video.description = QString(70000, QChar(0x957F));  // past the system's limit for one argument
    const convert::Result result = awaitConversion(request);
    QVERIFY2(result.code == code, qPrintable(result.error));
    QCOMPARE(fileBytes(original), bytes);  // the original is never touched
    if (!code.isEmpty()) {
        QVERIFY(!result.text().isEmpty());
        if (code == u"check_failed")  // the measure, as the command line gives it
            QVERIFY2(result.text().contains(QStringLiteral(" 秒，原文件 ")), qPrintable(result.text()));
        QCOMPARE(
            othersIn(dir.path(), QStringLiteral("clip.") + ext), taken.isEmpty() ? QStringList() : QStringList {taken});
        return;
    }
    QCOMPARE(QFileInfo(result.file).fileName(), made);
    // Where the file system keeps attributes, the new file records the video it holds.
    const bool attributes = ::setxattr(original.toUtf8().constData(), "user.quorvin.test", "1", 1, 0) == 0;
    QCOMPARE(holdsVideoFrom(result.file, link), attributes);
    if (Kind(kind) != Kind::Mp3) {
        // Streams copied: the packets are the source's, and MP4's index comes first.
        QCOMPARE(packetsOf(result.file, AVMEDIA_TYPE_AUDIO), packetsOf(original, AVMEDIA_TYPE_AUDIO));
        if (Kind(kind) == Kind::Mp4)
            QCOMPARE(packetsOf(result.file, AVMEDIA_TYPE_VIDEO), packetsOf(original, AVMEDIA_TYPE_VIDEO));
        const QByteArray made_ = fileBytes(result.file);
        QVERIFY(made_.indexOf("moov") < made_.indexOf("mdat"));
    }
    const std::optional<convert::MediaFacts> facts = convert::probeFile(result.file);
    QVERIFY(facts);
    const std::optional<convert::MediaFacts> before = convert::probeFile(original);
    QVERIFY(qAbs(facts->duration - before->duration) <= 0.15);
    QCOMPARE(facts->acodec, Kind(kind) == Kind::Mp3 ? QStringLiteral("mp3") : before->acodec);
    const Inside inside = insideOf(result.file);
    QCOMPARE(inside.title, tags ? request.video.description : QString());
    QCOMPARE(inside.artist, tags ? request.video.author : QString());
    QCOMPARE(inside.comment, tags ? request.video.address : QString());
    QCOMPARE(inside.cover, tags);
    // A second run finds the converted file as this video's: nothing is made again.
    if (!attributes)
        return;
    const convert::Result again = awaitConversion(request);
    QVERIFY(again.ok() && again.existed);
    QCOMPARE(again.file, result.file);
}

void TestConvert::helperEndsBadly_data()
{
    QTest::addColumn<QString>("script");  // the converter's process, played by a shell script
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QString>("code");
    // Each writes half an output first, as a conversion cut off mid-way leaves it.
    QTest::newRow("killed mid-way") << "echo partial > \"$last\"; echo 'progress 40'; kill -9 $$" << false << "crashed";
    QTest::newRow("cancelled") << "echo partial > \"$last\"; echo 'progress 40'; exec sleep 30" << true << "cancelled";
    QTest::newRow("ends without a word") << "echo partial > \"$last\"; exit 0" << false << "crashed";
}

void TestConvert::helperEndsBadly()
{
    QFETCH(QString, script);
    QFETCH(bool, cancel);
    QFETCH(QString, code);
    QTemporaryDir dir;
    const QString helper = dir.filePath(QStringLiteral("helper.sh"));
    QFile h(helper);
    QVERIFY(h.open(QIODevice::WriteOnly));
    h.write(("#!/bin/sh\nfor last; do :; done\n" + script + "\n").toUtf8());
    h.close();
    h.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("QUORVIN_MEDIA_HELPER", helper.toUtf8());
    const QString videos = dir.filePath(QStringLiteral("videos"));
    QDir().mkpath(videos);
    const QString original = videos + QStringLiteral("/clip.flv");
    QVERIFY(QFile::copy(Media + QStringLiteral("sample.flv"), original));
    convert::Conversion conversion;
    QSignalSpy finished(&conversion, &convert::Conversion::finished);
    if (cancel)
        connect(&conversion, &convert::Conversion::progress, &conversion, &convert::Conversion::cancel);
    convert::Request request;
    request.source = original;
    request.video = videoOf(QStringLiteral("http://127.0.0.1:18632/media/wp8001.flv"));
    conversion.start(request);
    QVERIFY(finished.wait(10000));
    qunsetenv("QUORVIN_MEDIA_HELPER");
    const auto result = finished.first().first().value<convert::Result>();
    QCOMPARE(result.code, code);
    QCOMPARE(fileBytes(original), fileBytes(Media + QStringLiteral("sample.flv")));
    QCOMPARE(othersIn(videos, QStringLiteral("clip.flv")), QStringList());
}

QTEST_GUILESS_MAIN(TestConvert)
#include "test_convert.moc"
