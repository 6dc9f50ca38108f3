#include "settings_dialog/settings_dialog.h"

#include "desktop/seams.h"
#include "net/network_policy.h"
#include "net/proxy.h"
#include "net/rate_limit.h"
#include "settings/settings.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

SettingsDialog::SettingsDialog(Settings &settings, const Seams &seams, QWidget *parent)
    : QDialog(parent), settings_(settings), seams_(seams), atOnce_(new QSpinBox(this)),
      resume_(new QCheckBox(QStringLiteral("启动时继续未完成的下载"), this)),
      keep_(new QCheckBox(QStringLiteral("保留下载历史"), this)),
      sidecars_(new QCheckBox(QStringLiteral("同时保存封面和视频信息"), this)),
      watch_(new QCheckBox(QStringLiteral("监视剪贴板"), this)), connections_(new QSpinBox(this)),
      rate_(new QLineEdit(settings.rateLimit(), this)), proxy_(new QLineEdit(settings.proxy(), this)),
      shown_(new QSpinBox(this)), flvToMp4_(new QCheckBox(QStringLiteral("FLV 视频保存为 MP4"), this)),
      embedTags_(new QCheckBox(QStringLiteral("在视频文件中写入作者、简介和封面"), this)),
      removeOriginal_(new QCheckBox(QStringLiteral("转换后删除原文件"), this)),
      authorFolder_(new QCheckBox(QStringLiteral("作者的作品保存到以作者命名的文件夹"), this)),
      checkFollowed_(new QCheckBox(QStringLiteral("启动时检查关注的作者"), this))
{
    setWindowTitle(QStringLiteral("下载设置"));
    atOnce_->setRange(1, Settings::MostAtOnce);
    atOnce_->setValue(settings.downloadsAtOnce());
    resume_->setChecked(settings.resumeAtStart());
    keep_->setChecked(settings.keepHistory());
    sidecars_->setChecked(settings.saveSidecars());
    showChoices();
    connections_->setRange(1, Settings::MostConnections);
    connections_->setValue(settings.connectionsPerHost());
    connections_->setToolTip(QStringLiteral("服务器允许时，大文件分成几段同时下载；1 为不分段"));
    rate_->setPlaceholderText(QStringLiteral("不限速 (例如 500K、2M)"));
    proxy_->setPlaceholderText(QStringLiteral("使用环境变量 http_proxy 等"));
    proxy_->setToolTip(QStringLiteral("http://主机:端口 或 socks5://主机:端口；填“无”不使用代理"));
    // Wide enough for the hints to be read whole.
    for (QLineEdit *field : {rate_, proxy_})
        field->setMinimumWidth(field->fontMetrics().horizontalAdvance(field->placeholderText()) + 24);
    shown_->setRange(Settings::FewestShown, 100000);
    shown_->setSingleStep(1000);
    shown_->setValue(settings.historyShown());
    auto *clear = new QPushButton(QStringLiteral("清除历史"), this);
    connect(clear, &QPushButton::clicked, this, &SettingsDialog::clearHistory);

    auto *form = new QFormLayout(this);
    form->addRow(QStringLiteral("同时下载:"), atOnce_);
    form->addRow(resume_);
    form->addRow(keep_);
    form->addRow(sidecars_);
    form->addRow(watch_);
    form->addRow(flvToMp4_);
    form->addRow(embedTags_);
    form->addRow(removeOriginal_);
    form->addRow(authorFolder_);
    form->addRow(checkFollowed_);
    form->addRow(QStringLiteral("每个服务器的连接数:"), connections_);
    form->addRow(QStringLiteral("限速:"), rate_);
    form->addRow(QStringLiteral("代理:"), proxy_);
    form->addRow(QStringLiteral("显示最近的历史:"), shown_);
    form->addRow(clear);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    // A rate or a proxy that cannot be used is said, and the dialog stays open.
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (check())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
}

// The check boxes as saved, and what each one does.
void SettingsDialog::showChoices()
{
    const Settings &settings = settings_;
    sidecars_->setToolTip(QStringLiteral("在视频旁保存封面和 .info.json 视频信息文件"));
    watch_->setChecked(settings.watchClipboard());
    flvToMp4_->setChecked(settings.flvToMp4());
    flvToMp4_->setToolTip(QStringLiteral("微拍等网站的 FLV 视频下载后转为手机、电视都能播放的 MP4 (不重新编码)"));
    embedTags_->setChecked(settings.embedTags());
    removeOriginal_->setChecked(settings.removeOriginal());
    removeOriginal_->setToolTip(QStringLiteral("转换结果检查无误后才删除原文件"));
    authorFolder_->setChecked(settings.value(Settings::Key::AuthorFolder).toBool());
    authorFolder_->setToolTip(QStringLiteral("在作品窗口中下载的作品放在保存位置下以作者命名的文件夹里"));
    checkFollowed_->setChecked(settings.value(Settings::Key::CheckFollowedAtStart).toBool());
    checkFollowed_->setToolTip(QStringLiteral("窗口显示后检查关注的作者有没有新作品，发现时发出通知"));
    watch_->setToolTip(QStringLiteral(
        "复制的分享地址会自动提取(不会自动下载)。在 Wayland 下只有本程序窗口处于活动状态时才能看到剪贴板的变化。"));
}

bool SettingsDialog::ask()
{
    if (exec() != QDialog::Accepted)
        return false;
    save();
    return true;
}

bool SettingsDialog::check()
{
    const auto refuse = [this](QLineEdit *field, const QString &text) {
        MessageRequest request;
        request.text = text;
        request.title = QStringLiteral("下载设置");
        request.icon = BoxIcon::Warning;
        seams_.messageBox(this, request);
        field->setFocus();
        return false;
    };
    if (!rate_->text().trimmed().isEmpty() && fetch::parseRate(rate_->text()) <= 0)
        return refuse(rate_, QStringLiteral("限速的格式不对，例如 500K 或 2M。"));
    const std::optional<QString> chosen = fetch::NetworkPolicy::proxyField(proxy_->text());
    if (chosen && !fetch::proxyProblem(*chosen).isEmpty())
        return refuse(proxy_, QStringLiteral("代理地址不对，例如 http://127.0.0.1:8080 或 socks5://127.0.0.1:1080。"));
    return true;
}

void SettingsDialog::save()
{
    settings_.set(Settings::Key::AtOnce, atOnce_->value());
    settings_.set(Settings::Key::ResumeAtStart, resume_->isChecked());
    settings_.set(Settings::Key::KeepHistory, keep_->isChecked());
    settings_.set(Settings::Key::HistoryShown, shown_->value());
    settings_.set(Settings::Key::Sidecars, sidecars_->isChecked());
    settings_.set(Settings::Key::WatchClipboard, watch_->isChecked());
    settings_.set(Settings::Key::FlvToMp4, flvToMp4_->isChecked());
    settings_.set(Settings::Key::EmbedTags, embedTags_->isChecked());
    settings_.set(Settings::Key::RemoveOriginal, removeOriginal_->isChecked());
    settings_.set(Settings::Key::AuthorFolder, authorFolder_->isChecked());
    settings_.set(Settings::Key::CheckFollowedAtStart, checkFollowed_->isChecked());
    settings_.set(Settings::Key::Connections, connections_->value());
    settings_.set(Settings::Key::RateLimit, rate_->text());
    settings_.set(Settings::Key::Proxy, proxy_->text());
}
