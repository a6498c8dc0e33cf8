#include "virtual_cable.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <memory>
#include <set>

Q_DECLARE_METATYPE(LineFault)

namespace {

// Byte `offset` of frame `first` and of every `every`-th frame after it
// (frames counted from 0) crosses as `into` makes it; the rest as it is.
LineFault Faulty(int offset, int first, int every, QByteArray (*into)(char))
{
    return [=](qint64 index, char byte) {
        const qint64 frame = index / 12;
        if (index % 12 != offset || frame < first || (frame - first) % every != 0)
            return QByteArray(1, byte);
        return into(byte);
    };
}

QByteArray Lost(char)
{
    return {};
}

// The low bit flipped turns every hex digit into another value.
QByteArray Flipped(char byte)
{
    return QByteArray(1, char(byte ^ 1));
}

QByteArray Marker(char)
{
    return QByteArrayLiteral("?");
}

// Every frame on the line is the window's, and together they put each hex
// digit on each low place and 0 to 7 on the top one, within 0..32000.
void VerifyFrames(const QByteArray &line)
{
    static const QRegularExpression frames(QStringLiteral("^(Bizzard\\?[0-7][0-9A-F]{3})+$"));
    QVERIFY2(frames.match(QString::fromLatin1(line)).hasMatch(), line.left(48).constData());
    std::set<char> digits[4];
    for (qsizetype at = 0; at < line.size(); at += 12) {
        QVERIFY(line.mid(at + 8, 4).toInt(nullptr, 16) <= 32000);
        for (int place = 0; place < 4; ++place)
            digits[place].insert(line[at + 8 + place]);
    }
    QCOMPARE(digits[0].size(), std::size_t(8));
    for (int place = 1; place < 4; ++place)
        QCOMPARE(digits[place].size(), std::size_t(16));
}

} // namespace

