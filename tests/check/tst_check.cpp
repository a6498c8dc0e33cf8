#include "check_rules.h"
#include "check_tally.h"
#include "frame_ledger.h"
#include "virtual_cable.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <memory>
#include <set>

Q_DECLARE_METATYPE(LineFault)
Q_DECLARE_METATYPE(CheckTally)
Q_DECLARE_METATYPE(std::vector<double>)

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

QByteArray Deleted(char)
{
    return QByteArrayLiteral("\x7f");
}

// Frame `frame` (counted from 0) crosses twice, as from a far end that
// echoes what it is sent and then once more.
LineFault EchoedTwice(qint64 frame)
{
    return [frame, last = QByteArray()](qint64 index, char byte) mutable {
        last = (last + byte).right(12);
        return index == frame * 12 + 11 ? byte + last : QByteArray(1, byte);
    };
}

QByteArray Dropped(qint64, char)
{
    return {};
}

// Every frame on the line is the window's, each with a value of its own,
// and together they put each hex digit on each low place and 0 to 7 on the
// top one, within 0..32000.
void VerifyFrames(const QByteArray &line)
{
    static const QRegularExpression frames(QStringLiteral("^(Bizzard\\?[0-7][0-9A-F]{3})+$"));
    QVERIFY2(frames.match(QString::fromLatin1(line)).hasMatch(), line.left(48).constData());
    std::set<char> digits[4];
    std::set<int> values;
    for (qsizetype at = 0; at < line.size(); at += 12) {
        const int value = line.mid(at + 8, 4).toInt(nullptr, 16);
        QVERIFY(value <= 32000);
        // Distinct, so a frame that comes late is never taken for another.
        QVERIFY2(values.insert(value).second, qPrintable(QString::number(value)));
        for (int place = 0; place < 4; ++place)
            digits[place].insert(line[at + 8 + place]);
    }
    QCOMPARE(digits[0].size(), std::size_t(8));
    for (int place = 1; place < 4; ++place)
        QCOMPARE(digits[place].size(), std::size_t(16));
}

// One JSON object a line, the first with the schema, each with a type, and
// the last the summary, whose status is the one the run ended with.
void VerifyJson(const QByteArray &out, int status)
{
    const QList<QByteArray> lines = out.trimmed().split('\n');
    QJsonObject object;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(lines[i], &error);
        QVERIFY2(document.isObject(), qPrintable(error.errorString() + ": " + lines[i]));
        object = document.object();
        QVERIFY(!object.value(QStringLiteral("type")).toString().isEmpty());
        QCOMPARE(object.contains(QStringLiteral("schema")), i == 0);
    }
    QCOMPARE(object.value(QStringLiteral("type")).toString(), QStringLiteral("summary"));
    QCOMPARE(object.value(QStringLiteral("exit")).toInt(), status);
    QCOMPARE(object.value(QStringLiteral("verdict")).toString(), status == 0 ? QStringLiteral("pass") : QStringLiteral("fail"));
}

// One suite named comloop-check, a test case per check that ran, and a
// failure exactly where the run failed.
void VerifyJUnit(const QString &path, int status)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    QStringList cases;
    int failures = 0;
    int counted = -1; // what the suite says, which is what a CI server shows
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QStringLiteral("testsuite")) {
            QCOMPARE(xml.attributes().value(QStringLiteral("name")).toString(), QStringLiteral("comloop-check"));
            counted = xml.attributes().value(QStringLiteral("failures")).toInt();
        } else if (xml.name() == QStringLiteral("testcase"))
            cases << xml.attributes().value(QStringLiteral("name")).toString();
        else if (xml.name() == QStringLiteral("failure"))
            ++failures;
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QVERIFY(cases.contains(QStringLiteral("frames")));
    QCOMPARE(failures > 0, status != 0);
    QCOMPARE(counted, failures);
}

} // namespace

