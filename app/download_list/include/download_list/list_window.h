// 下载列表: the modeless window of the download list, beside the main one. One row per
// download, newest first (a model and a painter, never a widget per row); above the list a
// filter box, 只看失败, 全部重试 and 清除已完成; per row a context menu and keys (Space:
// 暂停/继续, Delete: 从列表中删除, Return: 打开文件); the settings behind a button. It
// remembers its size and place.
#pragma once

#include <QWidget>

class DownloadFilter;
class DownloadList;
class QCheckBox;
class QLineEdit;
class QMenu;
class QMimeData;
class QListView;
class QLabel;
class QPushButton;
class Settings;
struct DownloadRow;
struct Seams;

class ListWindow : public QWidget {
    Q_OBJECT
public:
    ListWindow(DownloadList &list, Settings &settings, const Seams &seams, QWidget *parent = nullptr);

    // Shows the window in front, where it was last.
    void present();
    QListView *view() const { return view_; }
    QLineEdit *filterBox() const { return filter_; }
    QCheckBox *onlyFailed() const { return onlyFailed_; }

signals:
    // Something was dropped on the list (links, text, a .txt file): the window takes its
    // share addresses.
    void dropped(const QMimeData *mime);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool rowKey(QKeyEvent *event);
    void showRowMenu(const QPoint &at);
    void addFinishedActions(QMenu *menu, const DownloadRow &row);
    void askClearFinished();
    void showSettings();
    qint64 currentId() const;
    void openFile(qint64 id, bool folder);
    void copyLink(qint64 id);
    void askDeleteFile(qint64 id);

    DownloadList &list_;
    Settings &settings_;
    const Seams &seams_;
    DownloadFilter *filterModel_;
    QLineEdit *filter_;
    QCheckBox *onlyFailed_;
    QPushButton *retryAll_;
    QPushButton *clearDone_;
    QPushButton *settingsButton_;
    QListView *view_;
    QLabel *notice_;  // what a batch waits for
};
