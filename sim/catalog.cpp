#include "catalog.h"

#include "sites/site_registry.h"

#include "extract/address_check.h"
#include "sites/sites.h"

#include <QFile>
#include <QUrl>
#include <QUrlQuery>

QString simOrigin(const QString &prefix)
{
    const qsizetype slash = prefix.indexOf(u'/', 7);
    return slash < 0 ? prefix : prefix.left(slash);
}

namespace {

QByteArray readMedia(const QString &name)
{
    QFile file(QStringLiteral(":/sim/media/") + name);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

QString escapeSlashes(QString link)
{
    return link.replace(u'/', QStringLiteral("\\/"));
}

}  // namespace

Catalog::Catalog(const Hosts &hosts)
    : h_(hosts), mp4_(readMedia("sample.mp4")), flv_(readMedia("sample.flv")), oldFlv_(readMedia("old-codec.flv"))
{
    videos_ = {
        {Weishi, "wsv1001", "小鱼儿", "今天的  晚霞\r\n太美了 #随手拍# 分享给大家", "2014-03-15 18:42", true},
        {Weishi, "wsv1002", "Quorvin", "新版本的视频助手 发布啦 ，欢迎 试用", "2014-04-02 09:10", false},
        {Weishi, "wsv1003", "阿狸爱旅行", "", "2014-05-20 21:05", false},
        {Meipai, "10001", "美拍小达人", "夏天就要去海边，一起来玩水吧！", "2015-07-08 18:00", false},
        {Meipai, "10002", "会跳舞的猫咪酱", "周末在家练舞，累并快乐着～", "2015-07-12 10:30", false},
        {Meipai, "10003", "阿甘", "下雨天", "2015-08-01 16:45", false},
        {Kuaishou, "5001", "快手老铁", "今天去爬山 山顶的风真大", "2015-06-01 12:00", false},
        {Kuaishou, "5002", "东北大花袄", "给大家表演一个绝活儿，看好了啊！看好了啊！", "2015-06-03 20:18", false},
        {Kuaishou, "5003", "小明同学", "放学路上", "2015-06-09 17:26", false},
        {Weipai, "wp8001", "微拍小王", "第一次用微拍，拍一下我家的狗", "2014-08-08 08:08", false},
        {Weipai, "wp8002", "摄影师老李", "城市夜景延时摄影，耗时三个小时", "2014-08-15 23:40", false},
        {Weipai, "wp8003", "甜甜圈", "", "2014-09-01 12:12", false},
        {Miaopai, "mp3001", "秒拍达人", "和<a href=\"http://weibo.com/u/1\">@小伙伴</a>一起去爬山<br/>风景超棒",
            "2015-03-03", true},
        {Miaopai, "mp3002", "Quorvin官方", "10秒钟教你做<A HREF=\"http://t.cn/abc\">番茄炒蛋</A>", "2015-03-10", false},
        {Miaopai, "mp3003", "路人甲", "  街头偶遇 ", "2015-03-18", false},
        // Its clip is the large one (see bigClip), to watch a download's progress.
        {Meipai, "10004", "航拍中国", "一镜到底 飞越长江三峡（高清大文件）", "2015-09-09 09:09", false},
        // The converter's failure paths, unlisted: an FLV of the old Sorenson codec, and one cut
        // off halfway (its header still announces the whole length).
        {Weipai, "wp8004", "老用户", "十年前的老视频", "2009-09-09 09:09", false, false},
        {Weipai, "wp8005", "断网了", "只传了一半的视频", "2014-10-10 10:10", false, false},
    };
    addAuthors();
}

HttpResponse Catalog::bigClip() const
{
    // The sample clip followed by one MP4 "free" box that fills it up to BigClipSize: players
    // skip free boxes, so it stays playable. Made on the fly, a piece at a time.
    const QByteArray head = mp4_;
    const qint64 boxSize = BigClipSize - head.size();
    QByteArray boxHeader(8, '\0');
    for (int i = 0; i < 4; ++i)
        boxHeader[i] = char((boxSize >> (8 * (3 - i))) & 0xff);
    boxHeader.replace(4, 4, "free");
    const QByteArray start = head + boxHeader;
    HttpResponse r;
    r.contentType = "video/mp4";
    r.sourceSize = BigClipSize;
    // Each connection held to 2 MiB/s, as video servers often do: 32 s on one connection,
    // about 8 s on four. Its validators let a download fetch ranges of it at once.
    r.bytesPerSecond = qint64(2) * 1024 * 1024;
    r.headers = {{"ETag", "\"big-10004\""}, {"Last-Modified", "Wed, 09 Sep 2015 09:09:00 GMT"}};
    r.source = [start](qint64 offset, qint64 length) {
        QByteArray piece(length, '\0');
        if (offset < start.size()) {
            const QByteArray known = start.mid(offset, length);
            piece.replace(0, known.size(), known);
        }
        return piece;
    };
    return r;
}

QString Catalog::shareAddress(const SimVideo &v) const
{
    switch (v.site) {
    case Weishi: return sitePrefix(Weishi, QStringLiteral("page"), h_) + "/" + v.id;
    case Kuaishou: return sitePrefix(Kuaishou, QStringLiteral("page"), h_) + "/" + v.id;
    case Miaopai: return sitePrefix(Miaopai, QStringLiteral("page"), h_) + v.id + ".htm";
    default: return pagePrefix(v.site, h_) + v.id;
    }
}

QStringList Catalog::shareAddresses() const
{
    QStringList out;
    for (const SimVideo &v : videos_) {
        if (v.listed)
            out << shareAddress(v);
    }
    return out;
}

std::optional<SimVideo> Catalog::find(int site, const QString &id) const
{
    for (const SimVideo &v : videos_) {
        if (v.site == site && v.id == id)
            return v;
    }
    return generatedWork(site, id);
}

QString Catalog::page(const SimVideo &v) const
{
    switch (v.site) {
    case Weishi: return weishiPage(v);
    case Meipai: return meipaiPage(v);
    case Kuaishou: return kuaishouPage(v);
    case Weipai: return weipaiPage(v);
    default: return miaopaiPage(v);
    }
}

QString Catalog::weishiPage(const SimVideo &v) const
{
    const QString pictures = simOrigin(sitePrefix(Weishi, QStringLiteral("cover"), h_));
    return QStringLiteral(R"(<!DOCTYPE html>
<html lang="zh-CN"><head><meta charset="utf-8"><title>%1的微视</title>
<meta name="keywords" content="微视,短视频,%1"><link rel="stylesheet" href="/css/weishi.css"></head>
<body><div class="header"><a class="logo" href="/">腾讯微视</a><span class="slogan">8秒，最好玩的短视频</span></div>
<div class="main"><div class="userInfo">
<a href="/u/%7"><img class="headPic" onerror="errImgHeadLoad" src="%3/head/%2.jpg" title="%1" /></a>
<span class="nick">%1</span>%4</div>
<div class="vBox js_player" id="%2" data-type="video"><div class="vCover"></div></div>
<div id="message" class="msgCnt">%5</div>
<div class="msgInfo"><span class="time c_tx3">%6</span><span class="from">来自 iPhone 客户端</span></div>
<div class="actions"><a href="#">转播</a> <a href="#">评论</a> <a href="#">收藏</a></div></div>
<div class="footer">Copyright &copy; 1998 - 2014 Tencent. All Rights Reserved.</div></body></html>)")
        .arg(v.author, v.id, pictures,
            v.verified ? QStringLiteral("<i class=\"icon_vip\" title=\"认证用户\"></i>") : QString(), v.description,
            v.date, v.authorUid);
}

QString Catalog::meipaiPage(const SimVideo &v) const
{
    const QString site = simOrigin(sitePrefix(Meipai, QStringLiteral("page"), h_));
    return QStringLiteral(R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>%1的美拍 - 美拍</title><link rel="stylesheet" href="/css/mp.css"></head>
<body><div id="header"><a href="/">美拍</a> <a href="/squares">热门</a></div>
<div class="detail-video"><div id="detailVideo" class="mp-h5-player" data-video="%2/mvvideo/%3.mp4">
<img id="video_img" src="%2/cover/%3.jpg" alt="%1的美拍" width="400" height="400"></div></div>
<div class="detail-author"><a href="/user/%8"><img src="%4/avatar/%3.jpg!thumb60" class="avatar" width="60"></a>
%7</div>
<h1 class="description br">%5</h1>
<div class="detail-info"><span class="date">%6</span> <span class="play-count">播放 1.2万</span></div>
<div id="footer">&copy; 2015 美图公司</div></body></html>)")
        .arg(v.author, site, v.id, sitePrefix(Meipai, QStringLiteral("avatar"), h_), v.description, v.date,
            changed_ == u"meipai"
                ? QStringLiteral("<span class=\"nick\">%1</span>").arg(v.author)
                : QStringLiteral("<a href=\"/user/%1\" class=\"name\">%2</a>").arg(v.authorUid, v.author),
            v.authorUid);
}

QString Catalog::kuaishouPage(const SimVideo &v) const
{
    const QString site = simOrigin(sitePrefix(Kuaishou, QStringLiteral("page"), h_));
    QString html = QStringLiteral(R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>%1的作品 - GIF快手</title>
<script src="%2/js/jquery.min.js"></script></head>
<body><div class="top"><img src="%2/img/logo.png" alt="快手"></div>
<div class="photo-box">
<div id="qqzone_web">
<span>%1:%3</span><a href="/i/user/%6"><img src="%2/head/%4.jpg"></a></div>
<div class="info"><span class="likes">赞 128</span><span style="color:#999;white-space:nowrap;"> %5 </span></div>
<video id="video" width="480" height="480" poster="%2/upic/%4.jpg" src="%2/photo/%4.mp4" controls></video>
</div><div class="bottom">下载快手，看更多精彩视频</div></body></html>)")
                       .arg(v.author, site, v.description, v.id, v.date, v.authorUid);
    return html.replace(u'\n', QStringLiteral("\r\n"));
}

QString Catalog::weipaiPage(const SimVideo &v) const
{
    const QString site = simOrigin(sitePrefix(Weipai, QStringLiteral("page"), h_));
    return QStringLiteral(R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>%1的视频 - 微拍</title>
<script type="text/javascript">var video_info = {vid:"%2", pic:"%3/cover/%2.jpg", width:480, height:480};)"
                          R"(</script></head>
<body><div class="nav"><a href="/">微拍</a></div>
<h1 class="hide">%1的视频</h1>
<div class="player"><div id="flashPlayer"></div></div>
<div class="user"><a href="/user/%6"><img src="%4/%2.jpg" class="head" width="48"></a><span class="nick">%1</span>
<span class="date">%5</span></div>
<div class="footer">&copy; 2014 微拍</div></body></html>)")
        .arg(v.author, v.id, site, sitePrefix(Weipai, QStringLiteral("avatar"), h_), v.date, v.authorUid);
}

