#include "virtual_cable.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>

#include <csignal>
#include <memory>
#include <utility>

#include <termios.h>

// The program as a user runs it: build/comloop on a real X server (Xvfb),
// driven by mouse and keyboard events, with COM3 and COM4 wired to cables
// whose far ends the test holds. What the window shows is read the way a
// screen reader reads it.
class TestEndToEnd : public QObject
{
    Q_OBJECT

    // Where the window's controls are on the screen: the window's client
    // area sits at 757,223 (no window manager draws a frame here).
    static QPoint Centre(int left, int top, int width, int height)
    {
        return {757 + left + width / 2, 223 + top + height / 2};
    }

    QString display_;
    QProcess xvfb_;
    QProcess program_;
    std::unique_ptr<ComLinks> links_;
    std::unique_ptr<PtyEnd> master_;
    std::unique_ptr<PtyEnd> slave_;

    QProcessEnvironment Environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display_);
        env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        return env;
    }

    QByteArray Run(const QString &program, const QStringList &arguments, int *exitCode = nullptr)
    {
        QProcess process;
        process.setProcessEnvironment(Environment());
        process.start(program, arguments);
        if (!process.waitForFinished(15000))
            process.kill();
        if (exitCode)
            *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        return process.readAllStandardOutput();
    }

    void Click(QPoint at)
    {
        Run(QStringLiteral("xdotool"),
            {QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
             QStringLiteral("click"), QStringLiteral("1")});
    }

    QStringList ShownLabels()
    {
        return QString::fromUtf8(Run(QStringLiteral(E2E_DIR "/labels.py"), {})).split('\n', Qt::SkipEmptyParts);
    }

    QStringList LocksOf(const QString &device)
    {
        const QString name = device.mid(5).replace('/', '_'); // /dev/pts/7 -> pts_7
        return QDir(QStringLiteral("/run/lock")).entryList({QStringLiteral("LCK..") + name});
    }

    // Starts the program as a user does, waits for its window and returns
    // the window's X id.
    QByteArray StartProgram()
    {
        program_.setProcessEnvironment(Environment());
        // A test runner started in the background may ignore INT, and the
        // program would rightly keep that; a user's terminal does not.
        program_.setChildProcessModifier([] {
            for (int sig : {SIGINT, SIGTERM, SIGHUP})
                std::signal(sig, SIG_DFL);
        });
        program_.start(QStringLiteral(COMLOOP_BINARY), {});
        if (!program_.waitForStarted())
            return {};
        return Run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--sync"),
                                               QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                                               QStringLiteral("^Form1$")})
            .trimmed();
    }

    void OpenPorts()
    {
        Click(Centre(240, 48, 105, 25));
        QVERIFY(WaitFor([&] { return !LocksOf(slave_->Device()).isEmpty(); }));
        QVERIFY(!LocksOf(master_->Device()).isEmpty());
    }

    // A virtual X screen of the given size on a free display; returns the
    // display's name once it takes clients, or nothing.
    static QString StartXvfb(QProcess &server, const QString &size)
    {
        // Xvfb picks the display itself and says which, so tests that run
        // side by side never reach for the same one. It keeps what a client
        // put on the root window (a work area) after that client left.
        server.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                              QStringLiteral("-screen"), QStringLiteral("0"),
                                              size + QStringLiteral("x24"), QStringLiteral("-nolisten"),
                                              QStringLiteral("tcp"), QStringLiteral("-noreset")});
        QByteArray number;
        while (!number.endsWith('\n') && server.waitForReadyRead(10000))
            number += server.readAllStandardOutput();
        return number.trimmed().isEmpty() ? QString() : QStringLiteral(":") + QString::fromLatin1(number.trimmed());
    }

