#pragma once

#include <QPixmap>
#include <QWidget>

// A PNG picture of the program's own, read as PNG.
QPixmap loadPng(const QString &path);
// A picture from the program's resources, in its "@2x" version on screens that show two
// pixels per unit (so that it stays sharp instead of being blown up).
QPixmap loadResourcePicture(const QString &path);

// A picture with transparency drawn over whatever lies beneath, stretched to the control's
// rectangle, with the notifications pointer-over, button-released-over and pointer-left.
class AlphaImage : public QWidget {
    Q_OBJECT
public:
    explicit AlphaImage(QWidget *parent = nullptr);

    void setPicture(const QPixmap &picture);
    // A picture from one of the program's resources, decoded when first needed (most of
    // them are not on screen at start-up, and decoding them all would delay the window).
    void setPictureResource(const QString &path);
    const QPixmap &picture() const;
    // Replaces the picture with the one in the file; false (picture kept) when it cannot load.
    bool LoadFromFile(const QString &path);
    void setLeft(double left);

signals:
    void MouseMove(int button, int shift, int x, int y);
    void MouseUp(int button, int shift, int x, int y);
    void MouseLeave();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    mutable QPixmap picture_;
    mutable QString pending_;  // resource still to be decoded into picture_
};
