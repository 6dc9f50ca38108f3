// What quorvin-extract prints for one address: a JSON line or a few lines for people.
#pragma once

#include "convert/conversion.h"
#include "extract/driver.h"
#include "extract/headless_view.h"
#include "record/video_fields.h"
#include "json_out.h"
#include "save.h"

#include <QTextStream>
#include <QVariantHash>
#include <optional>

struct AddressReport {
    QString address;
    int site = -1;  // -1: no service matched
    ExtractionOutcome outcome = ExtractionOutcome::NoSite;
    HeadlessView view;        // the status and the display step, as the window has them
    ExtractionResult result;  // this address's own record
    VideoFields video;        // the video's fields (its link empty when none was extracted)
    QString avatar;           // the avatar's address
    QString error;            // a short English reason, empty when it worked
    QString errorCode;        // the kind of failure, a fixed code ("fetch_failed")
    std::optional<SaveOutcome> saved;
    std::optional<convert::Result> converted;  // --remux-video or -x after the download
    std::optional<convert::MediaFacts> facts;  // the saved file, measured
    bool archived = false;                     // the archive or the history records it as saved: nothing was fetched
    std::optional<QString> thumbnail;          // --write-thumbnail: the cover file, empty when skipped
    bool busyServer = false;                   // the page was answered 429 or 503
    int retryAfter = -1;                       // the seconds its Retry-After asked for, -1 when none
    QVariantHash playlist;                     // a work of an author's page: its place (playlist_index...)

    bool ok() const { return outcome == ExtractionOutcome::Extracted; }
};

// When a JSON line has a member.
enum class JsonWhen {
    Always,
    Failed,        // when the extraction failed
    WithSlots,     // with --slots
    WithDownload,  // with --download, after the download
    InPlaylist,    // for a work of an author's page
};

// One member of the JSON lines: its name, its JSON type, when it is there and what it holds.
// The table makes the writer, the --json help and the test's expected keys.
struct JsonColumn {
    const char *name;
    const char *type;
    JsonWhen when;
    const char *meaning;
};
// Every member, in the order a line has them.
const QList<JsonColumn> &jsonColumns();

// One JSON object on one line, its members as jsonColumns() says.
void writeJson(json::Writer &w, const AddressReport &r, bool withSlots);

void printSummary(QTextStream &out, const AddressReport &r);