// comloop-check as a script runs it, over COM3 and COM4 on pseudo-terminals
// joined by the test's own cable, sound or faulty.
class TestCheck : public QObject
{
    Q_OBJECT

private slots:
    void run_data()
    {
        QTest::addColumn<QStringList>("arguments"); // "{master}", "{slave}": the devices' paths
        QTest::addColumn<LineFault>("fault");
        // Once running: "Ctrl-C", "unplug" the master's cable, or "Ctrl-C
        // ignored" (the run was started with INT ignored), then TERM.
        QTest::addColumn<QString>("midway");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("says"); // standard output and error

        // Ample time per frame: a busy machine must not turn a sound cable
        // into missing frames.
        const QStringList slow{QStringLiteral("--timeout"), QStringLiteral("2000")};
        QTest::newRow("sound cable, COM numbers")
            << QStringList{"3", "4", "--frames", "40"} + slow << LineFault() << "" << 0
            << QStringList{"master: COM3 → ", "sent 40, received 40, wrong 0, missing 0", "round trip: median"};
        QTest::newRow("sound cable, device paths")
            << QStringList{"{master}", "{slave}", "-n", "20"} + slow << LineFault() << "" << 0
            << QStringList{"sent 20, received 20, wrong 0, missing 0"};
        QTest::newRow("a digit corrupted now and then")
            << QStringList{"3", "4", "-n", "20"} + slow << Faulty(10, 3, 7, Flipped) << "" << 1
            << QStringList{"sent 20, received 17, wrong 3, missing 0",
                           "frame 4: wrong value: sent 7827 (1E93), got 7811 (1E83)",
                           "frame 18: wrong value: sent 15601 (3CF1), got 15361 (3CG1)"};
        // What is left of a lost frame must not cost the next one too.
        QTest::newRow("a digit lost now and then")
            << QStringList{"3", "4", "-n", "20", "-t", "500"} << Faulty(9, 3, 10, Lost) << "" << 1
            << QStringList{"sent 20, received 18, wrong 0, missing 2",
                           "frame 4: missing: nothing came back within 500 ms", "frame 14: missing"};
        // "Bi?zard?1E93" reads as a frame "zard", then the real one: late,
        // and no fault of the frame after it.
        QTest::newRow("a marker inside the preamble")
            << QStringList{"3", "4", "-n", "20"} + slow << Faulty(2, 3, 100, Marker) << "" << 1
            << QStringList{"sent 20, received 19, wrong 1, missing 0",
                           "frame 4: wrong value: sent 7827 (1E93), got 0 (zard)", "frame 4: came after all"};
        const QStringList endless = QStringList{"3", "4", "-n", "100000000"} + slow;
        QTest::newRow("Ctrl-C") << endless << LineFault() << "Ctrl-C" << 0
                                << QStringList{"interrupted after ", "wrong 0, missing 0\nround trip"};
        QTest::newRow("Ctrl-C ignored when started, then TERM")
            << endless << LineFault() << "Ctrl-C ignored" << 0 << QStringList{"interrupted after "};
        QTest::newRow("master unplugged") << endless << LineFault() << "unplug" << 2
                                          << QStringList{"master: the port was lost during the run", "sent "};
        QTest::newRow("a port that is not there")
            << QStringList{"3", "9"} << LineFault() << "" << 2
            << QStringList{"slave: The port can not open\nCOM9 (/dev/ttyUSB97): No such file or directory.",
                           "ln -sfn"};
        QTest::newRow("one port twice")
            << QStringList{"3", "{master}"} << LineFault() << "" << 2 << QStringList{"lead to the same device"};
        QTest::newRow("one port only") << QStringList{"3"} << LineFault() << "" << 2
                                       << QStringList{"give two ports", "--help"};
    }
    void run()
    {
        QFETCH(QStringList, arguments);
        QFETCH(LineFault, fault);
        QFETCH(QString, midway);
        QFETCH(int, status);
        QFETCH(QStringList, says);

        ComLinks links;
        PtyEnd master;
        PtyEnd slave;
        links.Map(3, master.Device());
        links.Map(4, slave.Device());
        links.Map(9, QStringLiteral("/dev/ttyUSB97"));
        QByteArray line;
        auto cable = std::make_unique<Bridge>(slave, master, [&](qint64 index, char byte) {
            line += byte;
            return fault ? fault(index, byte) : QByteArray(1, byte);
        });
        arguments.replaceInStrings(QStringLiteral("{master}"), master.Device());
        arguments.replaceInStrings(QStringLiteral("{slave}"), slave.Device());

        QProcess check;
        // What the run relies on, whatever the test runner was started with.
        check.setChildProcessModifier([ignoreInt = midway == QStringLiteral("Ctrl-C ignored")] {
            for (int sig : {SIGINT, SIGTERM, SIGHUP})
                std::signal(sig, SIG_DFL);
            if (ignoreInt)
                std::signal(SIGINT, SIG_IGN);
        });
        check.start(QStringLiteral(CHECK_BINARY), arguments);
        QVERIFY(check.waitForStarted());
        if (!midway.isEmpty()) {
            // Midway: once the ports are open and frames have had a while.
            QVERIFY(WaitFor([&] { return check.peek(4096).contains("slave: "); }, 30000));
            QTest::qWait(300);
        }
        if (midway == QStringLiteral("Ctrl-C")) {
            ::kill(pid_t(check.processId()), SIGINT);
        } else if (midway == QStringLiteral("Ctrl-C ignored")) {
            ::kill(pid_t(check.processId()), SIGINT);
            QTest::qWait(300);
            QCOMPARE(check.state(), QProcess::Running);
            ::kill(pid_t(check.processId()), SIGTERM);
        } else if (midway == QStringLiteral("unplug")) {
            cable.reset();
            master.HangUp();
        }
        // The loop runs meanwhile: it carries the cable.
        QVERIFY(WaitFor([&] { return check.state() == QProcess::NotRunning; }, 30000));
        const QString said = QString::fromUtf8(check.readAllStandardOutput() + check.readAllStandardError());
        QCOMPARE(check.exitStatus(), QProcess::NormalExit);
        QVERIFY2(check.exitCode() == status, qPrintable(said));
        for (const QString &text : says)
            QVERIFY2(said.contains(text), qPrintable(said + "\n-- lacks: " + text));
        // Into a pipe no progress line, and at the end no port still held.
        QVERIFY(!said.contains(QLatin1Char('\r')));
        QVERIFY(!QFile::exists(LockPath(master.Device())));
        QVERIFY(!QFile::exists(LockPath(slave.Device())));
        if (status == 0 && midway.isEmpty())
            VerifyFrames(line);
    }
};

QTEST_GUILESS_MAIN(TestCheck)
#include "tst_check.moc"
