// The program's work apart from any window, made before the window and shared by every view:
// the one extraction queue and the downloads with their history (made when first asked for:
// opening the history is not on the way to the first drawn window). The network's settings
// (proxy, connections, rate limit) hold from here for every request, the version check's first.
#pragma once

#include "extract/extraction_queue.h"

#include <QObject>

class DownloadList;

class Session : public QObject {
    Q_OBJECT
public:
    explicit Session(QObject *parent = nullptr);
    ~Session() override;

    ExtractionQueue *extractions() const { return extractions_; }
    DownloadList *downloads();
    bool hasDownloads() const { return downloads_ != nullptr; }

private:
    ExtractionQueue *extractions_;
    DownloadList *downloads_ = nullptr;
};
