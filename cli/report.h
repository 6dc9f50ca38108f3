// What quorvin-extract prints for one address: a JSON line or a few lines for people.
#pragma once

#include "extract/driver.h"
#include "extract/headless_view.h"
#include "json_out.h"
#include "save.h"

#include <QTextStream>
#include <optional>

struct AddressReport {
    QString address;
    int site = -1;  // -1: no service matched
    ExtractionOutcome outcome = ExtractionOutcome::NoSite;
    HeadlessView view;        // the status and the display step, as the window has them
    ExtractionResult result;  // this address's own record
    QString error;            // a short English reason, empty when it worked
    QString errorCode;        // the kind of failure, a fixed code ("fetch_failed")
    std::optional<SaveOutcome> saved;

    bool ok() const { return outcome == ExtractionOutcome::Extracted; }
};

// One JSON object on one line: address, site, ok, video_url, cover_url, avatar_url, author,
// description, date, verified, status, error, then withSlots: the whole record and the
// captions, then "file" (and "skipped") or "download_error" after a download.
void writeJson(json::Writer &w, const AddressReport &r, bool withSlots);

void printSummary(QTextStream &out, const AddressReport &r);
