// The start-up baseline: a bare Qt Widgets window of the program's size; with --chinese it
// also shows one line of Chinese text (which loads a CJK font, as every window of ours must).
#include <QApplication>
#include <QLabel>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(777, 571);
    if (app.arguments().contains(QStringLiteral("--chinese"))) {
        QFont::insertSubstitution(QStringLiteral("宋体"), QStringLiteral("WenQuanYi Micro Hei"));
        auto *label = new QLabel(QStringLiteral("请在此粘贴您要获取的微视视频页面地址"), &window);
        label->setFont(QFont(QStringLiteral("宋体")));
    }
    window.show();
    return app.exec();
}
