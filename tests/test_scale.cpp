// The window on a screen with two pixels per unit (run with QT_SCALE_FACTOR=2): every
// picture comes from its sharp 2x version, none is blown up from the 1x one.
#include "controls/alpha_image.h"
#include "window_harness.h"

#include <QLabel>
#include <QTest>

class TestScale : public QObject {
    Q_OBJECT
private slots:
    void picturesAreSharp()
    {
        QCOMPARE(qGuiApp->devicePixelRatio(), 2.0);
        WindowHarness h;
        Form1 &f = *h.form;
        f.show();
        for (AlphaImage *picture : {f.aicAlphaImage1, f.aicAlphaImage2, f.aicAlphaImage3, f.aicAlphaImage4,
                 f.aicAlphaImage5, f.aicAlphaImage8}) {
            QCOMPARE(picture->picture().devicePixelRatio(), 2.0);
            // Its pixels are twice its size in units: the sharp picture, not a scaled copy.
            QCOMPARE(picture->picture().deviceIndependentSize().toSize() * 2, picture->picture().size());
        }
        // The frame drawn from the sharp skin: the window's picture has two pixels per unit,
        // and the caption buttons sit where they do at 1x.
        const QImage shot = f.grab().toImage();
        for (QLabel *source : {f.Image8, f.Image9, f.Image10})
            QCOMPARE(source->pixmap().devicePixelRatio(), 2.0);
        QCOMPARE(shot.size(), QSize(Form1::DesignWidth, Form1::DesignHeight) * 2);
        const QImage sprite = f.Image9->pixmap().toImage();
        QCOMPARE(shot.pixelColor((Form1::DesignWidth - 80) * 2 + 3, 2 * 2 + 3), sprite.pixelColor(3, 3));
    }
};

QTEST_MAIN(TestScale)
#include "test_scale.moc"