// comloop-check as a script runs it, over COM3 and COM4 on pseudo-terminals
// joined by the test's own cable, sound or faulty.
class TestCheck : public QObject
{
    Q_OBJECT

private slots:
    // How a run's findings read: the summary and the exit status.
    void verdict_data()
    {
        QTest::addColumn<CheckTally>("tally");
        QTest::addColumn<QString>("says");
        QTest::addColumn<int>("status");
        CheckTally even;
        even.sent = even.received = 4;
        even.roundTripsMs = {10, 1, 3, 2};
        QTest::newRow("the median of an even count") << even << "median 2.50 ms, max 10.00 ms" << 0;
        CheckTally late;
        late.sent = 3;
        late.received = 2;
        late.late = 1;
        QTest::newRow("a late frame came intact") << late << "sent 3, received 2, late 1, wrong 0, missing 0" << 0;
        CheckTally wrong = late;
        wrong.wrong = 1;
        QTest::newRow("a value nobody sent") << wrong << "wrong 1" << 1;
        CheckTally missing = late;
        missing.late = 0;
        missing.missing = 1;
        QTest::newRow("a frame missing") << missing << "missing 1" << 1;
        QTest::newRow("nothing settled proves nothing") << CheckTally() << "round trip: no frame came back" << 1;
    }
    void verdict()
    {
        QFETCH(CheckTally, tally);
        QFETCH(QString, says);
        QFETCH(int, status);
        QVERIFY2(Summary(tally).contains(says), qPrintable(Summary(tally)));
        QCOMPARE(Verdict(tally), status);
    }

    // How the line's pace reads from the fastest round trip, against the
    // 12.5 ms a frame takes on a 9600 8N1 wire.
    void timing_data()
    {
        QTest::addColumn<std::vector<double>>("roundTripsMs");
        QTest::addColumn<int>("timing");
        QTest::addColumn<double>("factor");
        QTest::newRow("a pseudo-terminal") << std::vector<double>{0.3, 0.05, 0.2} << int(Timing::Virtual) << 250.0;
        QTest::newRow("just fast enough for a wire") << std::vector<double>{10.0} << int(Timing::Consistent) << 0.8;
        QTest::newRow("a UART") << std::vector<double>{14.0, 13.0} << int(Timing::Consistent) << 1.04;
        QTest::newRow("just slow enough to pass") << std::vector<double>{25.0} << int(Timing::Consistent) << 2.0;
        QTest::newRow("an adapter's 16 ms latency") << std::vector<double>{45.0, 40.0} << int(Timing::Slow) << 3.2;
        QTest::newRow("nothing came back") << std::vector<double>{} << int(Timing::Unknown) << 1.0;
    }
    void timing()
    {
        QFETCH(std::vector<double>, roundTripsMs);
        QFETCH(int, timing);
        QFETCH(double, factor);
        const TimingReading reading = ReadTiming(roundTripsMs, 12.5);
        QCOMPARE(int(reading.timing), timing);
        QVERIFY2(qAbs(reading.factor - factor) < 0.01, qPrintable(QString::number(reading.factor)));
    }

    // What each combination of findings earns: a port lost outranks all, a
    // fault found outranks a check that could not run.
    void exitStatus_data()
    {
        QTest::addColumn<bool>("framesPass");
        QTest::addColumn<bool>("fault");
        QTest::addColumn<bool>("unavailable");
        QTest::addColumn<bool>("lost");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("verdict");
        QTest::newRow("all passed") << true << false << false << false << 0 << "pass";
        QTest::newRow("frames failed") << false << false << false << false << 1 << "fail";
        QTest::newRow("frames passed, the counters found errors") << true << true << false << false << 1 << "fail";
        QTest::newRow("a check asked for could not run") << true << false << true << false << 2 << "setup";
        QTest::newRow("a fault, and a check that could not run") << true << true << true << false << 1 << "fail";
        QTest::newRow("a port lost") << false << true << true << true << 3 << "lost";
    }
    void exitStatus()
    {
        QFETCH(bool, framesPass);
        QFETCH(bool, fault);
        QFETCH(bool, unavailable);
        QFETCH(bool, lost);
        QFETCH(int, status);
        QFETCH(QString, verdict);
        QCOMPARE(ExitStatus({framesPass, fault, unavailable, lost}), status);
        QCOMPARE(VerdictName(status), verdict);
    }

    void errorRate_data()
    {
        QTest::addColumn<qint64>("bits");
        QTest::addColumn<qint64>("errors");
        QTest::addColumn<QString>("says");
        QTest::newRow("no error: the rule of three") << qint64(300000) << qint64(0) << "below 1e-05 at 95% confidence";
        QTest::newRow("errors: the rate seen") << qint64(1000) << qint64(2) << "at least 0.002 observed";
        QTest::newRow("a single error") << qint64(1000) << qint64(1) << "at least 0.001 observed";
        QTest::newRow("nothing compared") << qint64(0) << qint64(0) << "no bit compared";
    }
    void errorRate()
    {
        QFETCH(qint64, bits);
        QFETCH(qint64, errors);
        QFETCH(QString, says);
        QVERIFY2(ErrorRateText(bits, errors).contains(says), qPrintable(ErrorRateText(bits, errors)));
    }

