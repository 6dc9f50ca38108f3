// An address handed in on the program's command line: put in the box and extracted as soon as
// the window is usable.
#include "extract/address_check.h"
#include "main_window/form1.h"

#include "address_box/address_box.h"
#include "record/hosts.h"

#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>

void Form1::handInAddress(const QString &address)
{
    if (!addressBox_->paste(address)) {
        Text1->setText(address.trimmed());
        Text1->end(false);
    }
    phase_.extractWhenUsable = true;
    if (Command1->isEnabled())
        extractHandedInAddress();
}

void Form1::extractHandedInAddress()
{
    if (!phase_.extractWhenUsable)
        return;
    phase_.extractWhenUsable = false;
    // After the current event: the window has finished becoming usable.
    QTimer::singleShot(0, this, [this] {
        if (Command1->isEnabled())
            Command1_Click();
    });
}
