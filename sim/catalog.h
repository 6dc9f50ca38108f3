// The simulated services: their share pages, interface answers, pictures and videos, all
// built from one host table so that the pages hold exactly the addresses the program reads.
#pragma once

#include "http_server.h"
#include "record/hosts.h"

#include <QList>
#include <QString>
#include <QUrlQuery>
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
    QString authorUid = {};  // the id of the author whose page lists it (set by the catalogue)
};

// A user of a service with a page of works. Works are listed newest first: the catalogue
// video `firstVideo` (when set), then works made up from the author on demand.
struct SimAuthor {
    int site;
    QString uid;  // unique across the services: shared paths (/user/, /u/) are told apart by it
    QString name;
    int works;  // how many works the page lists
    // Made-up works have ids from generated * 10000 + 1; 0 for none. No two authors' ranges
    // of ids meet.
    int generated;
    QString firstVideo;
    bool gone = false;  // the account is gone: 404 for its page, "not found" from the interfaces
};

class Catalog {
public:
    static constexpr qint64 BigClipSize = 64LL * 1024 * 1024;

    explicit Catalog(const Hosts &hosts);

    const QList<SimVideo> &videos() const { return videos_; }
    // Authors by service, each in the order 3 works, 45, 1,000, none, gone, then one each;
    // the benchmark's author last.
    const QList<SimAuthor> &authors() const { return authors_; }
    // Adds the 美拍 author 8000, 基准作者, with this many made-up works (at most
    // MaxBenchWorks), to time and weigh long listings.
    void addBenchAuthor(int works);
    static constexpr int MaxBenchWorks = 1000000;
    // The share address a user pastes for a video.
    QString shareAddress(const SimVideo &video) const;
    // Every share address, in catalogue order.
    QStringList shareAddresses() const;
    // The address of an author's page.
    QString authorAddress(const SimAuthor &author) const;
    // One line per author: its address, two spaces, and a comment ("# 美拍 连载小剧场 45").
    QStringList authorLines() const;

    HttpResponse answer(const HttpRequest &request) const;

    // The pages of a service as they are after a change ("meipai": the author moved from
    // <a class="name"> to <span class="nick">).
    void setSiteChanged(const QString &site) { changed_ = site; }
    // Author pages and works interfaces answer this many milliseconds late (for benchmarks).
    void setHoldMs(int ms) { holdMs_ = ms; }
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
    // A catalogue video or an author's made-up work.
    std::optional<SimVideo> find(int site, const QString &id) const;

    // In authors.cpp.
    void addAuthors();
    const SimAuthor *author(const QString &uid) const;
    std::optional<SimVideo> generatedWork(int site, const QString &id) const;
    SimVideo generatedWork(const SimAuthor &a, int i) const;
    QList<SimVideo> works(const SimAuthor &a, qint64 from, int count) const;
    QString coverAddress(const SimVideo &v) const;
    QString authorPage(const SimAuthor &a, const QString &body) const;
    std::optional<HttpResponse> authorAnswer(const QString &path, const QUrlQuery &query) const;
    HttpResponse authorHtml(const SimAuthor *a, const QUrlQuery &query) const;
    HttpResponse meipaiAuthor(const SimAuthor &a, const QUrlQuery &query) const;
    HttpResponse weishiAuthor(const SimAuthor &a, const QUrlQuery &query) const;
    HttpResponse weipaiWorks(const SimAuthor *a, const QUrlQuery &query) const;
    HttpResponse kuaishouWorks(const SimAuthor *a, const QUrlQuery &query) const;
    HttpResponse miaopaiWorks(const SimAuthor *a, const QUrlQuery &query) const;

    Hosts h_;
    QList<SimVideo> videos_;
    QList<SimAuthor> authors_;
    int holdMs_ = 0;
    QByteArray mp4_;
    QByteArray flv_;
    QByteArray oldFlv_;  // Sorenson video and MP3 sound: no MP4 can hold it
    QString changed_;
    QByteArray bundle_;
    QByteArray signature_;
};

// The scheme and host of a prefix ("http://127.0.0.1:18605/weishi_pic/0/" -> "http://127.0.0.1:18605").
QString simOrigin(const QString &prefix);

// A JPEG picture drawn for the given key (a cover or an avatar).
QByteArray simPicture(const QString &key, int width, int height);
