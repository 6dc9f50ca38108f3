// End to end on the service simulator: the real simulator process, the real window, the
// real player and the command-line front end.
#include "controls/alpha_image.h"
#include "await.h"
#include "net/fetch.h"
#include "controls/media_player.h"
#include "extract/address_check.h"
#include "process.h"
#include "sites/site_registry.h"
#include "sites/sites.h"
#include "downloads/download_list.h"
#include "downloads/download_rows.h"
#include "settings/settings.h"
#include "window_harness.h"

#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QRadioButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

namespace {

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

}  // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT
    QProcess sim_;
    QString hostPort_;
    QStringList addresses_;

private slots:
    void initTestCase()
    {
        const quint16 port = freePort();
        hostPort_ = QStringLiteral("127.0.0.1:%1").arg(port);
        const ProcessResult list = runProgram(QUORVIN_SIM, {"--port", QString::number(port), "--list"});
        // The share addresses, up to the empty line before the authors' pages.
        addresses_ = QString::fromUtf8(list.out).section(QStringLiteral("\n\n"), 0, 0).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(addresses_.size(), 16);
        sim_.start(QUORVIN_SIM, {"--port", QString::number(port)});
        QVERIFY(sim_.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(
            awaitBody("http://" + hostPort_ + "/version.txt") == std::optional<QString>("V1.0"), 10000);
    }
    void cleanupTestCase()
    {
        sim_.terminate();
        sim_.waitForFinished(5000);
    }

    void windowExtractsEveryService_data()
    {
        QTest::addColumn<int>("site");
        QTest::addColumn<QString>("author");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("badge");
        QTest::newRow("微视") << 0 << "小鱼儿"
                              << "今天的晚霞太美了#随手拍#分享给大家"
                              << "2014-03-15 18:42"
                              << "aicAlphaImage8";
        QTest::newRow("美拍") << 1 << "美拍小达人"
                              << "夏天就要去海边，一起来玩水吧！"
                              << "2015-07-08 18:00"
                              << "";
        QTest::newRow("GIF快手") << 2 << "快手老铁"
                                 << "今天去爬山 山顶的风真大"
                                 << "2015-06-01 12:00"
                                 << "";
        QTest::newRow("微拍") << 3 << "微拍小王"
                              << "第一次用微拍，拍一下我家的狗"
                              << "2014-08-08 08:08"
                              << "";
        QTest::newRow("秒拍") << 4 << "秒拍达人"
                              << "和@小伙伴一起去爬山 风景超棒"
                              << "2015-03-03"
                              << "aicAlphaImage4";
    }
    void windowExtractsEveryService()
    {
        QFETCH(int, site);
        QFETCH(QString, author);
        QFETCH(QString, description);
        QFETCH(QString, date);
        QFETCH(QString, badge);
        setHosts(Hosts::allOn(hostPort_));
        Recorder recorder;
        Form1 form(recorder.seams());
        form.Timer1->stop();
        form.show();
        checkVersion(form);  // the version check against the simulator
        QVERIFY(form.Command1->isEnabled());
        QTest::mouseClick(form.Option1[site], Qt::LeftButton);
        form.Text1->setText(addresses_.at(site * 3));
        QTest::mouseClick(form.Command1, Qt::LeftButton);
        awaitUntil([&] { return !form.extracting(); });
        QCOMPARE(form.Label5->text(), QString("视频提取完毕.."));
        QCOMPARE(form.Label1->text(), author);
        QCOMPARE(form.Label2->text(), description);
        QCOMPARE(form.Label3->text(), date);
        QVERIFY(!form.Image1->pixmap().isNull());
        if (site == Kuaishou) {
            QVERIFY(!form.aicAlphaImage3->isHidden());
            QCOMPARE(form.aicAlphaImage3->picture().size(), QSize(100, 100));
        } else {
            QVERIFY(form.aicAlphaImage3->isHidden());
            QCOMPARE(form.Image2->pixmap().size(), QSize(100, 100));
        }
        QCOMPARE(!form.aicAlphaImage8->isHidden(), badge == "aicAlphaImage8");
        QCOMPARE(!form.aicAlphaImage4->isHidden(), badge == "aicAlphaImage4");
        QTest::mouseClick(form.Command3, Qt::LeftButton);
        const QString link = form.Result.ResultSlots[SlotVideoUrl];
        QVERIFY(link.startsWith("http://" + hostPort_ + "/"));
        QCOMPARE(QGuiApplication::clipboard()->text(), link);
        QCOMPARE(form.Label5->text(), QString("视频链接地址已复制.."));
        QVERIFY(recorder.boxes.isEmpty());
        setHosts(Hosts::fromBuild());
    }

    // The 美拍 pages change; the simulator publishes a signed set that mends the description.
    // An address handed in at start waits for the set: its first extraction shows the author
    // of the changed page.
    void mendedDescriptionReachesTheWindow()
    {
        QTemporaryDir dir;
        const auto [secret, pub] = sitebundle::makeKeyPair();
        QFile key(dir.filePath("sites.key"));
        QVERIFY(key.open(QIODevice::WriteOnly));
        key.write(secret);
        key.close();
        qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8());
        sitebundle::setTrustedKeys({QString::fromLatin1(pub)});
        loadSiteDescriptions(QString());
        const quint16 port = freePort();
        const QString host = QStringLiteral("127.0.0.1:%1").arg(port);
        QProcess sim;
        sim.start(
            QUORVIN_SIM, {"--port", QString::number(port), "--site-changed", "meipai", "--sites-key", key.fileName()});
        QVERIFY(sim.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(awaitBody("http://" + host + "/version.txt") == std::optional<QString>("V1.0"), 10000);
        setHosts(Hosts::allOn(host));
        Recorder recorder;
        Form1 form(recorder.seams());
        form.Timer1->stop();
        form.show();
        form.handInAddress("http://" + host + "/media/10002");
        checkVersion(form);
        QTRY_COMPARE_WITH_TIMEOUT(form.Label5->text(), QString("视频提取完毕.."), 20000);
        QCOMPARE(form.Label1->text(), QString("会跳舞的猫咪酱"));
        QVERIFY(siteDescription(Meipai)->origin.startsWith(QString("update %1 of ").arg(builtInSetVersion() + 1)));
        QVERIFY(recorder.boxes.isEmpty());
        sim.terminate();
        sim.waitForFinished(5000);
        setHosts(Hosts::fromBuild());
        qputenv("XDG_DATA_HOME", QByteArray());
        loadSiteDescriptions(QString());
    }

    void playsToTheEndAndTheCoverReturns_data()
    {
        QTest::addColumn<int>("site");
        QTest::newRow("微视 (MP4 through the relay)") << 0;
        QTest::newRow("微拍 (FLV)") << 3;
    }
    void playsToTheEndAndTheCoverReturns()
    {
        QFETCH(int, site);
        setHosts(Hosts::allOn(hostPort_));
        Recorder recorder;
        Form1 form(recorder.seams());
        form.Timer1->stop();
        form.show();
        checkVersion(form);
        form.Option1[site]->setChecked(true);
        form.Text1->setText(addresses_.at(site * 3));
        extractNow(form);
        const qint64 coverKey = form.Image1->pixmap().cacheKey();
        QVERIFY(coverKey != 0);
        QTest::mouseMove(form.aicAlphaImage1, QPoint(140 + site, 150));
        QTRY_VERIFY(!form.aicAlphaImage2->isHidden());
        QTest::mouseClick(form.aicAlphaImage2, Qt::LeftButton, {}, QPoint(150, 150));
        QCOMPARE(form.Label5->text(), QString("正在播放视频.."));
        QVERIFY(form.W1->isVisible());
        QVERIFY(form.Image1->isHidden());
        QTRY_COMPARE_WITH_TIMEOUT(form.Label5->text(), QString("视频已停止.."), 30000);
        QVERIFY(!form.W1->isVisible());
        QVERIFY(!form.Image1->isHidden());
        QVERIFY(!form.Image1->pixmap().isNull());
        QVERIFY(!form.aicAlphaImage1->isHidden());
        setHosts(Hosts::fromBuild());
    }

    void commandLineDownloadsEveryClip();
    void downloadListKeepsGoingAndRemembers();
    void chatPastedAndClipboardWatched();
    void commandLineExtractsEveryListedAddress()
    {
        for (int site = 0; site < SiteCount; ++site) {
            const QStringList mine = addresses_.mid(site * 3, 3);
            const ProcessResult run = runProgram(QUORVIN_EXTRACT,
                QStringList {"--site", QString::number(site), "--json", "--all-hosts", hostPort_} + mine);
            QCOMPARE(run.exitCode, 0);
            const QList<QByteArray> lines = run.out.trimmed().split('\n');
            QCOMPARE(lines.size(), 3);
            for (const QByteArray &line : lines) {
                const QJsonObject o = QJsonDocument::fromJson(line).object();
                QVERIFY2(o["ok"].toBool() && o["video_url"].toString().startsWith("http"), line.constData());
                QVERIFY(o["error"].isNull());
            }
        }
    }
};

