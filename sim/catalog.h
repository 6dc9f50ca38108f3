// The simulated services: their share pages, interface answers, pictures and videos, all
// built from one host table so that the pages hold exactly the addresses the program reads.
#pragma once

#include "http_server.h"
#include "record/hosts.h"

#include <QList>
#include <QString>
#include <optional>

struct SimVideo {
    int site;  // index of the service
    QString id;
    QString author;
    QString description;
    QString date;
    bool verified;  // the page carries the service's verified marker
    // Listed on the index page and by --list; the broken files of the failure paths are not.
    bool listed = true;
};

class Catalog {
public:
    static constexpr qint64 BigClipSize = 64LL * 1024 * 1024;

    explicit Catalog(const Hosts &hosts);

    const QList<SimVideo> &videos() const { return videos_; }
    // The share address a user pastes for a video.
    QString shareAddress(const SimVideo &video) const;
    // Every share address, in catalogue order.
    QStringList shareAddresses() const;

    HttpResponse answer(const HttpRequest &request) const;

    // The pages of a service as they are after a change ("meipai": the author moved from
    // <a class="name"> to <span class="nick">).
    void setSiteChanged(const QString &site) { changed_ = site; }
    // The signed description set served beside the version file (sites.bundle, .sig).
    void setPublishedSet(const QByteArray &bundle, const QByteArray &signature)
    {
        bundle_ = bundle;
        signature_ = signature;
    }

private:
    QString page(const SimVideo &video) const;
    QString weishiPage(const SimVideo &v) const;
    QString meipaiPage(const SimVideo &v) const;
    QString kuaishouPage(const SimVideo &v) const;
    QString weipaiPage(const SimVideo &v) const;
    QString miaopaiPage(const SimVideo &v) const;
    QString indexPage() const;
    std::optional<HttpResponse> makerPage(const QString &path) const;
    HttpResponse bigClip() const;
    const SimVideo *find(int site, const QString &id) const;

    Hosts h_;
    QList<SimVideo> videos_;
    QByteArray mp4_;
    QByteArray flv_;
    QByteArray oldFlv_;  // Sorenson video and MP3 sound: no MP4 can hold it
    QString changed_;
    QByteArray bundle_;
    QByteArray signature_;
};

// A JPEG picture drawn for the given key (a cover or an avatar).
QByteArray simPicture(const QString &key, int width, int height);
