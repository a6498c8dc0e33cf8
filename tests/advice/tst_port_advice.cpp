#include "port_advice.h"

#include <QTest>

#include <QTextDocument>

Q_DECLARE_METATYPE(RouteFacts)
Q_DECLARE_METATYPE(FailureFacts)

namespace {

const QString home = QStringLiteral("/home/ann");
const QString folder = QStringLiteral("/home/ann/.config/comloop");

FailureFacts Failure(RouteFacts route, PortFailure failure, QStringList devices = {})
{
    FailureFacts facts;
    facts.route = std::move(route);
    facts.failure = failure;
    facts.serialDevices = std::move(devices);
    facts.linkFolder = folder;
    return facts;
}

// A failure at the lock, as the port reports it.
FailureFacts AtLock(RouteFacts route, PortLock lock, int otherSide = 0, QStringList devices = {})
{
    FailureFacts facts = Failure(std::move(route), {PortFailure::Lock}, std::move(devices));
    facts.lock = std::move(lock);
    facts.otherSide = otherSide;
    return facts;
}

FailureFacts Denied(const QString &owner, const QString &group, unsigned mode, bool joined = false,
                    bool inGroup = false, bool isOwner = false)
{
    FailureFacts facts = Failure({3, "/dev/ttyUSB0", folder + "/com3", true}, {PortFailure::Open, PortFailure::Denied, "Permission denied"});
    facts.access = {owner, group, mode, isOwner, inGroup, joined};
    return facts;
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
            << Denied("root", "dialout", 0660)
            << (QStringList{"COM3 (/dev/ttyUSB0): Permission denied.\n",
                            "/dev/ttyUSB0 belongs to user root and group dialout, with permissions rw-rw----."}
                + dialout)
            << QStringList{busy, "ln -sfn"};
        QTest::newRow("device only root may open")
            << Denied("root", "root", 0600) << QStringList{"Only root may open it"}
            << QStringList{"usermod", "dialout"};
        QTest::newRow("device of group uucp")
            << Denied("root", "uucp", 0660) << QStringList{"sudo usermod -aG uucp $USER"}
            << QStringList{"dialout"};
        QTest::newRow("joined dialout since this session began")
            << Denied("root", "dialout", 0660, true) << QStringList{"log out and log in again"}
            << QStringList{"usermod"};
        QTest::newRow("group root may open it, so no group helps")
            << Denied("root", "root", 0660) << QStringList{"Only root may open it"}
            << QStringList{"usermod", "These permissions let you"};
        QTest::newRow("already in the device's group")
            << Denied("root", "dialout", 0660, false, true)
            << QStringList{"These permissions let you open it", "getfacl /dev/ttyUSB0"}
            << QStringList{"usermod", "log in again"};
        QTest::newRow("open to everyone, yet refused")
            << Denied("root", "dialout", 0666) << QStringList{"These permissions let you open it"}
            << QStringList{"usermod"};
        QTest::newRow("one's own device, made read-only")
            << Denied("ann", "ann", 0444, false, false, true)
            << QStringList{"You own it, yet its permissions keep you out: chmod u+rw /dev/ttyUSB0"}
            << QStringList{"These permissions let you"};
        QTest::newRow("opened for exclusive use")
            << Failure(usb, {PortFailure::Open, PortFailure::Busy, "Device or resource busy"})
            << QStringList{"COM3 (/dev/ttyUSB0): Device or resource busy.\n", busy, "fuser -v /dev/ttyUSB0"}
            << QStringList{"usermod"};
        // Where the open itself is the lock, the other side is found busy.
        QTest::newRow("busy: the other side holds it")
            << [&] {
                   FailureFacts facts = Failure(usb, {PortFailure::Open, PortFailure::Busy, "Access is denied."});
                   facts.otherSide = 3;
                   return facts;
               }()
            << QStringList{"COM3 is the other side's number too", "two different numbers."}
            << QStringList{busy, "fuser"};
        QTest::newRow("dangling link, adapters present")
            << Failure({3, "/dev/ttyUSB9", folder + "/com3", false}, {PortFailure::Open, PortFailure::Missing, "No such file or directory"},
                       {"/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0"})
            << QStringList{"COM3 (/dev/ttyUSB9): No such file or directory.\n",
                           "COM3 leads to /dev/ttyUSB9 through ~/.config/comloop/com3.",
                           "Serial devices present now: /dev/ttyUSB0, "
                           "/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0.",
                           "ln -sfn /dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0 ~/.config/comloop/com3"}
            << QStringList{"usermod", busy, "plugged in?"};
        QTest::newRow("no uart, no adapters")
            << Failure({5, "/dev/ttyS4", {}, false}, {PortFailure::Open, PortFailure::Missing, "No such file or directory"})
            << QStringList{"COM5 has no link in ~/.config/comloop, so it leads to the built-in port /dev/ttyS4.",
                           "/dev/ttyUSB*", "/dev/ttyACM*", "/dev/serial/by-id/*", "plugged in?",
                           "mkdir -p ~/.config/comloop", "~/.config/comloop/com5"}
            << QStringList{"usermod", busy};
        QTest::newRow("a built-in port with no UART behind it")
            << Failure({5, "/dev/ttyS4", {}, true}, {PortFailure::Open, PortFailure::Missing, "Input/output error"})
            << QStringList{"COM5 (/dev/ttyS4): Input/output error.\n",
                           "COM5 has no link in ~/.config/comloop, so it leads to the built-in port /dev/ttyS4."}
            << QStringList{"not look like a serial port"};
        QTest::newRow("only a tty device")
            << Failure({6, "/dev/ttyACM1", folder + "/com6", false}, {PortFailure::Open, PortFailure::Missing, "No such file or directory"}, {"/dev/ttyACM0"})
            << QStringList{"ln -sfn /dev/ttyACM0 ~/.config/comloop/com6"} << QStringList{"plugged in?"};
        QTest::newRow("number below 1")
            << Failure({0, {}, {}, false}, {PortFailure::NoPort})
            << QStringList{"COM0 names no port: numbers start at 1.\n",
                           "close it and start comloop again with a COM number from 1 up"}
            << QStringList{"ln -sfn", "usermod", "()", "Pick"};
        // Named by path from the command line: no COM number to speak of,
        // no link to mend, and no button to press.
        FailureFacts byIdBusy =
            Failure({0, "/dev/ttyUSB0", {}, true, "/dev/serial/by-id/usb-A"}, {PortFailure::Open, PortFailure::Busy, "Device or resource busy"});
        byIdBusy.retry = QStringLiteral("run comloop-check again");
        QTest::newRow("path, held by another program")
            << byIdBusy
            << QStringList{"/dev/serial/by-id/usb-A (/dev/ttyUSB0): Device or resource busy.\n",
                           "Close it, then run comloop-check again."}
            << QStringList{"COM0", "Open Ports"};
        QTest::newRow("path to no device")
            << Failure({0, "/dev/ttyUSB3", {}, false, "/dev/ttyUSB3"}, {PortFailure::Open, PortFailure::Missing, "No such file or directory"}, {"/dev/ttyUSB0"})
            << QStringList{"/dev/ttyUSB3: No such file or directory.\nSerial devices present now: /dev/ttyUSB0."}
            << QStringList{"COM0", "ln -sfn", "mkdir"};
        QTest::newRow("link folder with a space")
            << [] {
                   FailureFacts facts = Failure({5, "/dev/ttyS4", {}, false}, {PortFailure::Open, PortFailure::Missing, "No such file or directory"});
                   facts.linkFolder = "/home/ann/my config/comloop";
                   return facts;
               }()
            << QStringList{"    mkdir -p ~/'my config/comloop'\n",
                           "    ln -sfn /dev/serial/by-id/... ~/'my config/comloop/com5'\n"
                           "then press Open Ports again."}
            << QStringList{"usermod"};

        const QString lock = QStringLiteral("/run/lock/LCK..ttyUSB0");
        const PortLock ours{.state = PortLock::Held, .path = lock, .pid = 77, .owner = "comloop", .self = true};
        QTest::newRow("a pipe planted as the lock")
            << AtLock(usb, {.state = PortLock::Unfit, .path = lock, .fault = PortLock::Pipe})
            << QStringList{"COM3 (/dev/ttyUSB0): The lock file /run/lock/LCK..ttyUSB0 is a named pipe.\n",
                           "fuser -v /dev/ttyUSB0",
                           "\n    sudo rm /run/lock/LCK..ttyUSB0\nthen press Open Ports again."}
            << QStringList{busy, "usermod", "-r"};
        FailureFacts checkedPipe = AtLock({0, "/dev/ttyUSB0", {}, true, "/dev/ttyUSB0"},
                                          {.state = PortLock::Unfit, .path = lock, .fault = PortLock::Pipe});
        checkedPipe.retry = QStringLiteral("run comloop-check again");
        QTest::newRow("a pipe as the lock, from the command line")
            << checkedPipe << QStringList{"sudo rm /run/lock/LCK..ttyUSB0\nthen run comloop-check again."}
            << QStringList{"Open Ports", "COM0"};
        QTest::newRow("a folder of one's own as the lock")
            << AtLock(usb,
                      {.state = PortLock::Unfit, .path = lock, .fault = PortLock::Directory, .mine = true})
            << QStringList{"\n    rm -r /run/lock/LCK..ttyUSB0\n"} << QStringList{"sudo"};
        QTest::newRow("stale lock of another user")
            << AtLock(usb, {.state = PortLock::Stuck, .path = lock, .why = "Operation not permitted"})
            << QStringList{"is stale, but cannot be removed (Operation not permitted).",
                           "\n    sudo rm /run/lock/LCK..ttyUSB0\nthen press Open Ports again."}
            << QStringList{busy, "fuser"};
        QTest::newRow("lock in comloop's name that no side holds")
            << AtLock(usb, ours)
            << QStringList{"someone wrote it in comloop's name", "sudo rm /run/lock/LCK..ttyUSB0"}
            << QStringList{busy};
        QTest::newRow("held by a named program")
            << AtLock(usb, {.state = PortLock::Held, .path = lock, .pid = 4242, .owner = "minicom"})
            << QStringList{"/dev/ttyUSB0 is locked by process 4242 (minicom) through /run/lock/LCK..ttyUSB0.",
                           "process 4242 (minicom). Close it, then press Open Ports again."}
            << QStringList{"usermod", "rm "};
        const RouteFacts pts{4, "/dev/pts/5", folder + "/com4", true};
        QTest::newRow("same number as the other side")
            << AtLock({3, "/dev/pts/5", folder + "/com3", true}, ours, 3)
            << QStringList{"COM3 is the other side's number too",
                           "close it and start comloop again with two different numbers."}
            << QStringList{busy, "ln -sfn", "Open Ports again", "rm "};
        QTest::newRow("same device as the other side's number")
            << AtLock(pts, ours, 3, {"/dev/pts/5", "/dev/ttyUSB1"})
            << QStringList{"COM4 leads to the same device as COM3",
                           "\n    ln -sfn /dev/ttyUSB1 ~/.config/comloop/com4\nthen press Open Ports again"}
            << QStringList{busy, "mkdir", "rm "};
        QTest::newRow("device name too long for a lock")
            << AtLock({3, "/tmp/" + QString(300, 'x'), folder + "/com3", true},
                      {.state = PortLock::NameTooLong, .path = "LCK.._tmp_" + QString(300, 'x')})
            << QStringList{"would be named with 310 bytes, and a file name holds at most 255.",
                           "point ~/.config/comloop/com3 at it,\nthen press Open Ports again."}
            << QStringList{busy, "rm "};
        QTest::newRow("failed while open")
            << Failure(usb, {PortFailure::Read, PortFailure::Missing, "Input/output error"})
            << QStringList{"COM3 (/dev/ttyUSB0) failed while receiving: Input/output error.\n", "unplugged"}
            << QStringList{"usermod", busy, "went away"};
        QTest::newRow("failed while sending")
            << Failure(usb, {PortFailure::Write, PortFailure::Missing, "Input/output error"})
            << QStringList{"COM3 (/dev/ttyUSB0) failed while sending: Input/output error.\n"}
            << QStringList{"usermod", busy};
        // The dead descriptor answers with some error or other; that the
        // device node is gone is what happened.
        QTest::newRow("went away while open")
            << Failure(usb, {PortFailure::Read, PortFailure::NotSerial, "Invalid argument", true})
            << QStringList{"COM3 (/dev/ttyUSB0) went away: it was disconnected (its device node is gone).\n",
                           "unplugged", "then press Open Ports"}
            << QStringList{"usermod", busy, "not look like a serial port", "close", "Invalid argument"};
        // Hung up with its node still there: a modem hang-up, or the moment
        // before an unplugged adapter's node goes.
        QTest::newRow("hung up while open")
            << Failure(usb, {PortFailure::Read, PortFailure::HungUp})
            << QStringList{"COM3 (/dev/ttyUSB0) went away: the line hung up.\n", "unplugged"}
            << QStringList{"failed while receiving", "disconnected"};
        QTest::newRow("not a serial device")
            << Failure({7, "/dev/null", folder + "/com7", true}, {PortFailure::Setup, PortFailure::NotSerial, "Inappropriate ioctl for device"})
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
