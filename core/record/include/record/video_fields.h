// What is known of one extracted video: what its file name is made of, what its files beside
// it record, what the download list keeps.
#pragma once

#include <QString>

struct VideoFields {
    QString id;  // the share address after the page prefix ("10004")
    QString site;
    QString author;
    QString description;
    QString date;
    QString address;  // the share address
    QString link;     // the video's own address
    QString cover;
    QString uploaderUrl;  // the author's page the share page links to; empty when none
};