// Every simulator address downloaded through the command line, the large clip included.
void TestEndToEnd::commandLineDownloadsEveryClip()
{
    QTemporaryDir dir;
    for (int site = 0; site < SiteCount; ++site) {
        QStringList mine = addresses_.mid(site * 3, 3);
        if (site == 1)
            mine << addresses_.last();  // the large 美拍 clip
        const ProcessResult run = runProgram(QUORVIN_EXTRACT,
            QStringList {
                "--site", QString::number(site), "--json", "--download", "-o", dir.path(), "--all-hosts", hostPort_} +
                mine,
            120000);
        QCOMPARE(run.exitCode, 0);
        const QList<QByteArray> lines = run.out.trimmed().split('\n');
        QCOMPARE(lines.size(), mine.size());
        for (const QByteArray &line : lines) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            const QString file = o["file"].toString();
            QVERIFY2(QFileInfo(file).size() > 1000, line.left(300).constData());
            QVERIFY(!QFile::exists(file + ".part"));
            // The large clip's server holds each connection back: it is fetched on several.
            if (file.contains("[meipai-10004]"))
                QVERIFY2(o["connections"].toInt() >= 3, line.left(300).constData());
        }
    }
    const QStringList big = QDir(dir.path()).entryList(QDir::Files).filter("[meipai-10004].mp4");
    QCOMPARE(big.size(), 1);
    QCOMPARE(QFileInfo(dir.filePath(big.first())).size(), 64LL * 1024 * 1024);
}

