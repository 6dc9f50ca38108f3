// The start-up baseline: a bare Qt Widgets window of the program's size.
#include <QApplication>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(777, 571);
    window.show();
    return app.exec();
}
