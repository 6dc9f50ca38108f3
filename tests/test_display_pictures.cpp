// The display step's pictures: cover and avatar are asked for side by side, and whatever
// arrives (or fails) is shown as before, text first, for the sites with an avatar picture
// and for 快手 with its "face" file.
#include "alpha_image.h"
#include "window_harness.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

namespace {

QByteArray meipaiPage(const QString &base, const QString &cover, const QString &avatar)
{
    return QStringLiteral("<div data-video=\"%1/v.mp4\"><img id=\"video_img\" src=\"%1%2\">"
                          "<img src=\"%1/mvavatar%3\"><a class=\"name\">作者</a>"
                          "<h1 class=\"description br\">描述</h1><div class=\"date\">2015</div>")
        .arg(base, cover, avatar).toUtf8();
}

}  // namespace

class TestDisplayPictures : public QObject {
    Q_OBJECT
private slots:
    void picturesArriveSideBySide_data()
    {
        QTest::addColumn<bool>("coverOk");
        QTest::addColumn<bool>("avatarOk");
        QTest::newRow("both arrive") << true << true;
        QTest::newRow("cover fails") << false << true;
        QTest::newRow("avatar fails") << true << false;
        QTest::newRow("both fail") << false << false;
    }
    void picturesArriveSideBySide()
    {
        QFETCH(bool, coverOk);
        QFETCH(bool, avatarOk);
        WindowHarness h;
        Form1 &f = *h.form;
        const QString base = h.server.base();
        int pending = 0;
        int mostPending = 0;
        connect(&h.server, &HttpServer::served, this, [&](const HttpRequest &r) {
            if (r.path().endsWith(".jpg"))
                --pending;
        });
        h.server.setHandler([&](const HttpRequest &r) {
            if (r.path() == "/version.txt")
                return HttpResponse::text("V1.0", "text/plain");
            if (r.path() == "/media/1")
                return HttpResponse::text(meipaiPage(base, "/c.jpg", "/a.jpg"));
            mostPending = qMax(mostPending, ++pending);
            const bool ok = r.path() == "/c.jpg" ? coverOk : avatarOk;
            HttpResponse answer = ok ? HttpResponse::text(encodedPicture(Qt::red), "image/jpeg") : HttpResponse::notFound();
            answer.delayMs = 800;  // both are asked for before either answers
            return answer;
        });
        f.Option1[1]->setChecked(true);
        f.Text1->setText(base + "/media/1");
        f.Command1_Click();
        QCOMPARE(mostPending, 2);
        QCOMPARE(f.Label1->text(), QStringLiteral("作者"));
        QCOMPARE(f.Label2->text(), QStringLiteral("描述"));
        QCOMPARE(f.Label5->text(), QStringLiteral("视频提取完毕.."));
        QCOMPARE(!f.Image1->pixmap().isNull(), coverOk);
        QCOMPARE(!f.Image2->pixmap().isNull(), avatarOk);
        QVERIFY(!f.Image2->isHidden());
        QVERIFY(f.aicAlphaImage3->isHidden());
    }

    void kuaishouFaceSideBySideWithTheCover()
    {
        WindowHarness h;
        Form1 &f = *h.form;
        const QString face = f.faceFilePath();
        QFile::remove(face);
        const QString base = h.server.base();
        h.server.route("/i/photo/1", QStringLiteral(
            "<div id=\"qqzone_web\"><span>作者:描述</span><img src=\"%1/face.jpg\"></div>"
            "<video poster=\"%1/cover.jpg\" src=\"%1/v.mp4\"></video>").arg(base).toUtf8());
        h.server.route("/i/photo/2", QStringLiteral(
            "<div id=\"qqzone_web\"><span>作者:描述</span><img src=\"%1/gone.jpg\"></div>"
            "<video poster=\"%1/cover.jpg\" src=\"%1/v.mp4\"></video>").arg(base).toUtf8());
        h.server.route("/face.jpg", encodedPicture(Qt::blue), "image/jpeg");
        h.server.route("/cover.jpg", encodedPicture(Qt::red), "image/jpeg");
        f.Option1[2]->setChecked(true);
        f.Text1->setText(base + "/i/photo/1");
        f.Command1_Click();
        QVERIFY(QFile::exists(face));
        QVERIFY(!f.aicAlphaImage3->isHidden());
        QVERIFY(!f.aicAlphaImage3->picture().isNull());
        QVERIFY(!f.Image1->pixmap().isNull());
        const QByteArray saved = [&] { QFile file(face); file.open(QIODevice::ReadOnly); return file.readAll(); }();

        // A failing avatar download leaves the earlier face file, which is shown again.
        f.Text1->setText(base + "/i/photo/2");
        f.Command1_Click();
        QFile again(face);
        QVERIFY(again.open(QIODevice::ReadOnly));
        QCOMPARE(again.readAll(), saved);
        QVERIFY(!f.aicAlphaImage3->picture().isNull());
        QFile::remove(face);
    }
};

QTEST_MAIN(TestDisplayPictures)
#include "test_display_pictures.moc"
