#include "report.h"

#include "extract/display.h"
#include "sites/sites.h"
#include "terminal_text.h"

namespace {

void member(json::Writer &w, const char *key, const QString &value)
{
    w.raw(key);
    w.string(value);
}

void nullableMember(json::Writer &w, const char *key, const QString &value, bool present)
{
    w.raw(key);
    if (present)
        w.string(value);
    else
        w.raw("null");
}

void writeDisplay(json::Writer &w, const std::optional<DisplayPlan> &plan)
{
    w.raw(", \"display\": ");
    if (!plan) {
        w.raw("null");
        return;
    }
    member(w, "{\"author\": ", plan->label1);
    member(w, ", \"description\": ", plan->label2);
    member(w, ", \"date\": ", plan->label3);
    member(w, ", \"badge\": ", badgeKindName(plan->badge));
    member(w, ", \"cover\": ", plan->cover);
    member(w, ", \"avatar\": ", plan->avatar);
    w.raw("}");
}

}  // namespace

void writeJson(json::Writer &w, const AddressReport &r, bool withSlots)
{
    const std::optional<DisplayPlan> &plan = r.view.display;
    const DisplayPlan none;
    const DisplayPlan &d = plan ? *plan : none;
    member(w, "{\"address\": ", r.address);
    nullableMember(w, ", \"site\": ", siteName(r.site), r.site >= 0);
    w.raw(r.ok() ? ", \"ok\": true" : ", \"ok\": false");
    nullableMember(w, ", \"video_url\": ", r.result.ResultSlots[SlotVideoUrl], r.ok());
    member(w, ", \"cover_url\": ", d.cover);
    member(w, ", \"avatar_url\": ", d.avatarUrl());
    member(w, ", \"author\": ", d.author);
    member(w, ", \"description\": ", d.description);
    member(w, ", \"date\": ", d.label3);
    w.raw(d.badge != Badge::None ? ", \"verified\": true" : ", \"verified\": false");
    member(w, ", \"status\": ", r.view.status);
    nullableMember(w, ", \"error\": ", r.error, !r.error.isEmpty());
    if (!r.errorCode.isEmpty())
        member(w, ", \"error_code\": ", r.errorCode);
    if (withSlots) {
        w.raw(", \"slots\": [");
        for (int i = 0; i < SlotCount; ++i) {
            if (i > 0)
                w.raw(",");
            w.string(r.result.ResultSlots[i]);
        }
        w.raw("]");
        writeDisplay(w, plan);
    }
    if (r.saved && r.saved->error.isEmpty()) {
        member(w, ", \"file\": ", r.saved->file);
        if (r.saved->skipped)
            w.raw(", \"skipped\": \"exists\"");
    } else if (r.saved) {
        member(w, ", \"download_error\": ", r.saved->error);
        member(w, ", \"download_error_code\": ", r.saved->errorCode);
    }
    w.raw("}\n");
    w.flush();
}

void printSummary(QTextStream &out, const AddressReport &r)
{
    // Page text never reaches the terminal as control sequences.
    const auto line = [&out](const char *label, const QString &value) { out << label << forTerminal(value) << "\n"; };
    out << forTerminal(r.address) << "\n";
    if (!r.view.display) {
        line("  状态: ", r.view.status);
        return;
    }
    const DisplayPlan &d = *r.view.display;
    line("  作者: ", d.label1);
    line("  描述: ", d.label2);
    line("  日期: ", d.label3);
    line("  视频: ", r.ok() ? r.result.ResultSlots[SlotVideoUrl] : QString());
    line("  封面: ", d.cover);
    if (!r.ok())
        line("  状态: ", r.view.status);
    if (r.saved && r.saved->error.isEmpty())
        line("  文件: ", r.saved->file);
    else if (r.saved)
        line("  下载失败: ", r.saved->error);  // in English, as every message of the command line
}