namespace {

// The bytes at an address, as the simulator sends them: asked in six ranges at once, since it
// holds each connection of the large clip to a slow rate.
QByteArray rawGet(const QString &address)
{
    constexpr int Pieces = 6;
    constexpr qint64 Piece = 12LL * 1024 * 1024;  // six of them cover the large clip
    QNetworkAccessManager manager;
    QList<QNetworkReply *> replies;
    QEventLoop loop;
    int left = Pieces;
    for (int i = 0; i < Pieces; ++i) {
        QNetworkRequest request {QUrl(address)};
        request.setRawHeader("Range",
            "bytes=" + QByteArray::number(i * Piece) + "-" +
                (i + 1 < Pieces ? QByteArray::number((i + 1) * Piece - 1) : QByteArray()));
        replies << manager.get(request);
        QObject::connect(replies.last(), &QNetworkReply::finished, &loop, [&] {
            if (--left == 0)
                loop.quit();
        });
    }
    loop.exec();
    QByteArray bytes;
    for (QNetworkReply *reply : replies) {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status == 206 || bytes.isEmpty())
            bytes += reply->readAll();  // a 416 past a small file's end adds nothing
        reply->deleteLater();
    }
    return bytes;
}

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Extracts the address in the window and saves its video as file; the download's row.
qint64 extractAndSave(Form1 &form, Recorder &recorder, const QString &address, const QString &file)
{
    QTest::mouseClick(form.Option1[siteForAddress(address, hosts())], Qt::LeftButton);
    form.Text1->setText(address);
    QTest::mouseClick(form.Command1, Qt::LeftButton);
    awaitUntil([&] { return !form.extracting(); });
    if (form.Label5->text() != u"视频提取完毕..")
        return 0;
    recorder.saveAnswer = file;
    recorder.answers = {IDYES, IDNO};  // a video saved before: again; then the saved box: no folder
    form.Command2_Click();
    return form.lastDownload();
}

}  // namespace

