#include "address_box/address_box.h"

#include "extract/author_listing.h"

#include "extract/address_check.h"
#include "record/hosts.h"

#include <QClipboard>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>

namespace {

QString draggedText(const QMimeData *mime)
{
    return AddressBox::textOfDrag(mime);
}

}  // namespace

QString AddressBox::textOfDrag(const QMimeData *mime)
{
    if (!mime)
        return QString();
    if (mime->hasUrls() && !mime->urls().isEmpty()) {
        const QUrl first = mime->urls().first();
        // A list of share addresses kept in a text file.
        if (first.isLocalFile() && first.fileName().endsWith(QStringLiteral(".txt"), Qt::CaseInsensitive)) {
            QFile file(first.toLocalFile());
            if (file.open(QIODevice::ReadOnly))
                return QString::fromUtf8(file.read(qint64(1) << 20));
        }
        return first.toString();
    }
    return mime->hasText() ? mime->text() : QString();
}

bool AddressBox::offerMany(const QString &text)
{
    const QStringList all = shareAddressesIn(text, hosts());
    if (all.size() < 2)
        return false;
    emit manyAddresses(all, text);
    return true;
}

AddressBox::AddressBox(QLineEdit *box, const QString &hint, QObject *parent) : QObject(parent), box_(box), hint_(hint)
{
    box_->installEventFilter(this);
    // Typing or editing an address selects its service, as a paste does.
    connect(box_, &QLineEdit::textEdited, this, &AddressBox::nameSiteOf);
    connect(box_, &QLineEdit::textEdited, this, &AddressBox::typed);
    connect(box_, &QLineEdit::returnPressed, this, &AddressBox::submitted);
    box_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(box_, &QLineEdit::customContextMenuRequested, this, &AddressBox::showMenu);
}

void AddressBox::nameSiteOf(const QString &text)
{
    // A share address names its service; so does an author's page.
    int site = siteForAddress(text, hosts());
    if (site < 0)
        site = listingSiteFor(text.trimmed(), -1, hosts());
    if (site >= 0)
        emit siteFound(site);
}

bool AddressBox::paste(const QString &text)
{
    const QString address = shareAddressIn(text, hosts());
    if (address.isEmpty())
        return false;
    box_->setText(address);
    box_->end(false);  // a long address shows its end: the video id
    nameSiteOf(address);
    return true;
}

bool AddressBox::acceptsDrop(const QMimeData *mime) const
{
    return box_->isEnabled() && !draggedText(mime).trimmed().isEmpty();
}

void AddressBox::drop(const QMimeData *mime)
{
    if (offerMany(draggedText(mime)) || paste(draggedText(mime)))
        return;
    box_->setText(droppedAddress(draggedText(mime)));
    box_->end(false);
    nameSiteOf(box_->text());
}

void AddressBox::takeClipboardAddress()
{
    if (!box_->isEnabled() || !(box_->text().isEmpty() || box_->text() == hint_))
        return;
    // Only an address of a known service: any other link on the clipboard stays there.
    const QString text = QGuiApplication::clipboard()->text();
    const QString address = shareAddressIn(text, hosts());
    if (siteForAddress(address, hosts()) >= 0 || listingSiteFor(address, -1, hosts()) >= 0)
        paste(text);
}

void AddressBox::showHintWhenEmpty()
{
    if (box_->text().isEmpty()) {
        box_->setText(hint_);
        box_->setCursorPosition(0);  // a newly set text is shown from its start
    }
}

void AddressBox::showMenu(const QPoint &at)
{
    QMenu *menu = box_->createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // 粘贴 takes a share address alone, as Ctrl+V does. The standard menu's actions have no
    // names; 粘贴 is the one that shows the paste shortcut.
    const QString shortcut = u'\t' + QKeySequence(QKeySequence::Paste).toString(QKeySequence::NativeText);
    const QList<QAction *> actions = menu->actions();
    const auto found =
        std::find_if(actions.begin(), actions.end(), [&](const QAction *a) { return a->text().endsWith(shortcut); });
    if (found != actions.end()) {
        QAction *pasteAction = *found;
        disconnect(pasteAction, &QAction::triggered, nullptr, nullptr);
        connect(pasteAction, &QAction::triggered, this, [this] {
            const QString pasted = QGuiApplication::clipboard()->text();
            if (!offerMany(pasted) && !paste(pasted)) {
                box_->paste();
                nameSiteOf(box_->text());
            }
        });
    }
    menu->popup(box_->mapToGlobal(at));
}

bool AddressBox::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == box_ && box_->isEnabled() && boxEvent(event))
        return true;
    return QObject::eventFilter(watched, event);
}

// A key in the box: a paste takes the share address alone; the hint is real text, so typing
// replaces it rather than landing in front of it.
bool AddressBox::keyPress(const QKeyEvent *key)
{
    if (!key->matches(QKeySequence::Paste)) {
        const bool typing = (!key->text().isEmpty() && key->text().at(0).isPrint()) ||
            key->key() == Qt::Key_Backspace || key->key() == Qt::Key_Delete;
        if (typing && box_->text() == hint_)
            box_->clear();
        return false;
    }
    const QString pasted = QGuiApplication::clipboard()->text();
    if (!offerMany(pasted) && !paste(pasted)) {
        if (box_->text() == hint_)
            box_->clear();
        box_->paste();
        nameSiteOf(box_->text());
    }
    return true;
}

// The hint goes under the pointer; pastes, the double click and drops put one clean address
// in the box.
bool AddressBox::boxEvent(QEvent *event)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    switch (event->type()) {
    case QEvent::MouseMove:
        if (box_->text() == hint_)
            box_->clear();
        return false;
    case QEvent::MouseButtonDblClick: {
        // The whole content becomes the clipboard's text (empty when it holds none).
        const QString text = clipboard->text();
        if (!offerMany(text) && !paste(text)) {
            box_->setText(text);
            box_->end(false);
            nameSiteOf(box_->text());
        }
        return true;
    }
    case QEvent::KeyPress: return keyPress(static_cast<QKeyEvent *>(event));
    case QEvent::MouseButtonRelease:
        // The middle button pastes the selection, as everywhere on X11.
        return static_cast<QMouseEvent *>(event)->button() == Qt::MiddleButton && clipboard->supportsSelection() &&
            (offerMany(clipboard->text(QClipboard::Selection)) || paste(clipboard->text(QClipboard::Selection)));
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        // A drop replaces the whole address, wherever it lands in the box.
        auto *drag = static_cast<QDragMoveEvent *>(event);
        if (acceptsDrop(drag->mimeData()))
            drag->acceptProposedAction();
        else
            drag->ignore();
        return true;
    }
    case QEvent::Drop: {
        auto *dropped = static_cast<QDropEvent *>(event);
        if (acceptsDrop(dropped->mimeData())) {
            drop(dropped->mimeData());
            dropped->acceptProposedAction();
        }
        return true;
    }
    default: return false;
    }
}
