// The baseline for the launch time: a bare Qt window the size of the splash, nothing else.

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    window.setFixedSize(300, 100);
    window.show();
    return QApplication::exec();
}
