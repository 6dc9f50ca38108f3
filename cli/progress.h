// Download progress on standard error: a bar that fits the terminal, or plain lines.
#pragma once

#include "download/download.h"

#include <QElapsedTimer>
#include <QString>

// The columns a terminal gives text (CJK characters and emoji take two).
int displayWidth(QStringView text);

// The bar line for a file, at most columns wide: name, bar, percent, sizes, rate, time left.
QString barLine(const QString &name, const DownloadProgress &p, int columns);

class ProgressPrinter {
public:
    ProgressPrinter(bool bar, const QString &name) : bar_(bar), name_(name) {}
    void update(const DownloadProgress &p);
    void finish();  // ends the bar's line

private:
    bool bar_;
    QString name_;
    QElapsedTimer sinceDrawn_;
    int lastTenth_ = 0;
    bool drawn_ = false;
};
