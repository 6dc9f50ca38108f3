// One extraction of one share address, the same for every caller: the window's display step,
// the command line, a batch of addresses and a download brought back at start. A video's
// fields are made from the address its run started with, never from the address box as it
// reads afterwards. One busy-server policy for whoever tries an address again.
#pragma once

#include "extract/driver.h"
#include "extract/headless_view.h"
#include "record/video_fields.h"

#include <QList>

inline const QString NoServiceText = QStringLiteral("没有与该地址对应的视频网站");

// The fields of the video extracted from address: plan is the display step's, record the
// run's slots.
VideoFields videoFields(
    const QString &address, int site, const DisplayPlan &plan, const ExtractionResult &record, const Hosts &h);

struct ExtractOptions {
    ExtractionDriver::PageFetcher pageFetcher;  // the share page from elsewhere (--page)
    QList<StepTrace> *trace = nullptr;          // each step that ran (--explain)
};

struct ExtractedVideo {
    ExtractionOutcome outcome = ExtractionOutcome::NoSite;
    ExtractionResult record;  // this address's own record
    HeadlessView view;        // what the window would show: the status and the display step
    FailureReason failure;    // why no video came, with a busy service's Retry-After
    VideoFields video;        // its link empty when no video was extracted
    QString avatar;           // the avatar's address

    bool extracted() const { return outcome == ExtractionOutcome::Extracted; }
};

// A page answered 429 or 503 is tried again up to MostBusyTries times: after the service's
// Retry-After when it gave one, else after 15, 30, then 60 s.
inline constexpr int MostBusyTries = 3;
inline constexpr int BusyPauseSeconds = 15;
int busyPauseSeconds(int retryAfter, int triesBefore);
