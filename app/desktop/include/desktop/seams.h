// The window's ways out to the system, replaceable so that tests observe them: message
// boxes, opening an address, the save dialog of a download, and ending the program.
#pragma once

#include <QString>
#include <functional>
#include <memory>

class QMessageBox;
class QWidget;

enum class BoxIcon { Information, Warning };
enum class BoxButtons { Ok, YesNo, YesNoCancel };
enum BoxResult { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

struct MessageRequest {
    QString text;
    QString title;
    BoxIcon icon = BoxIcon::Information;
    BoxButtons buttons = BoxButtons::Ok;
};

// The message box the window shows for a request: plain text, icon, Chinese buttons.
std::unique_ptr<QMessageBox> buildMessageBox(QWidget *parent, const MessageRequest &request);

struct Seams {
    std::function<int(QWidget *parent, const MessageRequest &request)> messageBox;
    std::function<void(const QString &address)> openUrl;  // the default web browser
    // The save dialog: the chosen path, or "" when the user cancelled.
    std::function<QString(QWidget *parent, const QString &title, const QString &suggested)> saveFileName;
    // A folder dialog: the chosen folder, or "" when the user cancelled.
    std::function<QString(QWidget *parent, const QString &title, const QString &start)> chooseFolder;
    std::function<void()> endNow;  // leave the process at once
    // Closes the message box that is open, as if 否 (or its close button) were chosen.
    std::function<void()> closeMessageBox;
    // A desktop notification; nothing happens when no notification service answers.
    std::function<void(const QString &summary, const QString &body)> notify;
    // The same, with a click on it calling onClick; when unset, notify is used.
    std::function<void(const QString &summary, const QString &body, const std::function<void()> &onClick)>
        notifyClickable;

    static Seams system();
};
