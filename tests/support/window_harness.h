// A window whose ways out to the system are recorded instead of taken, with pre-set answers
// for its message boxes.
#pragma once

#include "await.h"
#include "fixtures.h"
#include "main_window/form1.h"
#include "record/hosts.h"

#include <QApplication>
#include <QList>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <memory>

// A press of 提取视频, and its run to its end: the page, the steps and the pictures shown.
inline void extractNow(Form1 &form)
{
    form.Command1_Click();
    awaitUntil([&form] { return !form.extracting(); });
}

// The version check at start, run now and awaited.
inline void checkVersion(Form1 &form)
{
    form.Timer1_Timer();
    awaitUntil([&form] { return form.versionChecked(); });
}

struct Recorder {
    QList<MessageRequest> boxes;
    QList<int> answers;  // taken in order; IDCANCEL (or IDOK for OK boxes) when none is left
    QStringList opened;
    QStringList saveDialogs;  // the suggested paths the save dialog was opened with
    QString saveAnswer;       // the path the save dialog returns ("" = cancelled)
    QStringList saveAnswers;  // taken in order before saveAnswer
    int ended = 0;
    QStringList notifications;  // "summary|body" of each desktop notification

    Seams seams()
    {
        Seams s;
        s.messageBox = [this](QWidget *, const MessageRequest &r) {
            boxes.append(r);
            if (!answers.isEmpty())
                return answers.takeFirst();
            return r.buttons == BoxButtons::Ok ? int(IDOK) : int(IDCANCEL);
        };
        s.openUrl = [this](const QString &a) { opened << a; };
        s.saveFileName = [this](QWidget *, const QString &title, const QString &suggested) {
            saveDialogs << title + u'|' + suggested;
            return saveAnswers.isEmpty() ? saveAnswer : saveAnswers.takeFirst();
        };
        s.endNow = [this] { ++ended; };
        s.closeMessageBox = [] {};
        s.notify = [this](const QString &summary, const QString &body) { notifications << summary + u'|' + body; };
        return s;
    }
};

struct WindowHarness {
    // A history database and thumbnails of this window's own: a test never sees another's.
    QTemporaryDir data;
    bool dataSet = qputenv("XDG_DATA_HOME", data.path().toLocal8Bit()) &&
        qputenv("XDG_CACHE_HOME", data.filePath(QStringLiteral("cache")).toLocal8Bit());
    RouteServer server;
    Recorder recorder;
    std::unique_ptr<Form1> form;

    // prepare: called with the data folder before the window is made (a history put there).
    explicit WindowHarness(bool usable = true, const std::function<void(const QString &)> &prepare = {})
    {
        if (prepare)
            prepare(data.path());
        setHosts(Hosts::allOn(server.hostPort()));
        form = std::make_unique<Form1>(recorder.seams());
        form->Timer1->stop();
        if (usable) {
            server.route("/version.txt", "V1.0", "text/plain");
            checkVersion(*form);
        }
    }
    ~WindowHarness() { setHosts(Hosts::fromBuild()); }

    QString expand(QString text) const { return text.replace(QStringLiteral("{{BASE}}"), server.base()); }
};
