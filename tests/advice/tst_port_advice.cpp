#include "port_advice.h"

#include <QTest>
#include <QTextDocument>

Q_DECLARE_METATYPE(RouteFacts)
Q_DECLARE_METATYPE(FailureFacts)

namespace {

const QString home = QStringLiteral("/home/ann");
const QString folder = QStringLiteral("/home/ann/.config/comloop");

FailureFacts Failure(RouteFacts route, QSerialPort::SerialPortError kind, const QString &reason,
                     QStringList devices = {})
{
    return {std::move(route), kind, reason, std::move(devices), folder};
}

} // namespace

class TestPortAdvice : public QObject
{
    Q_OBJECT

private slots:
    void routeHint_data()
    {
        QTest::addColumn<RouteFacts>("facts");
        QTest::addColumn<QString>("hint");
        QTest::newRow("linked adapter")
            << RouteFacts{3, "/dev/ttyUSB0", folder + "/com3", true}
            << QString::fromUtf8("COM3 → /dev/ttyUSB0 (via ~/.config/comloop/com3)");
        QTest::newRow("built-in uart") << RouteFacts{3, "/dev/ttyS2", {}, true}
                                       << QString::fromUtf8("COM3 → /dev/ttyS2");
        QTest::newRow("missing uart") << RouteFacts{12, "/dev/ttyS11", {}, false}
                                      << QString::fromUtf8("COM12 → /dev/ttyS11 (no such device)");
        QTest::newRow("dangling link")
            << RouteFacts{4, "/dev/ttyUSB9", folder + "/com4", false}
            << QString::fromUtf8("COM4 → /dev/ttyUSB9 (via ~/.config/comloop/com4; no such device)");
        QTest::newRow("link outside home")
            << RouteFacts{3, "/dev/pts/7", "/tmp/comloop.x/comloop/com3", true}
            << QString::fromUtf8("COM3 → /dev/pts/7 (via /tmp/comloop.x/comloop/com3)");
        QTest::newRow("zero") << RouteFacts{0, {}, {}, false}
                              << QStringLiteral("COM0 names no port: COM numbers start at 1");
        QTest::newRow("negative") << RouteFacts{-2147483647 - 1, {}, {}, false}
                                  << QStringLiteral("COM-2147483648 names no port: COM numbers start at 1");
    }
    void routeHint()
    {
        QFETCH(RouteFacts, facts);
        QFETCH(QString, hint);
        QCOMPARE(RouteHint(facts, home), hint);
    }

