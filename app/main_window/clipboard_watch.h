// "监视剪贴板": a share address copied anywhere is handed to the window, never while the user
// types in the address box or an extraction runs (it waits for the box to be free), and never
// what the window copied itself.
#pragma once

#include "settings/settings.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class QLineEdit;
class QWidget;

class ClipboardWatch : public QObject {
    Q_OBJECT
public:
    // box: the address box; extract: the button whose being enabled means no run is in
    // progress.
    ClipboardWatch(QLineEdit *box, QWidget *extract, QObject *parent);

    // What the window itself put on the clipboard: not taken back.
    void copiedByWindow(const QString &text) { ownText_ = text; }
    // The user edited the box: a copied address waits until the typing stops.
    void typed() { sinceTyped_.start(); }

signals:
    // A copied share address, now that the box is free for it.
    void addressCopied(const QString &address);

private:
    void clipboardChanged();
    void takeWhenFree();

    QLineEdit *box_;
    QWidget *extract_;
    Settings settings_;
    QString ownText_;           // what the window copied
    QString waiting_;           // a copied address waiting for the box to be free
    QElapsedTimer sinceTyped_;  // the user's last edit in the box
};