// Three videos of three services saved one after another from the window while the first (the
// large clip) still runs: three rows, two at a time, all 已完成 and byte-equal to the
// simulator's. A window closed during the large clip's download goes on with it at the next
// start, and the file is byte-exact.
void TestEndToEnd::downloadListKeepsGoingAndRemembers()
{
    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8());
    setHosts(Hosts::allOn(hostPort_));
    const QStringList picks = {addresses_.last(), addresses_.at(0), addresses_.at(9)};  // 美拍 (large), 微视, 微拍
    {
        Recorder recorder;
        Form1 form(recorder.seams());
        form.Timer1->stop();
        checkVersion(form);
        int most = 0;
        connect(&form.downloads()->queue(), &DownloadQueue::changed, this,
            [&] { most = qMax(most, form.downloads()->queue().running()); });
        QList<qint64> ids;
        QStringList links;
        for (int i = 0; i < picks.size(); ++i) {
            ids << extractAndSave(form, recorder, picks[i], dir.filePath(QString("v%1.mp4").arg(i)));
            QVERIFY(ids.last() > 0);
            links << form.Result.ResultSlots[SlotVideoUrl];
        }
        QCOMPARE(form.downloads()->rows()->rowCount(), 3);
        QTRY_VERIFY_WITH_TIMEOUT(form.downloads()->unfinished() == 0, 60000);
        QCOMPARE(most, 2);
        for (int i = 0; i < picks.size(); ++i) {
            QCOMPARE(int(form.downloads()->entry(ids[i])->state), int(history::State::Done));
            QVERIFY2(contents(dir.filePath(QString("v%1.mp4").arg(i))) == rawGet(links[i]), qPrintable(picks[i]));
        }
    }
    const QString big = dir.filePath("again.mp4");
    qint64 id = 0;
    QString link;
    {
        Recorder recorder;
        Form1 form(recorder.seams());
        form.Timer1->stop();
        checkVersion(form);
        id = extractAndSave(form, recorder, picks[0], big);
        link = form.Result.ResultSlots[SlotVideoUrl];
        // The history holds this video as saved: asked once, naming the file.
        QVERIFY(recorder.boxes.value(0).text.startsWith("该视频已于 "));
        QVERIFY(recorder.boxes.value(0).text.endsWith(" 下载过: v0.mp4 。是否再次下载?"));
        // Past a record of its ranges (the part has its whole length from the start).
        const auto done = [&] {
            return form.downloads()->queue().item(id) ? form.downloads()->queue().item(id)->progress.done : 0;
        };
        QTRY_VERIFY_WITH_TIMEOUT(done() > 20 * 1024 * 1024, 30000);
    }  // the window is gone mid-download: its part is kept and its row unfinished
    QVERIFY(!QFile::exists(big));
    {
        Recorder recorder;
        Form1 form(recorder.seams());
        form.Timer1->stop();
        checkVersion(form);  // usable: the unfinished download comes back and goes on
        QTRY_VERIFY_WITH_TIMEOUT(form.downloads()->entry(id)->state == history::State::Done, 60000);
        QVERIFY(contents(big) == rawGet(link));
        QCOMPARE(form.downloads()->rows()->rowCount(), 4);
    }
    setHosts(Hosts::fromBuild());
    qputenv("XDG_DATA_HOME", QByteArray());
}

// A chat with three share addresses pasted into the box: 是 puts all three in the list, each
// saved under its default name. With 监视剪贴板 a share message copied elsewhere is extracted
// at once; without it, it is left alone.
void TestEndToEnd::chatPastedAndClipboardWatched()
{
    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8());
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
    setHosts(Hosts::allOn(hostPort_));
    Settings().set(Settings::Key::SaveFolder, dir.path());
    Recorder recorder;
    Form1 form(recorder.seams());
    form.Timer1->stop();
    form.show();
    checkVersion(form);
    const QString chat = "【美拍】" + addresses_.at(3) + " 快来看！\n微视 " + addresses_.at(1) + "\n" +
        addresses_.at(13) + " 复制这条消息，打开秒拍";
    QGuiApplication::clipboard()->setText(chat);
    recorder.answers = {IDYES};  // 找到 3 个视频地址,全部加入下载列表? 是
    form.Text1->setFocus();
    QTest::keySequence(form.Text1, QKeySequence::Paste);
    QTRY_COMPARE(recorder.boxes.value(0).text, QString("找到 3 个视频地址,全部加入下载列表?"));
    QTRY_COMPARE_WITH_TIMEOUT(form.downloads()->rows()->rowCount(), 3, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(form.downloads()->unfinished() == 0, 30000);
    QCOMPARE(QDir(dir.path()).entryList({"*.mp4"}, QDir::Files).size(), 3);
    QVERIFY(!form.Text1->text().startsWith("http"));  // nothing was pasted into the box

    for (const bool watching : {false, true}) {
        Settings().set(Settings::Key::WatchClipboard, watching);
        const QString address = addresses_.at(watching ? 7 : 6);
        QGuiApplication::clipboard()->setText("快手 " + address + " 看看这个");
        if (watching) {
            QTRY_COMPARE_WITH_TIMEOUT(form.Label5->text(), QString("视频提取完毕.."), 10000);
            QCOMPARE(form.Text1->text(), address);
        } else {
            QTest::qWait(300);
            QVERIFY(form.Text1->text() != address);
        }
    }
    QCOMPARE(form.downloads()->rows()->rowCount(), 3);  // watching never starts a download
    setHosts(Hosts::fromBuild());
    qputenv("XDG_DATA_HOME", QByteArray());
    qputenv("XDG_CONFIG_HOME", QByteArray());
}

int main(int argc, char **argv)
{
    // Under a display (xvfb-run in CI) the real window system is used; otherwise offscreen.
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestEndToEnd test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_e2e.moc"
