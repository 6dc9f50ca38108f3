// Desktop habits of the window (offscreen): Enter extracts, Tab order, accessible names,
// drops anywhere, and the service chosen from a pasted or dropped address.
#include "desktop/seams.h"
#include "controls/media_player.h"
#include "download_list/list_window.h"
#include "extract/address_check.h"
#include "window_harness.h"

#include <QAccessible>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <functional>

namespace {

// Sends a whole drag (enter, then drop) of the data onto the widget, as a person would.
bool drop(QWidget *target, const QMimeData &data, QPoint at = QPoint(5, 5))
{
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent dropped(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &dropped);
    return dropped.isAccepted();
}

int selected(const Form1 &f)
{
    for (int i = 0; i < 5; ++i)
        if (f.Option1[i]->isChecked())
            return i;
    return -1;
}

// Walks what a screen reader sees below root: the first entry lists the focusable controls
// without a Chinese name (empty when there is none), the others are every name met.
QStringList unnamedAndNames(QWidget *root)
{
    QStringList unnamed;
    QStringList names;
    std::function<void(QAccessibleInterface *)> walk = [&](QAccessibleInterface *node) {
        if (!node || node->state().invisible)
            return;
        const QString name = node->text(QAccessible::Name);
        names << name;
        const bool chinese = std::any_of(
            name.begin(), name.end(), [](QChar c) { return c.unicode() >= 0x4e00 && c.unicode() <= 0x9fff; });
        if (node->state().focusable && !chinese && node->role() != QAccessible::ListItem &&
            node->role() != QAccessible::Cell)
            unnamed << QStringLiteral("%1 (role %2)")
                           .arg(node->object() ? node->object()->metaObject()->className() : "?")
                           .arg(int(node->role()));
        for (int i = 0; i < node->childCount(); ++i)
            walk(node->child(i));
    };
    walk(QAccessible::queryAccessibleInterface(root));
    return QStringList {unnamed.join(QStringLiteral(", "))} + names;
}

}  // namespace

