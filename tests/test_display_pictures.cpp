// The display step's pictures: cover and avatar are asked for side by side, and whatever
// arrives (or fails) is shown as before, text first, for the sites with an avatar picture
// and for 快手 with its "face" file.
#include "controls/alpha_image.h"
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
        .arg(base, cover, avatar)
        .toUtf8();
}

// What the window showed each time a picture control appeared or went away during a run.
struct Moment {
    QString event;  // "show Image2", "hide aicAlphaImage3", ...
    QString label1, label2, label3, status;
    bool cover, avatar;
};

class MomentRecorder : public QObject {
public:
    explicit MomentRecorder(Form1 &form) : f(form)
    {
        for (QWidget *w :
            std::initializer_list<QWidget *> {f.Image2, f.aicAlphaImage3, f.aicAlphaImage4, f.aicAlphaImage8})
            w->installEventFilter(this);
    }
    // Each moment as the captions already applied (1 2 3), the cover (c) and the avatar (a),
    // judged against what the window shows at the end; the final status as s.
    QStringList trace() const
    {
        QStringList out;
        for (const Moment &m : moments) {
            QString done;
            done += m.label1 == f.Label1->text() ? u'1' : u'-';
            done += m.label2 == f.Label2->text() ? u'2' : u'-';
            done += m.label3 == f.Label3->text() ? u'3' : u'-';
            done += m.cover ? u'c' : u'-';
            done += m.avatar ? u'a' : u'-';
            done += m.status == f.Label5->text() ? u's' : u'-';
            out << m.event + u' ' + done;
        }
        return out;
    }
    QList<Moment> moments;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent) {
            const bool faceShown = f.aicAlphaImage3->picture().toImage().pixelColor(0, 0) == QColor(Qt::blue);
            moments.append(
                {QString::fromLatin1(event->type() == QEvent::ShowToParent ? "show " : "hide ") + watched->objectName(),
                    f.Label1->text(), f.Label2->text(), f.Label3->text(), f.Label5->text(),
                    !f.Image1->pixmap().isNull(), !f.Image2->pixmap().isNull() || faceShown});
        }
        return false;
    }