    // Frames' values are all different for as long as there are values, so
    // one that comes late is never taken for another.
    void frameValuesAreDistinct()
    {
        std::set<std::int32_t> values;
        for (qint64 n = 0; n < 32001; ++n) {
            const std::int32_t value = FrameValue(n);
            QVERIFY(value >= 0 && value <= 32000);
            QVERIFY2(values.insert(value).second, qPrintable(QString::number(n)));
        }
        QCOMPARE(FrameValue(32001), FrameValue(0));

        // A value is matched to the frame awaited or to one owed, and to
        // nothing else: not while none is awaited, and not, once the
        // values begin again, to a frame owed from the round before, which
        // can no longer be told from the new one.
        FrameLedger ledger;
        const FrameLedger::Frame first = ledger.Send(0);
        QCOMPARE(ledger.TimedOut().number, first.number);
        QCOMPARE(ledger.Found(0, 1).kind, FrameLedger::Kind::Wrong);
        for (qint64 n = 1; n < 32001; ++n)
            QCOMPARE(ledger.Found(ledger.Send(n).value, n).kind, FrameLedger::Kind::Received);
        const FrameLedger::Frame again = ledger.Send(0);
        QCOMPARE(again.value, first.value);
        QCOMPARE(ledger.Found(again.value, 1).kind, FrameLedger::Kind::Received);
        QCOMPARE(ledger.Found(again.value, 2).kind, FrameLedger::Kind::Wrong);
        QCOMPARE(ledger.Tally().missing, 1);
    }

