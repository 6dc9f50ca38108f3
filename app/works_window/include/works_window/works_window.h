// An author's works: the author's avatar, name and count above the works as they arrive,
// page after page ("正在读取第 3 页…" with 停止), each row with its cover (fetched only for
// rows near the view), description, date and "已下载" for works the history holds. Check
// boxes with 全选, 只选新作品 and a date range; "下载所选 (N)" hands the chosen works to the
// download list, in a folder named after the author (a setting); 关注 follows the author.
// Every stop of the listing is said in Chinese.
#pragma once

#include "extract/author_listing.h"

#include <QWidget>
#include <memory>

class DownloadList;
class QCheckBox;
class QDateEdit;
class QHBoxLayout;
class QLabel;
class QListView;
class QPushButton;
class WorksModel;
struct Seams;

class WorksWindow : public QWidget {
    Q_OBJECT
public:
    WorksWindow(DownloadList &list, const Seams &seams, QWidget *parent = nullptr);
    ~WorksWindow() override;

    // Lists the author's page of address (of the service site) and shows the window in front.
    void open(int site, const QString &address);
    // The service and author shown.
    int site() const { return site_; }
    const ListedAuthor &author() const;
    bool listing() const;

    WorksModel *model() const { return model_; }
    QListView *view() const { return view_; }
    QLabel *status() const { return status_; }
    QPushButton *downloadButton() const { return download_; }
    QPushButton *followButton() const { return follow_; }
    QPushButton *newOnlyButton() const { return newOnly_; }
    QCheckBox *allBox() const { return all_; }
    QPushButton *stopButton() const { return stop_; }
    void chooseDays(const QDate &from, const QDate &to);

signals:
    // The chosen works went to the download list.
    void handedToList(int count);
    // The list of followed authors was asked for.
    void followedAsked();

private:
    void build();
    QHBoxLayout *headRow(QPushButton **followed);
    QHBoxLayout *chooseRow(QPushButton **byDate);
    void wire(QPushButton *followed, QPushButton *byDate);
    void authorKnown(const ListedAuthor &author);
    void worksFound(const QList<ListedWork> &works, int page);
    void ended(ListingEnd end, const QString &said);
    void say(const QString &text);
    void showDays();
    void showChosen(int count);
    void askCovers();
    void downloadChosen();
    void toggleFollow();

    DownloadList &list_;
    const Seams &seams_;
    std::unique_ptr<AuthorListing> listing_;
    WorksModel *model_ = nullptr;
    int site_ = -1;
    int page_ = 0;
    int coversAsked_ = 0;  // cover fetches under way
    QLabel *avatar_ = nullptr;
    QLabel *name_ = nullptr;
    QLabel *count_ = nullptr;
    QLabel *status_ = nullptr;
    QPushButton *stop_ = nullptr;
    QPushButton *follow_ = nullptr;
    QCheckBox *all_ = nullptr;
    QPushButton *newOnly_ = nullptr;
    QDateEdit *from_ = nullptr;
    QDateEdit *to_ = nullptr;
    QListView *view_ = nullptr;
    QPushButton *download_ = nullptr;
    QTimer *coverTimer_ = nullptr;
};
