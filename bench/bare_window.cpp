// The yardstick for start-up time and memory: the least a Qt Widgets program
// can be, one empty top-level window of comloop's size at comloop's place.
// With --caption it also shows one line of text, which is what it takes to
// bring up the font system before the window maps.
#include <QApplication>
#include <QLabel>
#include <QWidget>

#include <cstring>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare"));
    window.setGeometry(757, 223, 625, 563);
    if (argc > 1 && std::strcmp(argv[1], "--caption") == 0) {
        auto *caption = new QLabel(QStringLiteral("No data"), &window);
        caption->move(40, 216);
        caption->adjustSize();
    }
    window.show();
    return app.exec();
}
