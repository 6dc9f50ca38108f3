// The maker's side of description sets: packs a folder of descriptions and their examples
// into a bundle, and signs a file with a secret key file.
//
//   quorvin-sites-bundle pack SITES_DIR SET_VERSION DATE OUT
//   quorvin-sites-bundle sign SECRET_FILE FILE        (writes FILE.sig)
#include "sites/site_bundle.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <cstdio>

namespace {

bool save(const QString &path, const QByteArray &bytes)
{
    QSaveFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() && out.commit();
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int pack(const QStringList &a)
{
    sitebundle::SiteFiles set;
    bool number = false;
    set.version = a[3].toInt(&number);
    set.date = a[4];
    if (!number || set.version <= 0) {
        std::fprintf(stderr, "quorvin-sites-bundle: the set version is a whole number above 0\n");
        return 2;
    }
    set.files = sitebundle::filesIn(a[2]);  // each service's folder: NAME/NAME.toml, NAME/examples/...
    const QByteArray bundle = sitebundle::pack(set);
    QString why;
    if (!sitebundle::unpack(bundle, &why) || !save(a[5], bundle)) {
        std::fprintf(stderr, "quorvin-sites-bundle: cannot make %s: %s\n", qPrintable(a[5]), qPrintable(why));
        return 1;
    }
    std::printf("%s: set %d of %s, %lld files\n", qPrintable(a[5]), set.version, qPrintable(set.date),
        static_cast<long long>(set.files.size()));
    return 0;
}

int sign(const QStringList &a)
{
    const std::optional<QByteArray> signature = sitebundle::sign(readAll(a[3]), readAll(a[2]));
    if (!signature || !save(a[3] + QStringLiteral(".sig"), *signature + '\n')) {
        std::fprintf(stderr, "quorvin-sites-bundle: cannot sign %s with %s\n", qPrintable(a[3]), qPrintable(a[2]));
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList a = app.arguments();
    if (a.size() == 6 && a[1] == u"pack")
        return pack(a);
    if (a.size() == 4 && a[1] == u"sign")
        return sign(a);
    std::fprintf(stderr,
        "usage: quorvin-sites-bundle pack SITES_DIR SET_VERSION DATE OUT\n"
        "       quorvin-sites-bundle sign SECRET_FILE FILE\n");
    return 2;
}
