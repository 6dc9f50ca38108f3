#include "controls/alpha_image.h"
#include "controls/media_player.h"
#include "desktop/skin.h"
#include "window_harness.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QCursor>
#include <QTest>

class TestWindow : public QObject {
    Q_OBJECT
private slots:
    void inventory_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QRect>("rect");  // window coordinates; width 0 = sized to its text
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("visible");
        QTest::addColumn<QString>("tooltip");
        auto row = [](const char *name, const char *kind, QRect r, const char *caption = "", bool enabled = true,
                       bool visible = true, const char *tip = "") {
            QTest::newRow(name) << QString(name) << QString(kind) << r << QString::fromUtf8(caption) << enabled
                                << visible << QString::fromUtf8(tip);
        };
        row("Frame1", "QGroupBox", {24, 104, 329, 57}, "", false);
        row("Labe1_0", "QLabel", {32, 126, 0, 0}, "软件类型：", false);
        row("Option1_0", "QRadioButton", {96, 125, 57, 17}, "微视", false);
        row("Option1_1", "QRadioButton", {144, 125, 57, 17}, "美拍", false);
        row("Option1_3", "QRadioButton", {192, 125, 65, 17}, "微拍", false);
        row("Option1_4", "QRadioButton", {240, 125, 49, 17}, "秒拍", false);
        row("Option1_2", "QRadioButton", {288, 125, 63, 17}, "GIF快手", false);
        row("Frame2", "QGroupBox", {24, 176, 329, 65});
        row("Labe1_1", "QLabel", {32, 203, 0, 0}, "请输入视频地址：");
        row("Text1", "QLineEdit", {136, 200, 201, 18}, "", false);
        row("Command1", "QPushButton", {24, 248, 329, 41}, "提取视频", false);
        row("Image2", "QLabel", {32, 320, 65, 65});
        row("aicAlphaImage3", "AlphaImage", {32, 320, 65, 65});
        row("Label1", "QLabel", {112, 320, 0, 0}, "用户名");
        row("Label3", "QLabel", {112, 352, 0, 0}, "日期");
        row("Label2", "QLabel", {112, 368, 0, 0}, "描述");
        row("aicAlphaImage8", "AlphaImage", {184, 325, 22, 21}, "", true, false, "微视认证");
        row("aicAlphaImage4", "AlphaImage", {216, 326, 19, 19}, "", true, false, "秒拍认证");
        row("Slider1", "QSlider", {24, 408, 329, 25});
        row("Command2", "QPushButton", {24, 456, 81, 41}, "下载视频");
        row("Command3", "QPushButton", {104, 456, 81, 41}, "复制地址");
        row("Command4", "QPushButton", {184, 456, 81, 41}, "播放视频");
        row("Command5", "QPushButton", {264, 456, 81, 41}, "官方论坛");
        row("Image1", "QLabel", {376, 104, 377, 397});
        row("aicAlphaImage5", "AlphaImage", {376, 104, 380, 400});
        row("aicAlphaImage1", "AlphaImage", {376, 104, 377, 397});
        row("aicAlphaImage2", "AlphaImage", {376, 104, 377, 397}, "", true, false);
        row("W1", "MediaPlayerWidget", {376, 104, 377, 397}, "", true, false);
        row("Picture1", "QWidget", {0, 520, 785, 73});
        row("Label4", "QLabel", {16, 539, 61, 12}, "运行提示：");
        row("Label5", "QLabel", {120, 539, 0, 0}, "正在检测程序是否有更新..");
        row("Label6", "QLabel", {684, 539, 101, 12}, "Quorvin出品");
        row("Line2", "QFrame", {104, 520, 1, 57});
        row("Line3", "QFrame", {680, 520, 1, 57});
        row("Label10", "QLabel", {642, 7, 48, 12}, "在线反馈");
        row("Image8", "QLabel", {24, 8, 347, 70}, "", true, false);
        row("Image9", "QLabel", {344, 8, 70, 60}, "", true, false);
        row("Image10", "QLabel", {504, -16, 13, 101}, "", true, false);
    }
    void inventory()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QRect, rect);
        QFETCH(QString, caption);
        QFETCH(bool, enabled);
        QFETCH(bool, visible);
        QFETCH(QString, tooltip);
        WindowHarness h(false);
        QWidget *w = h.form->findChild<QWidget *>(name);
        QVERIFY2(w, qPrintable(name));
        QCOMPARE(QString(w->metaObject()->className()), kind);
        const QPoint topLeft = w->mapTo(h.form.get(), QPoint(0, 0));
        QCOMPARE(topLeft, rect.topLeft());
        if (rect.width() > 0)
            QCOMPARE(w->size(), rect.size());
        QString text;
        if (auto *b = qobject_cast<QAbstractButton *>(w))
            text = b->text();
        else if (auto *l = qobject_cast<QLabel *>(w))
            text = l->text();
        else if (auto *e = qobject_cast<QLineEdit *>(w))
            text = e->text();
        QCOMPARE(text, caption);
        QCOMPARE(w->isEnabledTo(h.form.get()) && w->isEnabled(), enabled);
        QCOMPARE(!w->isHidden(), visible);
        QCOMPARE(w->toolTip(), tooltip);
    }

    void windowAndStartUp()
    {
        WindowHarness h(false);
        Form1 &f = *h.form;
        QCOMPARE(f.windowTitle(), QString("QuorvinAPP视频助手 V1.0"));
        QCOMPARE(f.size(), QSize(777, 571));
        QVERIFY(f.windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(f.windowIcon().isNull());
        QCOMPARE(f.outlineRegion().boundingRect(), QRect(0, 0, 778, 572));
        QVERIFY(!f.outlineRegion().contains(QPoint(0, 0)));  // rounded corner
        QVERIFY(f.outlineRegion().contains(QPoint(388, 285)));
        QVERIFY(f.Option1[0]->isChecked());
        QCOMPARE(f.Slider1->value(), f.player()->volume());
        QCOMPARE(f.player()->volume(), 50);
        QVERIFY(!f.W1->playerVisible());
        QCOMPARE(f.Timer1->interval(), 1000);
        QCOMPARE(f.Label1->font().family(), QString("微软雅黑"));
        QVERIFY(f.Label1->font().bold());
        QCOMPARE(f.Label1->font().pointSizeF(), 15.75);
        QCOMPARE(f.Label1->textFormat(), Qt::PlainText);
        QCOMPARE(f.Label2->textFormat(), Qt::PlainText);
        QCOMPARE(f.Result.IsPlaying, 0);
        for (const QString &slot : f.Result.ResultSlots)
            QVERIFY(slot.isEmpty());
        // Stacking: the overlays lie above the cover, the player above all of them.
        const QObjectList &children = f.children();
        QVERIFY(children.indexOf(f.Image1) < children.indexOf(f.aicAlphaImage1));
        QVERIFY(children.indexOf(f.aicAlphaImage1) < children.indexOf(f.aicAlphaImage2));
        QVERIFY(children.indexOf(f.aicAlphaImage2) < children.indexOf(f.W1));
        QVERIFY(children.indexOf(f.Picture1) < children.indexOf(f.W1));
        QVERIFY(children.indexOf(f.Image2) < children.indexOf(f.aicAlphaImage3));
    }

    void selector_data()
    {
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<QString>("status");
        QTest::newRow("GIF快手") << QList<int> {2} << "您当前选择的是GIF快手视频提取..";
        QTest::newRow("美拍") << QList<int> {1} << "您当前选择的是美拍视频提取..";
        QTest::newRow("微拍") << QList<int> {3} << "您当前选择的是微拍视频提取..";
        QTest::newRow("秒拍") << QList<int> {4} << "您当前选择的是秒拍视频提取..";
        QTest::newRow("微视 again after 秒拍") << QList<int> {4, 0} << "您当前选择的是微视视频提取..";
        QTest::newRow("already selected") << QList<int> {0} << "您当前选择的是微视视频提取..";
    }
    void selector()
    {
        QFETCH(QList<int>, clicks);
        QFETCH(QString, status);
        WindowHarness h;
        h.form->Text1->setText("http://keep/");
        for (int i : clicks)
            QTest::mouseClick(h.form->Option1[i], Qt::LeftButton);
        QCOMPARE(h.form->Label5->text(), status);
        QCOMPARE(h.form->Text1->text(), QString("http://keep/"));
    }

    // The box edited while the page is on its way: the run stays the press's video, its
    // link, cover, id and author all of the address pressed.
    void editedBoxKeepsOneVideo_data()
    {
        QTest::addColumn<int>("site");
        QTest::addColumn<QString>("path");  // of the share pages, before the id
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("typed");
        QTest::newRow("秒拍") << int(Miaopai) << "/show/"
                              << "mp3001.htm"
                              << "mp3002.htm";
        QTest::newRow("微拍") << int(Weipai) << "/video/"
                              << "wp8001"
                              << "wp8002";
    }
    void editedBoxKeepsOneVideo()
    {
        QFETCH(int, site);
        QFETCH(QString, path);
        QFETCH(QString, first);
        QFETCH(QString, typed);
        WindowHarness h;
        Form1 &f = *h.form;
        for (const QString &page : {first, typed}) {
            const QString id = QString(page).remove(".htm");
            HttpResponse slow = HttpResponse::text("<html><head><title>" + id.toUtf8() +
                "的秒拍视频</title></head><body><p>" + id.toUtf8() + "</p></body></html>");
            slow.delayMs = 300;
            h.server.route((path + page).toUtf8(), slow);
            h.server.route("/api/weipai/video/" + id.toUtf8(),
                "{\"state\":1,\"url\":\"" + h.server.url("/v/" + id.toUtf8()).toUtf8() + "\",\"desc\":\"" +
                    id.toUtf8() + "\"}",
                "application/json");
        }
        f.Option1[site]->setChecked(true);
        f.Text1->setText(h.server.url((path + first).toUtf8()));
        f.Command1_Click();
        QTimer::singleShot(100, &f, [&] { f.Text1->setText(h.server.url((path + typed).toUtf8())); });
        awaitUntil([&] { return !f.extracting(); });
        const QString mine = QString(first).remove(".htm");
        const QString other = QString(typed).remove(".htm");
        QCOMPARE(f.Label5->text(), QString("视频提取完毕.."));
        QVERIFY2(f.Result.ResultSlots[SlotVideoUrl].contains(mine), qPrintable(f.Result.ResultSlots[SlotVideoUrl]));
        for (const QString &slot : std::as_const(f.Result.ResultSlots))
            QVERIFY2(!slot.contains(other), qPrintable(slot));
        QVERIFY(f.Text1->text().endsWith(typed));  // what was typed stays, for the next run
    }

    // At 提取视频, a typed share message is taken as a paste would take it; a text with no
    // address stays as typed and the checks answer.
    void typedTextAtExtraction_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("box");  // afterwards
        QTest::addColumn<QString>("status");
        QTest::newRow("typed share message") << "看这个{{BASE}}/media/10001好看"
                                             << "{{BASE}}/media/10001"
                                             << "视频提取完毕..";
        QTest::newRow("upper-case scheme") << "HTTP://{{BASE_HOST}}/media/10001"
                                           << "{{BASE}}/media/10001"
                                           << "视频提取完毕..";
        QTest::newRow("no scheme") << "www.meipai.com/media/1"
                                   << "www.meipai.com/media/1"
                                   << "请在网之前加入http://";
    }
    void typedTextAtExtraction()
    {
        QFETCH(QString, typed);
        QFETCH(QString, box);
        QFETCH(QString, status);
        WindowHarness h;
        h.server.route("/media/10001", "<div data-video=\"http://v.test/1.mp4\"></div>");
        const auto expanded = [&](QString text) {
            return h.expand(text.replace("{{BASE_HOST}}", h.server.hostPort()));
        };
        h.form->Option1[1]->setChecked(true);
        h.form->Text1->setText(expanded(typed));
        extractNow(*h.form);
        QCOMPARE(h.form->Text1->text(), expanded(box));
        QCOMPARE(h.form->Label5->text(), status);
    }

    void skinFile()
    {
        Skin skin;
        QVERIFY(Skin::parse("[colors]\na = #14B2A4\n[style]\nQPushButton { color: @a@; }", skin));
        QCOMPARE(skin.styleSheet(0, 0, 0), QString("QPushButton { color: #14b2a4; }"));
        const QColor shifted = shiftColor(QColor("#14B2A4"), -44, -40, 0);
        QVERIFY(qAbs(shifted.hslHue() - (QColor("#14B2A4").hslHue() - 44)) <= 1);
        QVERIFY(shifted.hslSaturation() < QColor("#14B2A4").hslSaturation());
        QCOMPARE(shiftColor(QColor(128, 128, 128), -44, -40, 0).rgb(), QColor(128, 128, 128).rgb());
        QVERIFY(!Skin::parse("[colors]\na = notacolour\n[style]\n", skin));
        QVERIFY(!SkinH_AttachEx("/nonexistent/skinh.she", QString()));
    }

    void alphaImageNotifications()
    {
        AlphaImage image;
        image.resize(100, 80);
        image.show();
        QSignalSpy moves(&image, &AlphaImage::MouseMove);
        QSignalSpy ups(&image, &AlphaImage::MouseUp);
        QSignalSpy leaves(&image, &AlphaImage::MouseLeave);
        QTest::mouseMove(&image, QPoint(10, 20));
        QTest::mousePress(&image, Qt::RightButton, Qt::NoModifier, QPoint(30, 30));
        QTest::mouseRelease(&image, Qt::RightButton, Qt::NoModifier, QPoint(30, 30));
        QEvent leave(QEvent::Leave);
        QCursor::setPos(image.mapToGlobal(QPoint(150, 150)));  // the pointer really left
        QApplication::sendEvent(&image, &leave);
        QVERIFY(moves.count() >= 1);
        QCOMPARE(ups.count(), 1);
        QCOMPARE(ups.first().at(0).toInt(), 2);  // the right button
        QCOMPARE(ups.first().at(2).toInt(), 30);
        QCOMPARE(leaves.count(), 1);
        image.setLeft(41.6);
        QCOMPARE(image.x(), 42);
        QVERIFY(!image.LoadFromFile("/dev/zero"));
    }
};

QTEST_MAIN(TestWindow)
#include "test_window.moc"