QString Catalog::miaopaiPage(const SimVideo &v) const
{
    return QStringLiteral(R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>%1的秒拍视频</title></head>
<body><div class="header"><a href="/">秒拍</a></div>
<div class="box"><div class="hd"><a href="/u/%7"><img src="%3/avatar/%2.jpg" width="50" height="50"></a>%4
<span class="name">%1</span></div>
<div class="video_box"><div id="video"></div></div>
<div class="intro"><p>%5</p></div>
<div class="time"><h2><b>%6&nbsp;</b>发布</h2></div></div>
<div class="footer"><p>&copy; 2015 秒拍</p></div></body></html>)")
        .arg(v.author, v.id, sitePrefix(Miaopai, QStringLiteral("avatar"), h_),
            v.verified ? QStringLiteral("<img class=\"v\" src=\"/img/v.png\" title=\"新浪认证\">") : QString(),
            v.description, v.date, v.authorUid);
}

QString Catalog::indexPage() const
{
    QString html =
        QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>服务模拟器</title></head>"
                       "<body><h1>QuorvinAPP视频助手 · 服务模拟器</h1><p>把下面任一地址粘贴到视频助手里。</p>");
    for (int site = 0; site < SiteCount; ++site) {
        html += "<h2>" + siteCaption(site) + "</h2><ul>";
        for (const SimVideo &v : videos_) {
            if (v.site == site && v.listed)
                html += "<li><a href=\"" + shareAddress(v) + "\">" + shareAddress(v) + "</a> " +
                    v.author.toHtmlEscaped() + "</li>";
        }
        html += "</ul><h3>作者主页</h3><ul>";
        for (const SimAuthor &a : authors_) {
            if (a.site != site)
                continue;
            const QString address = authorAddress(a);
            html += "<li><a href=\"" + address + "\">" + address + "</a> " +
                (a.gone ? QStringLiteral("（已注销，404）")
                        : a.name.toHtmlEscaped() + QStringLiteral("（%1 个作品）").arg(a.works)) +
                "</li>";
        }
        html += "</ul>";
    }
    return html + "</body></html>";
}

