// The yardstick for start-up time, memory and idle CPU: the least a Qt
// Widgets program can be, one empty top-level window of comloop's size at
// comloop's place. With --caption it also shows one line of text, which is
// what it takes to bring up the font system before the window maps; with
// --ticking that caption counts the seconds, as comloop's uptime does.
#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <cstring>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare"));
    window.setGeometry(757, 223, 625, 563);
    const bool ticking = argc > 1 && std::strcmp(argv[1], "--ticking") == 0;
    if (ticking || (argc > 1 && std::strcmp(argv[1], "--caption") == 0)) {
        auto *caption = new QLabel(QStringLiteral("0"), &window);
        caption->move(304, 8);
        caption->adjustSize();
        if (ticking) {
            auto *timer = new QTimer(&window);
            QObject::connect(timer, &QTimer::timeout, caption, [caption, seconds = 0]() mutable {
                caption->setText(QString::number(++seconds));
                caption->adjustSize();
            });
            timer->start(1000);
        }
    }
    window.show();
    return app.exec();
}
