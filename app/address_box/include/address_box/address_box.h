// Everything the address box does: a paste, the double click, the middle button and a drop
// put one clean share address in it (taken out of a share message) and name its service;
// typing selects the service too; the hint is real text that goes when the pointer comes or
// typing starts; a share address waiting on the clipboard is taken when the box is empty.
#pragma once

#include <QObject>
#include <QString>

class QKeyEvent;
class QLineEdit;
class QMimeData;
class QPoint;

class AddressBox : public QObject {
    Q_OBJECT
public:
    // Watches box (its events, its edits, its context menu); hint is the text it shows when
    // empty.
    AddressBox(QLineEdit *box, const QString &hint, QObject *parent = nullptr);

    // Puts the share address that text holds, alone, into the box and names its service;
    // false when text holds none (the caller then pastes as a line edit does).
    bool paste(const QString &text);
    // A drag the box takes: anything with a link or text while the box is enabled.
    bool acceptsDrop(const QMimeData *mime) const;
    // The dragged address replaces the whole content: a share message gives its address.
    void drop(const QMimeData *mime);
    // With no address of its own in the box (empty or the hint), a share address of a known
    // service on the clipboard is put there (not extracted).
    void takeClipboardAddress();
    // The hint comes back into an empty box.
    void showHintWhenEmpty();

    // The text a drag carries: the content of a dropped .txt file (at most 1 MiB), else its
    // first link, else its plain text.
    static QString textOfDrag(const QMimeData *mime);

signals:
    // The text in the box is an address of this service.
    void siteFound(int site);
    // A paste or drop held several share addresses: nothing was put in the box.
    void manyAddresses(const QStringList &addresses, const QString &text);
    // The user typed or edited in the box.
    void typed();
    // Enter in the box.
    void submitted();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool boxEvent(QEvent *event);
    // True (and manyAddresses told) when text holds more than one share address.
    bool offerMany(const QString &text);
    bool keyPress(const QKeyEvent *key);
    void nameSiteOf(const QString &text);
    void showMenu(const QPoint &at);

    QLineEdit *box_;
    QString hint_;
};
