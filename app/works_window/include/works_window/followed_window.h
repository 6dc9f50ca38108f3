// 关注的作者: the authors the user follows, each with "N 个新作品" and when it was last
// checked. 检查新作品 reads each author only up to the first work already seen (one page when
// nothing is new), a few at a time; 下载新作品 checks the chosen author (or all of them) and
// hands what is new to the download list; a notification says what a check found while the
// window is not in front. Rows change when another window follows or unfollows.
#pragma once

#include "history/history_store.h"

#include <QHash>
#include <QWidget>

class DownloadList;
class FollowCheck;
class QLabel;
class QListWidget;
class QPushButton;
struct FollowCheckResult;
struct Seams;

class FollowedWindow : public QWidget {
    Q_OBJECT
public:
    FollowedWindow(DownloadList &list, const Seams &seams, QWidget *parent = nullptr);

    void present();
    // Checks every followed author for new works; download: their new works go to the list.
    void checkAll(bool download = false);
    bool checking() const;

    QListWidget *view() const { return view_; }
    QLabel *status() const { return status_; }
    QPushButton *checkButton() const { return check_; }
    // The new works the last check found, by the author's key ("meipai/6045").
    int newWorksOf(const QString &site, const QString &id) const;

signals:
    // The author's works were asked for (a double click, 查看作品).
    void worksAsked(int site, const QString &address);
    // A check ended: how many authors had new works, and how many works.
    void checked(int authors, int works);

private:
    // The check, the buttons and the watch of the database, connected.
    void wire();
    void refresh();
    // What the rows show, to see whether they changed.
    QString signature() const;
    void checkAuthors(const QList<history::FollowedAuthor> &authors, bool download);
    void authorChecked(const FollowCheckResult &result);
    void checkFinished(int authors, int works);
    QList<history::FollowedAuthor> chosenAuthors() const;
    void say(const QString &text);

    DownloadList &list_;
    const Seams &seams_;
    FollowCheck *follow_ = nullptr;
    bool downloadAfter_ = false;
    bool reported_ = false;  // the status says a check's outcome
    qint64 seenVersion_ = -1;
    QString shownSignature_;
    QHash<QString, QImage> avatars_;  // by avatar address, loaded once
    QListWidget *view_ = nullptr;
    QLabel *status_ = nullptr;
    QPushButton *check_ = nullptr;
    QPushButton *download_ = nullptr;
    QPushButton *downloadAll_ = nullptr;
    QPushButton *works_ = nullptr;
    QPushButton *unfollow_ = nullptr;
};