    void shortPath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("home");
        QTest::addColumn<QString>("shown");
        QTest::newRow("inside") << "/home/ann/.config/comloop/com3" << "/home/ann" << "~/.config/comloop/com3";
        QTest::newRow("prefix only") << "/home/anna/com3" << "/home/ann" << "/home/anna/com3";
        QTest::newRow("root home") << "/root/.config/comloop/com3" << "/root" << "~/.config/comloop/com3";
        QTest::newRow("home is /") << "/dev/ttyS0" << "/" << "/dev/ttyS0";
        QTest::newRow("no home") << "/dev/ttyS0" << "" << "/dev/ttyS0";
    }
    void shortPath()
    {
        QFETCH(QString, path);
        QFETCH(QString, home);
        QFETCH(QString, shown);
        QCOMPARE(ShortPath(path, home), shown);
    }

    // Every kind of failure leads with the system's reason and names the
    // fix that belongs to it, and never the fix of another kind.
    void failureHint_data()
    {
        QTest::addColumn<FailureFacts>("facts");
        QTest::addColumn<QStringList>("says");
        QTest::addColumn<QStringList>("neverSays");

        const RouteFacts usb{3, "/dev/ttyUSB0", folder + "/com3", true};
        const QStringList dialout{"dialout", "sudo usermod -aG dialout $USER", "log in again"};
        const QString busy = QStringLiteral("Another program holds this port");

        QTest::newRow("permission denied")
            << Failure(usb, QSerialPort::PermissionError, "Permission denied")
            << (QStringList{"COM3 (/dev/ttyUSB0): Permission denied.\n"} + dialout)
            << QStringList{busy, "ln -sfn"};
        QTest::newRow("locked by another program")
            << Failure(usb, QSerialPort::PermissionError, "Permission error while locking the device")
            << QStringList{"COM3 (/dev/ttyUSB0): Permission error while locking the device.\n", busy,
                           "fuser -v /dev/ttyUSB0"}
            << QStringList{"usermod"};
        QTest::newRow("lock of a program outside Qt")
            << Failure(usb, QSerialPort::PermissionError, "/dev/ttyUSB0 is locked by process 4242 (minicom)")
            << QStringList{"locked by process 4242 (minicom).", busy} << QStringList{"usermod"};
        QTest::newRow("opened for exclusive use")
            << Failure(usb, QSerialPort::PermissionError, "Device or resource busy")
            << QStringList{"Device or resource busy.", busy} << QStringList{"usermod"};
        QTest::newRow("dangling link, adapters present")
            << Failure({3, "/dev/ttyUSB9", folder + "/com3", false}, QSerialPort::DeviceNotFoundError,
                       "No such file or directory",
                       {"/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0"})
            << QStringList{"COM3 (/dev/ttyUSB9): No such file or directory.\n",
                           "COM3 leads to /dev/ttyUSB9 through ~/.config/comloop/com3.",
                           "Serial devices present now: /dev/ttyUSB0, "
                           "/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0.",
                           "ln -sfn /dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0 ~/.config/comloop/com3"}
            << QStringList{"usermod", busy, "plugged in?"};
        QTest::newRow("no uart, no adapters")
            << Failure({5, "/dev/ttyS4", {}, false}, QSerialPort::DeviceNotFoundError,
                       "No such file or directory")
            << QStringList{"COM5 has no link in ~/.config/comloop, so it leads to the built-in port /dev/ttyS4.",
                           "/dev/ttyUSB*", "/dev/ttyACM*", "/dev/serial/by-id/*", "plugged in?",
                           "mkdir -p ~/.config/comloop", "~/.config/comloop/com5"}
            << QStringList{"usermod", busy};
        QTest::newRow("only a tty device")
            << Failure({6, "/dev/ttyACM1", folder + "/com6", false}, QSerialPort::DeviceNotFoundError,
                       "No such file or directory", {"/dev/ttyACM0"})
            << QStringList{"ln -sfn /dev/ttyACM0 ~/.config/comloop/com6"} << QStringList{"plugged in?"};
        QTest::newRow("number below 1")
            << Failure({0, {}, {}, false}, QSerialPort::DeviceNotFoundError,
                       "COM0 names no port: numbers start at 1")
            << QStringList{"COM0 names no port: numbers start at 1.\n", "from 1 up"}
            << QStringList{"ln -sfn", "usermod", "()"};
        // Named by path from the command line: no COM number to speak of,
        // no link to mend, and no button to press.
        FailureFacts byIdBusy = Failure({0, "/dev/ttyUSB0", {}, true, "/dev/serial/by-id/usb-A"},
                                        QSerialPort::PermissionError, "Device or resource busy");
        byIdBusy.retry = QStringLiteral("run comloop-check again");
        QTest::newRow("path, held by another program")
            << byIdBusy
            << QStringList{"/dev/serial/by-id/usb-A (/dev/ttyUSB0): Device or resource busy.\n",
                           "Close it, then run comloop-check again."}
            << QStringList{"COM0", "Open Ports"};
        QTest::newRow("path to no device")
            << Failure({0, "/dev/ttyUSB3", {}, false, "/dev/ttyUSB3"}, QSerialPort::DeviceNotFoundError,
                       "No such file or directory", {"/dev/ttyUSB0"})
            << QStringList{"/dev/ttyUSB3: No such file or directory.\nSerial devices present now: /dev/ttyUSB0."}
            << QStringList{"COM0", "ln -sfn", "mkdir"};
        QTest::newRow("unplugged while open")
            << Failure(usb, QSerialPort::ResourceError, "Input/output error")
            << QStringList{"Input/output error.", "unplugged"} << QStringList{"usermod", busy};
        FailureFacts lost = Failure(usb, QSerialPort::WriteError, "Input/output error");
        lost.lost = true;
        QTest::newRow("went away while open")
            << lost
            << QStringList{"COM3 (/dev/ttyUSB0) went away: Input/output error.\n", "unplugged",
                           "then press Open Ports"}
            << QStringList{"usermod", busy, "not look like a serial port", "close"};
        QTest::newRow("not a serial device")
            << Failure({7, "/dev/null", folder + "/com7", true}, QSerialPort::WriteError,
                       "Inappropriate ioctl for device")
            << QStringList{"COM7 (/dev/null): Inappropriate ioctl for device.", "not look like a serial port"}
            << QStringList{"usermod", busy};
    }
    void failureHint()
    {
        QFETCH(FailureFacts, facts);
        QFETCH(QStringList, says);
        QFETCH(QStringList, neverSays);
        const QString hint = FailureHint(facts, home);
        for (const QString &text : says)
            QVERIFY2(hint.contains(text), qPrintable(hint + "\n-- lacks: " + text));
        for (const QString &text : neverSays)
            QVERIFY2(!hint.contains(text), qPrintable(hint + "\n-- has: " + text));
        // Plain text: Qt would take a leading tag as rich text and swallow it.
        QVERIFY(!Qt::mightBeRichText(hint));
    }
};

QTEST_APPLESS_MAIN(TestPortAdvice)
#include "tst_port_advice.moc"
