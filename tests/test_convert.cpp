// The converter on the simulator's files: what it makes is read back through libavformat
// (packets, tags, the cover, the index's place), and the converter's process failing, killed
// or cancelled leaves the original as it was and no output.
#include "convert/conversion.h"
#include "download/video_name.h"
#include "media_input.h"
#include "fixtures.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QSignalSpy>
#include <QTest>
#include <sys/xattr.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

using convert::Kind;

namespace {

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
};

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
    const convert::Result result = convert::convertFile(request);
    QVERIFY2(result.code == code, qPrintable(result.error));
    QCOMPARE(fileBytes(original), bytes);  // the original is never touched
    if (!code.isEmpty()) {
        QVERIFY(!result.text().isEmpty());
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
    const convert::Result again = convert::convertFile(request);
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
