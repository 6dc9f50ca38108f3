#include "window_harness.h"

#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>

namespace {

const int W = Form1::DesignWidth;

QColor spriteColour(const Form1 &f, int x, int y)
{
    return f.Image9->pixmap().toImage().pixelColor(x, y);
}

}  // namespace

class TestChrome : public QObject {
    Q_OBJECT
private slots:
    void press_data()
    {
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("minimiseRow");
        QTest::addColumn<int>("closeRow");
        QTest::addColumn<bool>("drag");
        QTest::newRow("minimise left edge") << QPoint(W - 80, 10) << int(Qt::LeftButton) << 40 << 0 << false;
        QTest::newRow("shared column is minimise") << QPoint(W - 51, 10) << int(Qt::LeftButton) << 40 << 0 << false;
        QTest::newRow("close") << QPoint(W - 50, 10) << int(Qt::LeftButton) << 0 << 40 << false;
        QTest::newRow("close right edge") << QPoint(W - 10, 10) << int(Qt::LeftButton) << 0 << 40 << false;
        QTest::newRow("right of close: drag") << QPoint(W - 9, 10) << int(Qt::LeftButton) << 0 << 0 << true;
        QTest::newRow("left of minimise: drag") << QPoint(W - 81, 10) << int(Qt::LeftButton) << 0 << 0 << true;
        QTest::newRow("strip top") << QPoint(W - 60, 2) << int(Qt::LeftButton) << 40 << 0 << false;
        QTest::newRow("strip bottom") << QPoint(W - 20, 22) << int(Qt::LeftButton) << 0 << 40 << false;
        QTest::newRow("below the strip: drag") << QPoint(W - 60, 23) << int(Qt::LeftButton) << 0 << 0 << true;
        QTest::newRow("above the strip: drag") << QPoint(W - 60, 1) << int(Qt::LeftButton) << 0 << 0 << true;
        QTest::newRow("band bottom: drag") << QPoint(300, 68) << int(Qt::LeftButton) << 0 << 0 << true;
        QTest::newRow("below the band: nothing") << QPoint(300, 69) << int(Qt::LeftButton) << 0 << 0 << false;
        QTest::newRow("right button draws nothing") << QPoint(W - 60, 10) << int(Qt::RightButton) << 0 << 0 << false;
    }
    void press()
    {
        QFETCH(QPoint, at);
        QFETCH(int, button);
        QFETCH(int, minimiseRow);
        QFETCH(int, closeRow);
        QFETCH(bool, drag);
        WindowHarness h;
        h.form->show();
        QTest::mousePress(h.form.get(), Qt::MouseButton(button), {}, at);
        QCOMPARE(h.form->minimiseRow(), minimiseRow);
        QCOMPARE(h.form->closeRow(), closeRow);
        QCOMPARE(h.form->dragRequests(), drag ? 1 : 0);
        QTest::mouseRelease(h.form.get(), Qt::MouseButton(button), {}, QPoint(300, 300));
    }

    void move_data()
    {
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<int>("minimiseRow");
        QTest::addColumn<int>("closeRow");
        QTest::newRow("over minimise") << QPoint(W - 80, 2) << 20 << 0;
        QTest::newRow("shared column") << QPoint(W - 51, 10) << 20 << 0;
        QTest::newRow("over close") << QPoint(W - 10, 22) << 0 << 20;
        QTest::newRow("under the strip") << QPoint(W - 60, 23) << 0 << 0;
        QTest::newRow("beside the buttons") << QPoint(W - 81, 10) << 0 << 0;
    }
    void move()
    {
        QFETCH(QPoint, at);
        QFETCH(int, minimiseRow);
        QFETCH(int, closeRow);
        WindowHarness h;
        h.form->show();
        QTest::mousePress(h.form.get(), Qt::LeftButton, {}, QPoint(W - 30, 10));
        QTest::mouseMove(h.form.get(), at);
        QCOMPARE(h.form->minimiseRow(), minimiseRow);
        QCOMPARE(h.form->closeRow(), closeRow);
    }

    void drawnRowsOnThePixels_data()
    {
        QTest::addColumn<int>("row");
        QTest::newRow("normal") << 0;
        QTest::newRow("highlighted") << 20;
        QTest::newRow("pressed") << 40;
    }
    void drawnRowsOnThePixels()
    {
        QFETCH(int, row);
        WindowHarness h;
        h.form->show();
        h.form->DrawMinimise(row);
        h.form->DrawClose(row);
        const QImage shot = h.form->grab().toImage();
        QCOMPARE(shot.pixelColor(W - 80 + 2, 2 + 2), spriteColour(*h.form, 2, row + 2));
        QCOMPARE(shot.pixelColor(W - 51 + 2, 2 + 2), spriteColour(*h.form, 31, row + 2));
        // Frame pieces: top band, sides, bottom band come from the skin picture.
        const QImage skin = h.form->Image10->pixmap().toImage();
        QCOMPARE(shot.pixelColor(0, 0), skin.pixelColor(0, 0));
        QCOMPARE(shot.pixelColor(W / 2, 40), skin.pixelColor(6, 40));
        QCOMPARE(shot.pixelColor(W - 1, 300), skin.pixelColor(12, 80));
        QCOMPARE(shot.pixelColor(W / 2, Form1::DesignHeight - 1 - 60), QColor(Qt::white));
    }