    void run_data()
    {
        QTest::addColumn<QStringList>("arguments"); // "{master}", "{slave}": the devices' paths
        QTest::addColumn<LineFault>("fault");
        // Once running: "Ctrl-C", "HUP", "unplug" the master's cable, "stall"
        // the cable for 0.6 s with the slave's line full, flood the master
        // with "noise", or "Ctrl-C ignored" (the run was started with INT
        // ignored), then TERM. Or how it is started: with standard output
        // "closed", "stalled" (a pipe nobody reads; Ctrl-C once running), on
        // a "terminal" (Ctrl-C once running), or read by "head -n 1".
        QTest::addColumn<QString>("midway");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("says"); // standard output and error

        // Ample time per frame: a busy machine must not turn a sound cable
        // into missing frames.
        const QStringList slow{QStringLiteral("--timeout"), QStringLiteral("2000")};
        QTest::newRow("sound cable, COM numbers")
            << QStringList{"3", "4", "--frames", "40"} + slow << LineFault() << "" << 0
            << QStringList{"master: COM3 → ", "sent 40, received 40, late 0, wrong 0, missing 0", "round trip: median"};
        QTest::newRow("sound cable, device paths")
            << QStringList{"{master}", "{slave}", "-n", "20"} + slow << LineFault() << "" << 0
            << QStringList{"sent 20, received 20, late 0, wrong 0, missing 0"};
        // A corrupted frame is a value nobody sent, and a frame that never
        // came back.
        QTest::newRow("a digit corrupted now and then")
            << QStringList{"3", "4", "-n", "20", "-t", "300"} << Faulty(10, 3, 7, Flipped) << "" << 1
            << QStringList{"sent 20, received 17, late 0, wrong 3, missing 3",
                           "frame 4: wrong value: sent 7827 (1E93), got 7811 (1E83)",
                           "frame 18: wrong value: sent 15617 (3D01), got 15633 (3D11)", "frame 18: missing"};
        // What is left of a lost frame must not cost the next one too.
        QTest::newRow("a digit lost now and then")
            << QStringList{"3", "4", "-n", "20", "-t", "500"} << Faulty(9, 3, 10, Lost) << "" << 1
            << QStringList{"sent 20, received 18, late 0, wrong 0, missing 2",
                           "frame 4: missing: nothing came back within 500 ms", "frame 14: missing"};
        // "Bi?zard?1E93" reads as a frame "zard", then the real one.
        QTest::newRow("a marker inside the preamble")
            << QStringList{"3", "4", "-n", "20"} + slow << Faulty(2, 3, 100, Marker) << "" << 1
            << QStringList{"sent 20, received 20, late 0, wrong 1, missing 0",
                           "frame 4: wrong value: sent 7827 (1E93), got 0 (zard)"};
        // A byte no terminal shows is written by its code: the line says
        // what came, and stays one line.
        QTest::newRow("a digit turned into DEL")
            << QStringList{"3", "4", "-n", "20", "-t", "300"} << Faulty(10, 3, 100, Deleted) << "" << 1
            << QStringList{"sent 20, received 19, late 0, wrong 1, missing 1", "(1E\\x7f3)"};
        QTest::newRow("a frame echoed twice")
            << QStringList{"3", "4", "-n", "20"} + slow << EchoedTwice(5) << "" << 1
            << QStringList{"sent 20, received 20, late 0, wrong 1, missing 0", "frame 7: wrong value: sent "};
        const QStringList endless = QStringList{"3", "4", "-n", "100000000"} + slow;
        QTest::newRow("Ctrl-C") << endless << LineFault() << "Ctrl-C" << 0
                                << QStringList{"interrupted after ", "late 0, wrong 0, missing 0\nround trip"};
        QTest::newRow("Ctrl-C before anything came back")
            << QStringList{"3", "4", "-n", "100000000", "-t", "100000"} << LineFault(Dropped) << "Ctrl-C" << 1
            << QStringList{"interrupted after 0 of ", "sent 0, received 0"};
        QTest::newRow("HUP") << endless << LineFault() << "HUP" << 0 << QStringList{"interrupted after "};
        QTest::newRow("Ctrl-C ignored when started, then TERM")
            << endless << LineFault() << "Ctrl-C ignored" << 0 << QStringList{"interrupted after "};
        // Frames held up for longer than their timeout come after all: late,
        // each one matched to the frame that carried it, none wrong. The
        // slave's line is full meanwhile, so a frame waits in the port: for
        // 0.6 s that is a stall, not a line stuck.
        QTest::newRow("the cable stalls for 0.6 s")
            << QStringList{"3", "4", "-n", "100000000", "-t", "40"} << LineFault() << "stall" << 0
            << QStringList{"came after all", "wrong 0, missing 0"};
        // The slave's line carries, but nothing reaches the master from it.
        QTest::newRow("noise at the master")
            << QStringList{"3", "4", "-n", "100000000", "-t", "50"} << LineFault(Dropped) << "noise" << 1
            << QStringList{"more problems not shown", "wrong value"};
        // The reader leaves after one line; the run ends at its next line,
        // here a problem, rather than going on for nobody.
        QTest::newRow("standard output read by head -n 1")
            << QStringList{"3", "4", "-n", "100000000", "-t", "10"} << Faulty(10, 0, 1, Flipped) << "head -n 1"
            << 0 << QStringList{"master: COM3"};
        QTest::newRow("standard output stalled, then Ctrl-C")
            << QStringList{"3", "4", "-n", "100000000", "-t", "10"} << Faulty(10, 0, 1, Flipped) << "stalled" << 1
            << QStringList{};
        QTest::newRow("standard output closed")
            << QStringList{"3", "4"} << LineFault() << "closed" << 2 << QStringList{"standard output is closed"};
        QTest::newRow("master unplugged")
            << endless + QStringList{"--junit", "{junit}"} << LineFault() << "unplug" << 3
            << QStringList{"master: the port was lost during the run", "sent "};
        // What only a real driver shows is never made up on a pseudo-terminal:
        // no counters, no handshake lines, no loopback, and a pace no wire
        // keeps. A check asked for that cannot run does not pass.
        QTest::newRow("pseudo-terminals: timing and counters")
            << QStringList{"3", "4", "-n", "20"} + slow << LineFault() << "" << 0
            << QStringList{"timing: virtual: bytes moved ", "counters: master: not available on this device",
                           "counters: slave: not available on this device", "verdict: pass (exit status 0)"};
        QTest::newRow("--lines on pseudo-terminals")
            << QStringList{"3", "4", "-n", "5", "--lines"} + slow << LineFault() << "" << 2
            << QStringList{"lines: not testable", "verdict: setup"};
        QTest::newRow("--isolate on pseudo-terminals")
            << QStringList{"3", "4", "-n", "5", "--isolate"} + slow << LineFault() << "" << 2
            << QStringList{"isolation: master not available on this device",
                           "isolation: slave not available on this device", "sent 5, received 5"};
        QTest::newRow("--json and --junit, a sound cable")
            << QStringList{"3", "4", "-n", "20", "--json", "--junit", "{junit}"} + slow << LineFault() << "" << 0
            << QStringList{"\"verdict\":\"pass\""};
        QTest::newRow("--json and --junit, a faulty cable")
            << QStringList{"3", "4", "-n", "20", "-t", "300", "--json", "--junit", "{junit}"}
            << Faulty(10, 3, 7, Flipped) << "" << 1
            << QStringList{"\"type\":\"problem\"", "frame 4: wrong value", "\"ber_below_95\":null",
                           "\"verdict\":\"fail\""};
        // On a terminal, JSON lines stay JSON: no progress among them.
        QTest::newRow("--json on a terminal")
            << QStringList{"3", "4", "-n", "100000000", "--json"} + slow << LineFault() << "terminal" << 0
            << QStringList{"\"verdict\":\"pass\""};
        QTest::newRow("a port that is not there")
            << QStringList{"3", "9"} << LineFault() << "" << 2
            << QStringList{"slave: The port can not open\nCOM9 (/dev/ttyUSB97): No such file or directory.",
                           "ln -sfn"};
        QTest::newRow("one port twice")
            << QStringList{"3", "{master}"} << LineFault() << "" << 2 << QStringList{"lead to the same device"};
        QTest::newRow("one port only") << QStringList{"3"} << LineFault() << "" << 2
                                       << QStringList{"give two ports", "--help"};
        QTest::newRow("no frames") << QStringList{"3", "4", "-n", "0"} << LineFault() << "" << 2
                                   << QStringList{"--frames wants a whole number from 1 up"};
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
        QTemporaryDir reports;
        const QString junit = reports.filePath(QStringLiteral("junit.xml"));
        arguments.replaceInStrings(QStringLiteral("{junit}"), junit);

        std::unique_ptr<PtyEnd> terminal;
        if (midway == QStringLiteral("terminal"))
            terminal = std::make_unique<PtyEnd>();
        const QByteArray terminalPath = terminal ? QFile::encodeName(terminal->Device()) : QByteArray();

        QProcess check;
        // What the run relies on, whatever the test runner was started with.
        check.setChildProcessModifier([midway, terminalPath] {
            for (int sig : {SIGINT, SIGTERM, SIGHUP})
                std::signal(sig, SIG_DFL);
            if (midway == QStringLiteral("Ctrl-C ignored"))
                std::signal(SIGINT, SIG_IGN);
            if (midway == QStringLiteral("closed"))
                ::close(STDOUT_FILENO);
            if (midway == QStringLiteral("stalled")) {
                // The smallest pipe there is, whose reader never reads.
                int stalled[2];
                if (::pipe(stalled) == 0 && ::fcntl(stalled[1], F_SETPIPE_SZ, 4096) >= 0)
                    ::dup2(stalled[1], STDOUT_FILENO);
            }
            if (!terminalPath.isEmpty()) {
                const int tty = ::open(terminalPath.constData(), O_RDWR | O_NOCTTY);
                if (tty >= 0)
                    ::dup2(tty, STDOUT_FILENO);
            }
        });
        if (midway == QStringLiteral("head -n 1"))
            check.start(QStringLiteral("/bin/sh"),
                        QStringList{QStringLiteral("-c"), QStringLiteral("\"$0\" \"$@\" | head -n 1"),
                                    QStringLiteral(CHECK_BINARY)}
                            + arguments);
        else
            check.start(QStringLiteral(CHECK_BINARY), arguments);
        QVERIFY(check.waitForStarted());
        // Only to a run still going: a process number of 0 would signal the
        // test's whole process group, the test runner included.
        const auto signal = [&check](int sig) {
            if (const qint64 pid = check.processId(); pid > 0)
                ::kill(pid_t(pid), sig);
        };
        if (midway == QStringLiteral("stalled") || midway == QStringLiteral("terminal")) {
            // Long enough to fill the pipe, whose writes then wait for good;
            // on a terminal, for progress to be due.
            QTest::qWait(1500);
            signal(SIGINT);
        } else if (!midway.isEmpty() && midway != QStringLiteral("closed") && midway != QStringLiteral("head -n 1")) {
            // Midway: once the ports are open and frames have had a while.
            QVERIFY(WaitFor([&] { return check.peek(4096).contains("slave: "); }, 30000));
            QTest::qWait(300);
        }
        if (midway == QStringLiteral("Ctrl-C")) {
            signal(SIGINT);
        } else if (midway == QStringLiteral("HUP")) {
            signal(SIGHUP);
        } else if (midway == QStringLiteral("Ctrl-C ignored")) {
            signal(SIGINT);
            QTest::qWait(300);
            QCOMPARE(check.state(), QProcess::Running);
            signal(SIGTERM);
        } else if (midway == QStringLiteral("unplug")) {
            cable.reset();
            master.HangUp();
        } else if (midway == QStringLiteral("stall")) {
            cable->Stall(600);
            slave.FillLine('x');
            QTest::qWait(900);
            signal(SIGINT);
        } else if (midway == QStringLiteral("noise")) {
            // The master hears nothing but markers.
            const QByteArray markers(4096, '?');
            QElapsedTimer flood;
            flood.start();
            while (flood.elapsed() < 1000) {
                (void)!::write(master.FarSide(), markers.constData(), size_t(markers.size()));
                QTest::qWait(1);
            }
            signal(SIGINT);
        }
        // The loop runs meanwhile: it carries the cable. A run held up by its
        // output ends as soon, once told to.
        QVERIFY(WaitFor([&] { return check.state() == QProcess::NotRunning; },
                        midway == QStringLiteral("stalled") ? 3000 : 30000));
        const QByteArray out = terminal ? terminal->Drain() : check.readAllStandardOutput();
        const QString said = QString::fromUtf8(out + check.readAllStandardError());
        QCOMPARE(check.exitStatus(), QProcess::NormalExit);
        QVERIFY2(check.exitCode() == status, qPrintable(said));
        for (const QString &text : says)
            QVERIFY2(said.contains(text), qPrintable(said + "\n-- lacks: " + text));
        // Where nothing ran on its own, nothing is concluded of the ports.
        if (!arguments.contains(QStringLiteral("--isolate")))
            QVERIFY2(!said.contains(QStringLiteral("loopback")), qPrintable(said));
        // Every value that came back was compared: four digits, eight bits each.
        static const QRegularExpression settled(
            QStringLiteral("\\nsent \\d+, received (\\d+), late (\\d+), wrong (\\d+),"));
        static const QRegularExpression compared(QStringLiteral("(\\d+) bits compared"));
        if (const QRegularExpressionMatch counts = settled.match(said); counts.hasMatch()) {
            const qint64 back = counts.captured(1).toLongLong() + counts.captured(2).toLongLong()
                + counts.captured(3).toLongLong();
            QCOMPARE(compared.match(said).captured(1).toLongLong(), back * 32);
        }
        // Into a pipe, or as JSON, no progress line, and at the end no port
        // still held.
        QVERIFY(!said.contains(QLatin1Char('\r')));
        QVERIFY(!QFile::exists(LockPath(master.Device())));
        QVERIFY(!QFile::exists(LockPath(slave.Device())));
        if (status == 0 && midway.isEmpty())
            VerifyFrames(line);
        if (arguments.contains(QStringLiteral("--json")))
            VerifyJson(out, status);
        if (arguments.contains(junit))
            VerifyJUnit(junit, status);
        if (midway == QStringLiteral("noise")) {
            // Markers never let a frame go sooner: one a timeout, and never
            // more than the line took; the problems shown are bounded.
            static const QRegularExpression summary(QStringLiteral("\\nsent (\\d+),"));
            const qint64 sent = summary.match(said).captured(1).toLongLong();
            qInfo("noise: %lld frames settled, %lld frames' bytes taken by the line", sent, line.size() / 12);
            QVERIFY(sent > 0 && sent <= 1300 / 50);
            QVERIFY(sent * 12 <= line.size());
            QVERIFY2(said.count(QLatin1Char('\n')) < 120, qPrintable(QString::number(said.count('\n'))));
            // A line each for the first hundred, as the manual says.
            static const QRegularExpression problem(QStringLiteral("^(frame \\d+: |wrong value between frames)"),
                                                    QRegularExpression::MultilineOption);
            qsizetype shown = 0;
            for (auto lines = problem.globalMatch(said); lines.hasNext(); lines.next())
                ++shown;
            QCOMPARE(shown, qsizetype(100));
        }
    }
};

QTEST_GUILESS_MAIN(TestCheck)
#include "tst_check.moc"
