// The skin layer: reads a "skinh.she" file (colours and a style sheet) and applies it to the
// whole application; the colour shift recolours the skin and applies it again.
#pragma once

#include <QColor>
#include <QList>
#include <QPair>
#include <QString>

struct Skin {
    QList<QPair<QString, QColor>> colors;
    QString styleTemplate;

    static bool parse(const QString &text, Skin &out);
    // The style sheet with every "@name@" replaced by its colour shifted by (hue, sat, bri).
    QString styleSheet(int hue, int saturation, int brightness) const;
};

// Attaches the skin in the file to the application. False (plain look kept) when the file is
// missing or unreadable. The password is accepted for compatibility and not used.
bool SkinH_AttachEx(const QString &path, const QString &password);
// Shifts the attached skin's colours: hue in degrees, saturation and brightness in percent.
void SkinH_AdjustHSV(int hue, int saturation, int brightness);

// Shifts one colour (exposed for tests).
QColor shiftColor(const QColor &color, int hue, int saturation, int brightness);