    void release_data()
    {
        QTest::addColumn<QPoint>("pressAt");
        QTest::addColumn<QPoint>("releaseAt");
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("minimised");
        QTest::addColumn<int>("exitBoxes");
        QTest::newRow("press close, release minimise")
            << QPoint(W - 30, 10) << QPoint(W - 60, 10) << int(Qt::LeftButton) << true << 0;
        QTest::newRow("release on shared column")
            << QPoint(W - 51, 10) << QPoint(W - 51, 10) << int(Qt::LeftButton) << true << 0;
        QTest::newRow("release on close")
            << QPoint(W - 30, 10) << QPoint(W - 10, 22) << int(Qt::LeftButton) << false << 1;
        QTest::newRow("right release on close acts")
            << QPoint(W - 30, 10) << QPoint(W - 30, 10) << int(Qt::RightButton) << false << 1;
        QTest::newRow("release outside the strip")
            << QPoint(W - 30, 10) << QPoint(W - 30, 23) << int(Qt::LeftButton) << false << 0;
    }
    void release()
    {
        QFETCH(QPoint, pressAt);
        QFETCH(QPoint, releaseAt);
        QFETCH(int, button);
        QFETCH(bool, minimised);
        QFETCH(int, exitBoxes);
        WindowHarness h;
        h.form->show();
        QTest::mousePress(h.form.get(), Qt::MouseButton(button), {}, pressAt);
        const int rowAfterPress = h.form->closeRow() + h.form->minimiseRow();
        QTest::mouseRelease(h.form.get(), Qt::MouseButton(button), {}, releaseAt);
        QCOMPARE(bool(h.form->windowState() & Qt::WindowMinimized), minimised);
        QCOMPARE(h.recorder.boxes.size(), exitBoxes);
        QCOMPARE(h.recorder.ended, 0);  // the exit dialog was cancelled
        // A release draws nothing; minimising is a state change after which both buttons
        // are drawn normal (the window comes back with them unpressed).
        QCOMPARE(h.form->closeRow() + h.form->minimiseRow(), minimised ? 0 : rowAfterPress);
    }

    void hint()
    {
        WindowHarness h;
        Form1 &f = *h.form;
        f.show();
        QTest::mouseMove(&f, QPoint(400, 60));
        QCOMPARE(f.Text1->text(), QString("请在此粘贴您要获取的微视视频页面地址"));
        QTest::mouseMove(f.Text1, QPoint(20, 5));
        QCOMPARE(f.Text1->text(), QString());
        f.Text1->setText("http://typed/");
        QTest::mouseMove(&f, QPoint(410, 60));
        QCOMPARE(f.Text1->text(), QString("http://typed/"));
        // The hint is real text: an extraction then rejects it.
        f.Text1->clear();
        QTest::mouseMove(&f, QPoint(420, 60));
        extractNow(f);
        QCOMPARE(f.Label5->text(), QString("请在网之前加入http://"));
    }

    void paste_data()
    {
        QTest::addColumn<bool>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("text replaces everything") << true << "http://pasted/1";
        QTest::newRow("no text empties the box") << false << "";
    }
    void paste()
    {
        QFETCH(bool, text);
        QFETCH(QString, expected);
        WindowHarness h;
        Form1 &f = *h.form;
        f.show();
        f.Text1->setText("http://typed/");
        if (text) {
            QGuiApplication::clipboard()->setText("http://pasted/1");
        } else {
            auto *data = new QMimeData;
            data->setData("image/png", QByteArray("\x89PNG"));
            QGuiApplication::clipboard()->setMimeData(data);
        }
        QTest::mouseDClick(f.Text1, Qt::LeftButton, {}, QPoint(10, 5));
        QTest::mouseRelease(f.Text1, Qt::LeftButton, {}, QPoint(10, 5));
        QCOMPARE(f.Text1->text(), expected);
    }

    void feedbackLabelColours()
    {
        WindowHarness h;
        Form1 &f = *h.form;
        f.show();
        auto colour = [&] { return f.Label10->palette().color(QPalette::WindowText); };
        QCOMPARE(colour(), QColor(231, 231, 231));
        QTest::mouseMove(f.Label10, QPoint(5, 5));
        QCOMPARE(colour(), QColor(255, 255, 255));
        QTest::mousePress(f.Label10, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(colour(), QColor(255, 0, 0));
        QCOMPARE(h.recorder.opened.size(), 1);
        QTest::mouseRelease(f.Label10, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(colour(), QColor(231, 231, 231));
        QTest::mouseMove(f.Label10, QPoint(6, 5));
        QTest::mouseMove(&f, QPoint(500, 60));
        QCOMPARE(colour(), QColor(231, 231, 231));
    }
};

QTEST_MAIN(TestChrome)
#include "test_chrome.moc"
