// What a person sees of the window: Chinese standard texts, the player inside its frame and
// readable, the caption buttons after a state change, the address box from its start, the
// skin's colours and its disabled look, the play symbol under a message box.
#include "controls/alpha_image.h"
#include "controls/media_player.h"
#include "desktop/skin.h"
#include "desktop/translations.h"
#include "window_harness.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

namespace {

bool hasChinese(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x4e00 && c.unicode() <= 0x9fff)
            return true;
    }
    return false;
}

// The share of the pixels of an image that are light (for text on a dark bar).
int lightPixels(const QImage &image)
{
    int light = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            light += qGray(image.pixel(x, y)) > 160;
    return light;
}

}  // namespace

class TestWindowTexts : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(installChineseTranslations(qApp)); }

    void messageBoxButtons_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("OK") << int(BoxButtons::Ok) << QStringList {"确定"};
        QTest::newRow("Yes/No") << int(BoxButtons::YesNo) << QStringList {"是(&Y)", "否(&N)"};
        QTest::newRow("Yes/No/Cancel") << int(BoxButtons::YesNoCancel) << QStringList {"是(&Y)", "否(&N)", "取消"};
    }
    void messageBoxButtons()
    {
        QFETCH(int, kind);
        QFETCH(QStringList, texts);
        const auto box =
            buildMessageBox(nullptr, {"请先获取视频!", "Quorvin系列软件", BoxIcon::Information, BoxButtons(kind)});
        QStringList shown;
        for (QAbstractButton *b : box->buttons())
            shown << b->text();
        shown.sort();
        texts.sort();
        QCOMPARE(shown, texts);
        QCOMPARE(box->textFormat(), Qt::PlainText);
    }

    void addressBoxMenuIsChinese()
    {
        WindowHarness h;
        std::unique_ptr<QMenu> menu(h.form->Text1->createStandardContextMenu());
        int texts = 0;
        for (QAction *a : menu->actions()) {
            if (a->isSeparator())
                continue;
            ++texts;
            QVERIFY2(hasChinese(a->text()), qPrintable(a->text()));
        }
        QVERIFY(texts >= 5);
    }

    void playerStaysInsideItsFrame()
    {
        WindowHarness h;
        Form1 &f = *h.form;
        QVERIFY(f.Image1->geometry().contains(f.W1->geometry()));
        QVERIFY(!f.W1->geometry().intersects(f.Picture1->geometry()));
        f.W1->setPlayerVisible(true);
        f.show();
        QVERIFY(f.W1->geometry().contains(f.W1->controlBar()->geometry().translated(f.W1->pos())));
    }

    void barIsReadableUnderTheSkin()
    {
        WindowHarness h;
        Form1 &f = *h.form;
        QVERIFY(SkinH_AttachEx(QStringLiteral(QUORVIN_SKIN), QString()));
        SkinH_AdjustHSV(-44, -40, 0);
        f.W1->setPlayerVisible(true);
        f.show();
        QLabel *time = f.W1->timeReadout();
        QVERIFY(lightPixels(time->grab().toImage()) > 10);
        // The bar keeps its dark background whatever the skin says.
        const QImage bar = f.W1->controlBar()->grab().toImage();
        QVERIFY(qGray(bar.pixel(bar.width() / 2, 2)) < 64);
        qApp->setStyleSheet(QString());
    }

    void bothPlayPathsShowThePicture_data()
    {
        QTest::addColumn<bool>("fromButton");
        QTest::newRow("播放视频") << true;
        QTest::newRow("play symbol") << false;
    }
    void bothPlayPathsShowThePicture()
    {
        QFETCH(bool, fromButton);
        WindowHarness h;
        Form1 &f = *h.form;
        f.Result.ResultSlots[SlotVideoUrl] = h.server.url("/none.mp4");
        if (fromButton) {
            f.Command4_Click();
        } else {
            f.aicAlphaImage1_MouseMove();
            f.aicAlphaImage2_MouseUp();
        }
        QVERIFY(f.W1->playerVisible());
        QVERIFY(f.Image1->isHidden());
        QVERIFY(f.aicAlphaImage1->isHidden());
        // The stop button ends the pass: the cover comes back.
        f.W1->stopButton()->click();
        QCOMPARE(f.Label5->text(), QStringLiteral("视频已停止.."));
        QVERIFY(!f.W1->playerVisible());
        QVERIFY(!f.Image1->isHidden());
        QVERIFY(!f.aicAlphaImage1->isHidden());
    }

    void captionButtonsAfterAStateChange()
    {
        WindowHarness h;
        Form1 &f = *h.form;
        f.DrawMinimise(40);
        f.DrawClose(20);
        QEvent change(QEvent::WindowStateChange);
        QApplication::sendEvent(&f, &change);
        QCOMPARE(f.minimiseRow(), 0);
        QCOMPARE(f.closeRow(), 0);
    }

    void addressBoxShowsTheVideoId()
    {
        WindowHarness h;
        Form1 &f = *h.form;
        f.show();
        QTest::mouseMove(&f, QPoint(300, 80));  // over the window: the hint is put in
        QCOMPARE(f.Text1->text(), Form1::HintText);
        QCOMPARE(f.Text1->cursorPosition(), 0);
        QGuiApplication::clipboard()->setText(QStringLiteral("http://127.0.0.1:18601/t/wsv1001?with=a&long=query"));
        QTest::mouseDClick(f.Text1, Qt::LeftButton);
        QTest::mouseRelease(f.Text1, Qt::LeftButton);
        QVERIFY(f.Text1->text().startsWith("http://"));
        QCOMPARE(f.Text1->cursorPosition(), f.Text1->text().size());  // scrolled to the end
    }

    void skinAccentsAreTheWindowsTeal()
    {
        QFile file(QStringLiteral(QUORVIN_SKIN));
        QVERIFY(file.open(QIODevice::ReadOnly));
        Skin skin;
        QVERIFY(Skin::parse(QString::fromUtf8(file.readAll()), skin));
        const QColor teal(20, 178, 164);
        for (const auto &[name, colour] : skin.colors) {
            if (!name.startsWith("accent"))
                continue;
            const QColor shifted = shiftColor(colour, -44, -40, 0);
            QVERIFY2(qAbs(shifted.hslHue() - teal.hslHue()) <= 4, qPrintable(name + shifted.name()));
        }
        const QString sheet = skin.styleSheet(-44, -40, 0);
        for (const char *rule :
            {"QRadioButton:disabled", "QRadioButton::indicator:disabled", "QLineEdit:disabled", "QPushButton:disabled"})
            QVERIFY2(sheet.contains(QLatin1String(rule)), rule);
    }

    void symbolKeepsItsLookUnderAMessageBox()
    {
        WindowHarness h;
        Form1 &f = *h.form;
        f.show();
        f.aicAlphaImage1_MouseMove();
        QVERIFY(!f.aicAlphaImage2->isHidden());
        // A modal box sends "leave" while the pointer still rests on the symbol.
        QCursor::setPos(f.aicAlphaImage2->mapToGlobal(f.aicAlphaImage2->rect().center()));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(f.aicAlphaImage2, &leave);
        QVERIFY(!f.aicAlphaImage2->isHidden());
        // Really leaving brings the idle look back.
        QCursor::setPos(f.mapToGlobal(QPoint(5, 300)));
        QApplication::sendEvent(f.aicAlphaImage2, &leave);
        QVERIFY(f.aicAlphaImage2->isHidden());
        QVERIFY(!f.aicAlphaImage1->isHidden());
    }
};

QTEST_MAIN(TestWindowTexts)
#include "test_window_texts.moc"
