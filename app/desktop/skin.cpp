#include "desktop/skin.h"

#include <QApplication>
#include <QFile>
#include <optional>

namespace {
std::optional<Skin> g_skin;

// The application's style sheet, set only when it changes: setting one restyles every widget.
void applySheet(const QString &sheet)
{
    if (qApp->styleSheet() != sheet)
        qApp->setStyleSheet(sheet);
}
}  // namespace

bool Skin::parse(const QString &text, Skin &out)
{
    out = Skin();
    enum { None, Colors, Style } section = None;
    QStringList style;
    for (const QString &rawLine : text.split(u'\n')) {
        const QString line = rawLine.trimmed();
        if (line == u"[colors]") {
            section = Colors;
            continue;
        }
        if (line == u"[style]") {
            section = Style;
            continue;
        }
        if (section == Style) {
            style.append(rawLine);
            continue;
        }
        if (line.isEmpty() || line.startsWith(u'#') || section != Colors)
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0)
            return false;
        const QColor color = QColor::fromString(line.mid(eq + 1).trimmed());
        if (!color.isValid())
            return false;
        out.colors.append({line.left(eq).trimmed(), color});
    }
    out.styleTemplate = style.join(u'\n');
    return section == Style;
}

QColor shiftColor(const QColor &color, int hue, int saturation, int brightness)
{
    float h, s, l, a;
    color.getHslF(&h, &s, &l, &a);
    if (h >= 0) {  // achromatic colours have no hue to turn
        h += hue / 360.0f;
        h -= std::floor(h);
    }
    s = std::clamp(s * (1.0f + saturation / 100.0f), 0.0f, 1.0f);
    l = std::clamp(
        brightness >= 0 ? l + (1.0f - l) * brightness / 100.0f : l * (1.0f + brightness / 100.0f), 0.0f, 1.0f);
    return QColor::fromHslF(h < 0 ? 0 : h, s, l, a);
}

QString Skin::styleSheet(int hue, int saturation, int brightness) const
{
    QString sheet = styleTemplate;
    for (const auto &[name, color] : colors)
        sheet.replace(u'@' + name + u'@', shiftColor(color, hue, saturation, brightness).name());
    return sheet;
}

bool SkinH_AttachEx(const QString &path, const QString &)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > qint64(1024) * 1024)
        return false;
    Skin skin;
    if (!Skin::parse(QString::fromUtf8(file.readAll()), skin))
        return false;
    g_skin = skin;
    applySheet(skin.styleSheet(0, 0, 0));
    return true;
}

void SkinH_AdjustHSV(int hue, int saturation, int brightness)
{
    if (g_skin)
        applySheet(g_skin->styleSheet(hue, saturation, brightness));
}
