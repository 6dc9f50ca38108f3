// 下载设置: the dialog of the download list's settings. It shows the saved values, says
// through the seams what cannot be used (a rate or a proxy written wrong) and stays open
// until it can, and saves every setting on 确定; whoever follows the settings hears of each
// change from them.
#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QSpinBox;
class Settings;
struct Seams;

class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    SettingsDialog(Settings &settings, const Seams &seams, QWidget *parent = nullptr);

    // Shows the dialog and waits for it: true when the settings were saved.
    bool ask();

signals:
    // 清除历史 was pressed.
    void clearHistory();

private:
    // False, with the reason shown, while something cannot be used.
    void showChoices();
    bool check();
    void save();

    Settings &settings_;
    const Seams &seams_;
    QSpinBox *atOnce_;
    QCheckBox *resume_;
    QCheckBox *keep_;
    QCheckBox *sidecars_;
    QCheckBox *watch_;
    QSpinBox *connections_;
    QLineEdit *rate_;
    QLineEdit *proxy_;
    QSpinBox *shown_;
    QCheckBox *flvToMp4_;
    QCheckBox *embedTags_;
    QCheckBox *removeOriginal_;
    QCheckBox *authorFolder_;
    QCheckBox *checkFollowed_;
};