private:
    Form1 &f;
};

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
            if (!r.path().endsWith(".jpg"))
                return HttpResponse::notFound();  // the description set: none published
            mostPending = qMax(mostPending, ++pending);
            const bool ok = r.path() == "/c.jpg" ? coverOk : avatarOk;
            HttpResponse answer =
                ok ? HttpResponse::text(encodedPicture(Qt::red), "image/jpeg") : HttpResponse::notFound();
            answer.delayMs = 800;  // both are asked for before either answers
            return answer;
        });
        f.Option1[1]->setChecked(true);
        f.Text1->setText(base + "/media/1");
        extractNow(f);
        QCOMPARE(mostPending, 2);
        QCOMPARE(f.Label1->text(), QStringLiteral("作者"));
        QCOMPARE(f.Label2->text(), QStringLiteral("描述"));
        QCOMPARE(f.Label5->text(), QStringLiteral("视频提取完毕.."));
        QCOMPARE(!f.Image1->pixmap().isNull(), coverOk);
        QCOMPARE(!f.Image2->pixmap().isNull(), avatarOk);
        QVERIFY(!f.Image2->isHidden());
        QVERIFY(f.aicAlphaImage3->isHidden());
    }

    // The pictures are awaited first; then captions, badge and pictures are applied in the
    // order of the site's row, and only then does the status say the extraction is done.
    // (The reset before the fetch shows the avatar control as at start-up.)
    void displayStepsInOrder_data()
    {
        QTest::addColumn<int>("site");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("page");
        QTest::addColumn<bool>("avatarHidden");  // as another site's result leaves it
        QTest::addColumn<QStringList>("trace");
        QTest::newRow("秒拍: badge after the author, avatar overlay away before the pictures")
            << 4 << "/show/abc.htm"
            << "<title>秒拍达人的秒拍视频</title><div class=\"hd\"><img src=\"{{BASE}}/tp/avatar/9.jpg\">"
               "<img src=\"http://mp.test/v.png\"></div><div class=\"intro\"><p>今天一起玩</p></div>"
               "<div class=\"time\"><h2><b>2015-03-03</b></h2></div>"
            << false << QStringList {"show aicAlphaImage4 1-----", "show Image2 123---", "hide aicAlphaImage3 123---"};
        QTest::newRow("美拍: captions, avatar overlay away, then both pictures")
            << 1 << "/media/1" << QString::fromUtf8(meipaiPage("{{BASE}}", "/c.jpg", "/a.jpg")) << false
            << QStringList {"show Image2 123---", "hide aicAlphaImage3 123---"};
        QTest::newRow("快手: captions and cover, then the face")
            << 2 << "/i/photo/1"
            << "<div id=\"qqzone_web\"><span>作者:描述</span><img src=\"{{BASE}}/face.jpg\"></div>"
               "<video poster=\"{{BASE}}/cover.jpg\" src=\"{{BASE}}/v.mp4\"></video>"
            << true << QStringList {"show Image2 123c--"};
    }
    void displayStepsInOrder()
    {
        QFETCH(int, site);
        QFETCH(QString, path);
        QFETCH(QString, page);
        QFETCH(bool, avatarHidden);
        QFETCH(QStringList, trace);
        WindowHarness h;
        Form1 &f = *h.form;
        QFile::remove(f.faceFilePath());
        MomentRecorder moments(f);
        h.server.setHandler([&](const HttpRequest &r) {
            if (r.path() == "/version.txt")
                return HttpResponse::text("V1.0", "text/plain");
            if (r.path() == path.toUtf8()) {
                moments.moments.clear();  // what the reset before the fetch showed is not the display step
                return HttpResponse::text(h.expand(page).toUtf8());
            }
            HttpResponse picture = HttpResponse::text(
                encodedPicture(r.path().contains("avatar") || r.path().contains("face") || r.path().endsWith("/a.jpg")
                        ? Qt::blue
                        : Qt::red),
                "image/jpeg");
            picture.delayMs = 300;
            return picture;
        });
        if (avatarHidden) {
            f.Image2->hide();
            f.aicAlphaImage3->hide();
        }
        f.Option1[site]->setChecked(true);
        f.Text1->setText(h.server.base() + path);
        extractNow(f);
        QCOMPARE(f.Label5->text(), QStringLiteral("视频提取完毕.."));
        QVERIFY(!f.Image1->pixmap().isNull());
        QCOMPARE(moments.trace(), trace);
        QFile::remove(f.faceFilePath());
    }

    void kuaishouFaceSideBySideWithTheCover()
    {
        WindowHarness h;
        Form1 &f = *h.form;
        const QString face = f.faceFilePath();
        QFile::remove(face);
        const QString base = h.server.base();
        h.server.route("/i/photo/1",
            QStringLiteral("<div id=\"qqzone_web\"><span>作者:描述</span><img src=\"%1/face.jpg\"></div>"
                           "<video poster=\"%1/cover.jpg\" src=\"%1/v.mp4\"></video>")
                .arg(base)
                .toUtf8());
        h.server.route("/i/photo/2",
            QStringLiteral("<div id=\"qqzone_web\"><span>作者:描述</span><img src=\"%1/gone.jpg\"></div>"
                           "<video poster=\"%1/cover.jpg\" src=\"%1/v.mp4\"></video>")
                .arg(base)
                .toUtf8());
        h.server.route("/face.jpg", encodedPicture(Qt::blue), "image/jpeg");
        h.server.route("/cover.jpg", encodedPicture(Qt::red), "image/jpeg");
        f.Option1[2]->setChecked(true);
        f.Text1->setText(base + "/i/photo/1");
        extractNow(f);
        QVERIFY(QFile::exists(face));
        QVERIFY(!f.aicAlphaImage3->isHidden());
        QVERIFY(!f.aicAlphaImage3->picture().isNull());
        QVERIFY(!f.Image1->pixmap().isNull());
        const QByteArray saved = [&] {
            QFile file(face);
            file.open(QIODevice::ReadOnly);
            return file.readAll();
        }();

        QVERIFY(!saved.isEmpty());

        // No picture from another video: after a 美拍 extraction, a 快手 one whose page is a
        // 404 and whose avatar fails shows the default avatar, and the old face file is gone.
        const auto showsDefault = [&] {
            const QImage shown = f.aicAlphaImage3->picture().toImage();
            const QColor c = shown.isNull() ? QColor() : shown.pixelColor(shown.width() / 2, shown.height() / 2);
            return !shown.isNull() && !(c.blue() > 200 && c.red() < 60 && c.green() < 60);
        };
        h.server.route("/media/3",
            QStringLiteral("<div data-video=\"%1/v.mp4\"><img src=\"%1/mvavatar/a.jpg\">"
                           "<a class=\"name\">美拍作者</a>")
                .arg(base)
                .toUtf8());
        h.server.route("/mvavatar/a.jpg", encodedPicture(Qt::green), "image/jpeg");
        f.Option1[1]->setChecked(true);
        f.Text1->setText(base + "/media/3");
        extractNow(f);
        QCOMPARE(f.Label5->text(), QStringLiteral("视频提取完毕.."));
        f.Option1[2]->setChecked(true);
        f.Text1->setText(base + "/i/photo/404");
        extractNow(f);
        QVERIFY(f.Label5->text().startsWith(QStringLiteral("视频提取失败..(页面不存在: 404")));
        QVERIFY(!QFile::exists(face));
        QVERIFY(showsDefault());

        // A good page whose avatar fails: the default again, never the earlier face.
        f.Text1->setText(base + "/i/photo/1");
        extractNow(f);
        QVERIFY(QFile::exists(face));
        QVERIFY(!showsDefault());
        f.Text1->setText(base + "/i/photo/2");
        extractNow(f);
        QVERIFY(!QFile::exists(face));
        QVERIFY(showsDefault());
        QFile::remove(face);
    }
};

QTEST_MAIN(TestDisplayPictures)
#include "test_display_pictures.moc"
