#include "clipboard_watch.h"

#include "extract/author_listing.h"

#include "extract/address_check.h"
#include "record/hosts.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QTimer>

ClipboardWatch::ClipboardWatch(QLineEdit *box, QWidget *extract, QObject *parent)
    : QObject(parent), box_(box), extract_(extract)
{
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, &ClipboardWatch::clipboardChanged);
}

void ClipboardWatch::clipboardChanged()
{
    if (!settings_.watchClipboard())
        return;
    const QString text = QGuiApplication::clipboard()->text();
    if (text.isEmpty() || text == ownText_)
        return;  // what this program copied is not taken back
    const QString address = shareAddressIn(text, hosts());
    const bool known = siteForAddress(address, hosts()) >= 0 || listingSiteFor(address, -1, hosts()) >= 0;
    if (!known || address == box_->text())
        return;
    waiting_ = address;
    takeWhenFree();
}

void ClipboardWatch::takeWhenFree()
{
    if (waiting_.isEmpty())
        return;
    // Never in the user's way: not while an extraction runs or the user is typing in the box.
    const bool typing = box_->hasFocus() && sinceTyped_.isValid() && sinceTyped_.elapsed() < 2000;
    if (!box_->isEnabled() || !extract_->isEnabled() || typing) {
        QTimer::singleShot(500, this, &ClipboardWatch::takeWhenFree);
        return;
    }
    const QString address = waiting_;
    waiting_.clear();
    emit addressCopied(address);
}
