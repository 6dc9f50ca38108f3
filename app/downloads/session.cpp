#include "downloads/session.h"

#include "downloads/download_list.h"
#include "history/history_store.h"
#include "record/hosts.h"
#include "settings/settings.h"

Session::Session(QObject *parent) : QObject(parent), extractions_(new ExtractionQueue(hosts(), this))
{
    const Settings settings;
    applyNetworkSettings(settings);
    connect(settings.notifier(), &SettingsValues::changed, this, [](Settings::Key key) {
        using K = Settings::Key;
        if (key == K::Connections || key == K::RateLimit || key == K::Proxy)
            applyNetworkSettings(Settings());
    });
}

Session::~Session() = default;

DownloadList *Session::downloads()
{
    if (!downloads_)
        downloads_ = new DownloadList(Settings(), history::Store::defaultPath(), this, extractions_);
    return downloads_;
}