class TestDesktop : public QObject {
    Q_OBJECT
private slots:
    void siteDetection_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("site");
        const Hosts h = Hosts::allOn("127.0.0.1:9");
        for (int site = 0; site < 5; ++site)
            QTest::addRow("prefix of %d", site) << pagePrefix(site, h) + "x1" << site;
        QTest::newRow("the prefix alone") << pagePrefix(1, h) << 1;
        QTest::newRow("mixed case") << pagePrefix(1, h).toUpper() + "1" << -1;
        QTest::newRow("text before the prefix") << " " + pagePrefix(1, h) + "1" << -1;
        QTest::newRow("near miss: one letter short") << pagePrefix(1, h).chopped(1) << -1;
        QTest::newRow("other port") << "http://127.0.0.1:10/media/1" << -1;
        QTest::newRow("https") << "https://127.0.0.1:9/media/1" << -1;
        QTest::newRow("empty") << "" << -1;
    }
    void siteDetection()
    {
        QFETCH(QString, text);
        QFETCH(int, site);
        QCOMPARE(siteForAddress(text, Hosts::allOn("127.0.0.1:9")), site);
    }

    void droppedText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("address");
        QTest::newRow("plain") << "http://a/b"
                               << "http://a/b";
        QTest::newRow("spaces and line ends") << "  \r\n http://a/b \r\n"
                                              << "http://a/b";
        QTest::newRow("several lines") << "http://a/b\nhttp://c/d"
                                       << "http://a/b";
        QTest::newRow("tab inside stays") << "x\ty\n"
                                          << "x\ty";
    }
    void droppedText()
    {
        QFETCH(QString, text);
        QFETCH(QString, address);
        QCOMPARE(droppedAddress(text), address);
    }

    void enterExtracts_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("Enter") << int(Qt::Key_Return) << int(Qt::NoModifier);
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier);
    }
    void enterExtracts()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        WindowHarness h;
        Form1 &f = *h.form;
        f.Text1->setText("www.weishi.com/t/1");
        QTest::keyClick(f.Text1, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(f.Label5->text(), QStringLiteral("请在网之前加入http://"));
        // Not while the extract button is disabled.
        f.Command1->setEnabled(false);
        f.Text1->setText("");
        QTest::keyClick(f.Text1, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(f.Label5->text(), QStringLiteral("请在网之前加入http://"));
    }

    void tabWalksTheControls()
    {
        WindowHarness h;
        Form1 &f = *h.form;
        f.show();
        f.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        // Top to bottom, entering the site selector at its checked button.
        f.Option1[3]->setChecked(true);
        f.Text1->setFocus();
        QTest::keyClick(f.Text1, Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), f.Option1[3]);
        // The caption buttons come last: minimise and close are reached by the keyboard too.
        const QList<QWidget *> expected = {f.Text1, f.Command1, f.Slider1, f.Command2, f.Command3, f.Command4,
            f.Command5, f.findChild<QPushButton *>("最小化"), f.findChild<QPushButton *>("关闭")};
        for (QWidget *next : expected) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
        // Arrow keys move the choice.
        f.Option1[3]->setFocus();
        QTest::keyClick(f.Option1[3], Qt::Key_Left);
        QRadioButton *now = qobject_cast<QRadioButton *>(QApplication::focusWidget());
        QVERIFY(now && now != f.Option1[3] && now->isChecked());
        // Return and Enter press a focused button.
        for (const int key : {int(Qt::Key_Return), int(Qt::Key_Enter)}) {
            h.recorder.boxes.clear();
            f.Command3->setFocus();
            QTest::keyClick(f.Command3, Qt::Key(key));
            QTRY_COMPARE(h.recorder.boxes.size(), 1);  // 复制地址 with nothing extracted
            QCOMPARE(h.recorder.boxes.first().text, QStringLiteral("请先获取视频!"));
        }
    }

    // What a screen reader meets: every control it can focus has a Chinese name, in the
    // main window after an extraction (the author read with its value), the list and the
    // settings dialog.
    void screenReaderWalk()
    {
        WindowHarness h;
        Form1 &f = *h.form;
        h.server.route("/media/1", examplePage("meipai/examples/plain.html", hosts()).toUtf8());
        f.show();
        f.Option1[1]->setChecked(true);
        f.Text1->setText(h.server.url("/media/1"));
        extractNow(f);
        QStringList names = unnamedAndNames(&f);
        QVERIFY2(names.first().isEmpty(), qPrintable(names.first()));
        QVERIFY2(names.contains(QStringLiteral("作者: 美拍小达人")), qPrintable(names.join('|')));
        QVERIFY(names.contains(QStringLiteral("运行提示: 视频提取完毕..")));
        for (const char *name : {"最小化", "关闭"})
            QVERIFY2(names.contains(QString::fromUtf8(name)), name);
        // The player's controls, shown while it plays, are named in words, not signs.
        QStringList player;
        for (QWidget *control : f.W1->findChildren<QWidget *>()) {
            if (control->focusPolicy() != Qt::NoFocus)
                player << control->accessibleName();
        }
        player.sort();
        QCOMPARE(player, QStringList({"停止", "播放", "播放进度"}));

        ListWindow *list = f.downloadListWindow();
        list->present();
        names = unnamedAndNames(list);
        QVERIFY2(names.first().isEmpty(), qPrintable(names.first()));
        QString dialogUnnamed = QStringLiteral("not shown");
        QTimer::singleShot(0, this, [&] {
            if (QWidget *dialog = QApplication::activeModalWidget()) {
                dialogUnnamed = unnamedAndNames(dialog).first();
                dialog->close();
            }
        });
        for (auto *button : list->findChildren<QPushButton *>()) {
            if (button->text() == QStringLiteral("设置"))
                button->click();
        }
        QVERIFY2(dialogUnnamed.isEmpty(), qPrintable(dialogUnnamed));
    }

    // One key, one answer: a key pressed as a message box appears (meant for what was there
    // before) answers nothing; a key pressed once it has been seen does.
    void keyPressedAsABoxAppearsIsNotItsAnswer()
    {
        const std::unique_ptr<QMessageBox> box =
            buildMessageBox(nullptr, {QStringLiteral("是否退出?"), QString(), BoxIcon::Information, BoxButtons::YesNo});
        box->setDefaultButton(QMessageBox::Yes);
        box->show();
        QVERIFY(QTest::qWaitForWindowExposed(box.get()));
        QTest::keyClick(box.get(), Qt::Key_Return);
        QTest::keyClick(box.get(), Qt::Key_Y, Qt::AltModifier);
        QVERIFY(box->isVisible());
        QTest::qWait(350);
        QTest::keyClick(box.get(), Qt::Key_Return);
        QTRY_VERIFY(!box->isVisible());
        QCOMPARE(box->standardButton(box->clickedButton()), QMessageBox::Yes);
    }

    void dropsAnywhereSetTheAddress_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<bool>("asUrl");
        QTest::newRow("window, link") << "window" << true;
        QTest::newRow("window, text") << "window" << false;
        QTest::newRow("address box, link") << "Text1" << true;
        QTest::newRow("button, text") << "Command3" << false;
    }
    void dropsAnywhereSetTheAddress()
    {
        QFETCH(QString, where);
        QFETCH(bool, asUrl);
        WindowHarness h;
        Form1 &f = *h.form;
        f.Text1->setText("old text");
        const QString address = pagePrefix(1, hosts()) + "10001";
        QMimeData data;
        if (asUrl)
            data.setUrls({QUrl(address)});
        else
            data.setText("\n  " + address + "  \r\nsecond line");
        QWidget *target = where == "window" ? static_cast<QWidget *>(&f) : f.findChild<QWidget *>(where);
        QVERIFY(target);
        // A child that takes no drops hands them to the window, as Qt does for real drags.
        if (!target->acceptDrops())
            target = &f;
        QVERIFY(drop(target, data));
        QCOMPARE(f.Text1->text(), address);
        QCOMPARE(selected(f), 1);
        QCOMPARE(f.Label5->text(), QStringLiteral("您当前选择的是美拍视频提取.."));
    }

    // Every paste path puts one clean share address in the box (replacing what it held) and
    // selects its service; other text pastes as a line edit normally does.
    void pasteGivesOneCleanAddress_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("double-click") << "dblclick";
        QTest::newRow("Ctrl+V") << "ctrlv";
        QTest::newRow("Shift+Insert") << "shiftinsert";
        QTest::newRow("menu 粘贴") << "menu";
        QTest::newRow("middle-click") << "middle";
        QTest::newRow("drop") << "drop";
    }
    void pasteGivesOneCleanAddress()
    {
        QFETCH(QString, how);
        WindowHarness h;
        Form1 &f = *h.form;
        f.show();
        QClipboard *clipboard = QGuiApplication::clipboard();
        const QClipboard::Mode mode = how == "middle" ? QClipboard::Selection : QClipboard::Clipboard;
        if (how == "middle" && !clipboard->supportsSelection())
            QSKIP("this platform has no selection to paste with the middle button");
        const QString address = pagePrefix(4, hosts()) + "mp3001.htm";
        const auto paste = [&](const QString &text) {
            clipboard->setText(text, mode);
            QMimeData data;
            if (how == "dblclick") {
                QTest::mouseDClick(f.Text1, Qt::LeftButton);
                QTest::mouseRelease(f.Text1, Qt::LeftButton);
            } else if (how == "ctrlv") {
                QTest::keyClick(f.Text1, Qt::Key_V, Qt::ControlModifier);
            } else if (how == "shiftinsert") {
                QTest::keyClick(f.Text1, Qt::Key_Insert, Qt::ShiftModifier);
            } else if (how == "menu") {
                emit f.Text1->customContextMenuRequested(QPoint(2, 2));
                QMenu *menu = nullptr;
                QTRY_VERIFY((menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())));
                QAction *action = nullptr;
                for (QAction *a : menu->actions()) {
                    if (a->text().contains("Paste") || a->text().contains(QStringLiteral("粘贴")))
                        action = a;
                }
                QVERIFY(action);
                action->trigger();
                menu->close();
            } else if (how == "middle") {
                QTest::mouseClick(f.Text1, Qt::MiddleButton);
            } else {
                data.setText(text);
                QVERIFY(drop(f.Text1, data));
            }
        };
        f.Text1->setText(pagePrefix(1, hosts()) + "10001");  // another service's address already there
        f.Text1->end(false);
        paste("看看这个 " + address + "\r\n");
        QCOMPARE(f.Text1->text(), address);
        QCOMPARE(selected(f), 4);
        QCOMPARE(f.Label5->text(), QStringLiteral("您当前选择的是秒拍视频提取.."));

        // An address of no service leaves the choice alone; typing one of a service selects it.
        if (how == "dblclick" || how == "ctrlv") {
            f.Text1->clear();
            paste("http://elsewhere.test/media/1");
            QCOMPARE(f.Text1->text(), QString("http://elsewhere.test/media/1"));
            QCOMPARE(selected(f), 4);
            f.Text1->clear();
            QTest::keyClicks(f.Text1, pagePrefix(1, hosts()) + "1");
            QCOMPARE(selected(f), 1);
        }
    }

    // Links handed in without copy-and-paste: on the command line (extracted once the window
    // is usable) and waiting on the clipboard when the window becomes active (not extracted).
    void linksHandedIn_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("box");  // what the box holds before
        QTest::addColumn<bool>("taken");
        QTest::newRow("command line") << "argument"
                                      << "" << true;
        QTest::newRow("clipboard, empty box") << "clipboard"
                                              << "" << true;
        QTest::newRow("clipboard, hint in the box") << "clipboard" << Form1::HintText << true;
        QTest::newRow("clipboard, the user's own text kept") << "clipboard"
                                                             << "http://my.test/1" << false;
    }
    void linksHandedIn()
    {
        QFETCH(QString, how);
        QFETCH(QString, box);
        QFETCH(bool, taken);
        WindowHarness h(false);
        Form1 &f = *h.form;
        h.server.route("/media/7", "<div data-video=\"http://v.test/7.mp4\"></div>");
        h.server.route("/version.txt", "V1.0", "text/plain");
        const QString address = pagePrefix(1, hosts()) + "7";
        if (how == "argument") {
            f.handInAddress(address + "\n");
            QCOMPARE(f.Text1->text(), address);
            QCOMPARE(selected(f), 1);
            QVERIFY(h.server.targets().isEmpty());  // not before the window is usable
            checkVersion(f);
            QTRY_COMPARE(f.Label5->text(), QStringLiteral("视频提取完毕.."));
            QCOMPARE(f.Result.ResultSlots[SlotVideoUrl], QString("http://v.test/7.mp4"));
            return;
        }
        checkVersion(f);
        f.Text1->setText(box);
        QGuiApplication::clipboard()->setText(address);
        f.show();
        f.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        QCOMPARE(f.Text1->text(), taken ? address : box);
        QCOMPARE(selected(f), taken ? 1 : 0);
        QVERIFY(!h.server.targets().contains("/media/7"));
    }
};

QTEST_MAIN(TestDesktop)
#include "test_desktop.moc"