private slots:
    void initTestCase()
    {
        display_ = StartXvfb(xvfb_, QStringLiteral("1600x1200"));
        QVERIFY(!display_.isEmpty());
        // Brings up the accessibility bus before the program starts, so the
        // program finds it and publishes its window.
        Run(QStringLiteral(E2E_DIR "/labels.py"), {});

        links_ = std::make_unique<ComLinks>();
        master_ = std::make_unique<PtyEnd>();
        slave_ = std::make_unique<PtyEnd>();
        links_->Map(3, master_->Device());
        links_->Map(4, slave_->Device());
    }

    void cleanupTestCase()
    {
        if (program_.state() != QProcess::NotRunning) {
            program_.kill();
            program_.waitForFinished();
        }
        xvfb_.terminate();
        xvfb_.waitForFinished();
    }

    void userRunsOneMeasurement()
    {
        const QByteArray window = StartProgram();
        QVERIFY(!window.isEmpty());
        QVERIFY(WaitFor([&] { return ShownLabels().contains(QStringLiteral("No data")); }, 10000));
        QVERIFY(ShownLabels().contains(QStringLiteral("31111")));

        OpenPorts();
        QVERIFY(!ShownLabels().contains(QStringLiteral("The port can not open")));

        Click(Centre(408, 152, 121, 30)); // the value to transmit
        Run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+a")});
        Run(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("1000")});
        // Measure from the keyboard: Tab to it, then Return; and the keypad's
        // Enter presses it as well.
        Run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Tab"), QStringLiteral("Return")});
        QCOMPARE(slave_->Read(12, 5000), QByteArray("Bizzard?03E8"));
        Run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("KP_Enter")});
        QCOMPARE(slave_->Read(12, 5000), QByteArray("Bizzard?03E8"));

        master_->Write("Bizzard?7D00");
        QVERIFY2(WaitFor([&] { return ShownLabels().contains(QStringLiteral("32000")); }, 10000),
                 qPrintable(ShownLabels().join(", ")));
        QVERIFY(!ShownLabels().contains(QStringLiteral("No data")));

        // The close button: the ports are closed and their locks gone.
        int closed = -1;
        Run(QStringLiteral(E2E_DIR "/close_window.py"), {QString::fromLatin1(window)}, &closed);
        QCOMPARE(closed, 0);
        QVERIFY(program_.waitForFinished(10000));
        QCOMPARE(program_.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program_.exitCode(), 0);
        QVERIFY(LocksOf(master_->Device()).isEmpty());
        QVERIFY(LocksOf(slave_->Device()).isEmpty());
    }

    // On a desktop the window's outer rectangle, frame included, is the one
    // its layout gives, whatever frame the window manager draws; on a screen
    // too small to show it there it moves just far enough to show all of it,
    // and on one smaller than the window it shrinks to the screen. A work
    // area that starts right of its place (a panel down the left edge) has
    // it move right onto it.
    void windowOnTheDesktop_data()
    {
        QTest::addColumn<QString>("screen");
        QTest::addColumn<bool>("windowManager");
        QTest::addColumn<QByteArray>("setting"); // NAME=value for the program's environment
        QTest::addColumn<QRect>("workArea");     // empty: the whole screen
        QTest::addColumn<QRect>("outer");        // empty: anywhere that shows all of it
        QTest::newRow("framed") << "1600x1200" << true << QByteArray() << QRect() << QRect(757, 223, 625, 563);
        QTest::newRow("framed, laptop screen")
            << "1366x768" << true << QByteArray() << QRect() << QRect(741, 205, 625, 563);
        QTest::newRow("no frame, laptop screen")
            << "1366x768" << false << QByteArray() << QRect() << QRect(741, 205, 625, 563);
        QTest::newRow("no frame, small screen") << "600x480" << false << QByteArray() << QRect() << QRect(0, 0, 600, 480);
        QTest::newRow("no frame, a work area that starts right of the window")
            << "1600x1200" << false << QByteArray() << QRect(800, 0, 800, 1200) << QRect(800, 223, 625, 563);
        QTest::newRow("framed, large fonts")
            << "1600x1200" << true << QByteArray("QT_FONT_DPI=144") << QRect() << QRect();
        QTest::newRow("framed, scaled on a small screen")
            << "1024x768" << true << QByteArray("QT_SCALE_FACTOR=2") << QRect() << QRect();
    }
    void windowOnTheDesktop()
    {
        QFETCH(QString, screen);
        QFETCH(bool, windowManager);
        QFETCH(QByteArray, setting);
        QFETCH(QRect, workArea);
        QFETCH(QRect, outer);
        QProcess xvfb;
        QProcess openbox;
        const QString display = StartXvfb(xvfb, screen);
        QVERIFY(!display.isEmpty());
        const auto stop = qScopeGuard([&] {
            for (QProcess *process : {&program_, &openbox, &xvfb}) {
                process->terminate();
                process->waitForFinished();
            }
        });
        const QString shared = std::exchange(display_, display);
        const auto back = qScopeGuard([&] { display_ = shared; });
        if (windowManager) {
            openbox.setProcessEnvironment(Environment());
            openbox.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
            int running = -1;
            Run(QStringLiteral(E2E_DIR "/frame.py"), {QStringLiteral("--wm")}, &running);
            QCOMPARE(running, 0);
        }
        if (!workArea.isEmpty()) {
            int published = -1;
            Run(QStringLiteral(E2E_DIR "/work_area.py"),
                {QString::number(workArea.x()), QString::number(workArea.y()), QString::number(workArea.width()),
                 QString::number(workArea.height())},
                &published);
            QCOMPARE(published, 0);
        }
        const QByteArray name = setting.left(setting.indexOf('='));
        if (!setting.isEmpty())
            qputenv(name.constData(), setting.mid(name.size() + 1));
        const QByteArray window = StartProgram();
        if (!setting.isEmpty())
            qunsetenv(name.constData());
        QVERIFY(!window.isEmpty());

        const QStringList size = screen.split(QLatin1Char('x'));
        const QRect desk(0, 0, size[0].toInt(), size[1].toInt());
        QRect seen;
        const auto settled = [&] {
            const QStringList at = QString::fromLatin1(Run(QStringLiteral(E2E_DIR "/frame.py"),
                                                           {QString::fromLatin1(window)}))
                                       .split(QLatin1Char(' '));
            if (at.size() == 4)
                seen = QRect(at[0].toInt(), at[1].toInt(), at[2].toInt(), at[3].toInt());
            return outer.isEmpty() ? desk.contains(seen) : seen == outer;
        };
        QVERIFY2(WaitFor(settled, 5000), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                        .arg(seen.x()).arg(seen.y())
                                                        .arg(seen.width()).arg(seen.height())));
    }

    // A session that ends (logout, a closed terminal, Ctrl-C) closes the
    // window as its close button does: exit status 0, no lock left, and the
    // lines set back the way the program found them.
    void sessionEndClosesCleanly_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("TERM") << int(SIGTERM);
        QTest::newRow("INT") << int(SIGINT);
        QTest::newRow("HUP") << int(SIGHUP);
    }
    void sessionEndClosesCleanly()
    {
        QFETCH(int, signal);
        // Not the settings the program uses, so a line left at 9600 raw shows.
        termios before[2];
        for (int side = 0; side < 2; ++side) {
            const int fd = (side ? slave_ : master_)->FarSide();
            termios cooked{};
            QCOMPARE(::tcgetattr(fd, &cooked), 0);
            cooked.c_lflag |= ICANON | ECHO | ISIG;
            cooked.c_oflag |= OPOST;
            ::cfsetspeed(&cooked, B38400);
            QCOMPARE(::tcsetattr(fd, TCSANOW, &cooked), 0);
            QCOMPARE(::tcgetattr(fd, &before[side]), 0);
        }

        QVERIFY(!StartProgram().isEmpty());
        OpenPorts();
        QCOMPARE(::kill(pid_t(program_.processId()), signal), 0);
        QVERIFY(program_.waitForFinished(10000));
        QCOMPARE(program_.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program_.exitCode(), 0);
        QVERIFY(LocksOf(master_->Device()).isEmpty());
        QVERIFY(LocksOf(slave_->Device()).isEmpty());
        for (int side = 0; side < 2; ++side) {
            termios after{};
            QCOMPARE(::tcgetattr((side ? slave_ : master_)->FarSide(), &after), 0);
            QCOMPARE(after.c_iflag, before[side].c_iflag);
            QCOMPARE(after.c_oflag, before[side].c_oflag);
            QCOMPARE(after.c_cflag, before[side].c_cflag);
            QCOMPARE(after.c_lflag, before[side].c_lflag);
            QCOMPARE(::cfgetospeed(&after), ::cfgetospeed(&before[side]));
        }
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