// The maker's pages: the version file, the published description set, the forum, the
// guestbook.
std::optional<HttpResponse> Catalog::makerPage(const QString &path) const
{
    const auto html = [](const QString &text) { return HttpResponse::text(text.toUtf8()); };
    if (path == u"/version.txt")
        return HttpResponse::text("V1.0", "text/plain");
    if (path == u"/sites.bundle" && !bundle_.isEmpty())
        return HttpResponse::text(bundle_, "application/octet-stream");
    if (path == u"/sites.bundle.sig" && !signature_.isEmpty())
        return HttpResponse::text(signature_, "text/plain");
    if (path == u"/forum" || path == u"/forum/")
        return html(QStringLiteral("<html><head><meta charset=\"utf-8\"><title>Quorvin论坛</title></head>"
                                   "<body><h1>Quorvin论坛</h1><p>原创免费软件下载与交流。</p></body></html>"));
    if (path == u"/guestbook.html")
        return html(QStringLiteral(
            "<html><head><meta charset=\"utf-8\"><title>在线反馈</title></head>"
            "<body><h1>在线反馈</h1><form><textarea></textarea><button>提交</button></form></body></html>"));
    return std::nullopt;
}

HttpResponse Catalog::answer(const HttpRequest &request) const
{
    const QString path = QUrl::fromPercentEncoding(request.path());
    const auto html = [](const QString &text) { return HttpResponse::text(text.toUtf8()); };
    const auto pageOf = [&](int site, const QString &id) {
        const std::optional<SimVideo> v = find(site, id);
        return v ? html(page(*v)) : HttpResponse::notFound();
    };

    if (path == u"/mvvideo/10004.mp4")
        return bigClip();
    if (path.endsWith(u".mp4"))
        return HttpResponse::text(mp4_, "video/mp4");
    if (path.endsWith(u"/wp8004.flv"))
        return HttpResponse::text(oldFlv_, "video/x-flv");
    if (path.endsWith(u"/wp8005.flv"))
        return HttpResponse::text(flv_.left(flv_.size() / 2), "video/x-flv");
    if (path.endsWith(u".flv"))
        return HttpResponse::text(flv_, "video/x-flv");
    if (path.endsWith(u".jpg") || path.endsWith(u".jpg!thumb60") || path.endsWith(u"_1/480")) {
        const bool avatar = path.contains(u"/head/") || path.contains(u"/avatar/") || path.contains(u"thumb60");
        return HttpResponse::text(simPicture(path, avatar ? 100 : 480, avatar ? 100 : 480), "image/jpeg");
    }
    if (path == u"/" || path == u"/index.html")
        return html(indexPage());
    if (std::optional<HttpResponse> maker = makerPage(path))
        return *maker;
    if (std::optional<HttpResponse> author = authorAnswer(path, QUrlQuery(QUrl::fromEncoded(request.target).query())))
        return *author;
    if (path == u"/weishi/video/downloadVideo.php") {
        const QString id = QUrlQuery(QUrl::fromEncoded(request.target).query()).queryItemValue("vid");
        if (!find(Weishi, id))
            return html(QStringLiteral("{\"ret\":-1,\"msg\":\"video not found\"}"));
        const QString link = "http://" + h_.host(QStringLiteral("WEISHI_VIDEO_CDN_HOST")) + "/weishi/" + id +
            ".mp4?vkey=8F2A" + id + "&br=320&fmt=mp4";
        return HttpResponse::text(
            ("{\"ret\":0,\"data\":{\"url\":[\"" + escapeSlashes(link) + "\"],\"vid\":\"" + id + "\"}}").toUtf8(),
            "application/json");
    }
    if (path.startsWith(u"/api/weipai/video/")) {
        const std::optional<SimVideo> v = find(Weipai, path.mid(18));
        if (!v)
            return HttpResponse::text("{\"state\":0}", "application/json");
        const QString link = simOrigin(sitePrefix(Weipai, QStringLiteral("api"), h_)) + "/media/" + v->id;
        return HttpResponse::text(
            ("{\"state\":1,\"video\":{\"url\":\"" + link + "\",\"desc\":\"" + v->description + "\",\"length\":2}}")
                .toUtf8(),
            "application/json");
    }
    if (path.startsWith(u"/t/"))
        return pageOf(Weishi, path.mid(3));
    if (path.startsWith(u"/media/"))
        return pageOf(Meipai, path.mid(7));
    if (path.startsWith(u"/i/photo/"))
        return pageOf(Kuaishou, path.mid(9));
    if (path.startsWith(u"/video/"))
        return pageOf(Weipai, path.mid(7));
    if (path.startsWith(u"/show/") && path.endsWith(u".htm"))
        return pageOf(Miaopai, path.mid(6).chopped(4));
    return HttpResponse::notFound();
}
