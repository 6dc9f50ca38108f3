// The status line follows the download 下载视频 started last: its progress a few times a
// second, then how it ended.
#pragma once

#include <QElapsedTimer>
#include <QtGlobal>

class DownloadFollow {
public:
    void follow(qint64 id)
    {
        followed_ = id;
        sinceShown_.invalidate();
    }
    qint64 followed() const { return followed_; }
    // Whether the status line shows a download's or a batch's text: a click on it then
    // opens the list.
    void setShowing(bool download) { showing_ = download; }
    bool showing() const { return showing_; }
    bool follows(qint64 id) const { return id != 0 && id == followed_; }
    // True when progress of id is to be shown now.
    bool progressDue(qint64 id)
    {
        if (!follows(id) || (sinceShown_.isValid() && sinceShown_.elapsed() < 250))
            return false;
        sinceShown_.start();
        return true;
    }

private:
    qint64 followed_ = 0;
    bool showing_ = false;
    QElapsedTimer sinceShown_;
};
