#include "check_line.h"
#include "check_rules.h"
#include "check_tally.h"
#include "frame_matcher.h"
#include "line_probe.h"
#include "run_formats.h"
#include "virtual_cable.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <memory>
#include <set>

Q_DECLARE_METATYPE(LineFault)
Q_DECLARE_METATYPE(CheckTally)
Q_DECLARE_METATYPE(std::vector<double>)
Q_DECLARE_METATYPE(LineSettings)

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

// What fills the slave's line to hold its frames up is the test's, not the
// link's: it never reaches the master.
QByteArray Unfilled(qint64, char byte)
{
    return byte == 'x' ? QByteArray() : QByteArray(1, byte);
}

// Every frame on the line is the window's, each with a value of its own
// within 0..32000, and together they put each hex digit on the lowest place.
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
    QCOMPARE(digits[3].size(), std::size_t(16));
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
    static const QStringList names{"pass", "fail", "setup", "lost", "interrupted"};
    QCOMPARE(object.value(QStringLiteral("verdict")).toString(), names.value(status));
}

// One suite named comloop-check, a test case per check that ran, and a
// failure or an error exactly where the run did not pass, counted as the
// suite says, which is what a CI server shows.
void VerifyJUnit(const QString &path, int status)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    int found = 0;
    int counted = -1;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QStringLiteral("testsuite")) {
            QCOMPARE(xml.attributes().value(QStringLiteral("name")).toString(), QStringLiteral("comloop-check"));
            counted = xml.attributes().value(QStringLiteral("failures")).toInt()
                + xml.attributes().value(QStringLiteral("errors")).toInt();
        } else if (xml.name() == QStringLiteral("failure") || xml.name() == QStringLiteral("error")) {
            ++found;
        }
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(found > 0, status != 0);
    QCOMPARE(counted, found);
}

} // namespace

// comloop-check as a script runs it, over COM3 and COM4 on pseudo-terminals
// joined by the test's own cable, sound or faulty.
class TestCheck : public QObject
{
    Q_OBJECT

private slots:
    // How a run's counts read, and whether its frames came back intact.
    void tally_data()
    {
        QTest::addColumn<CheckTally>("tally");
        QTest::addColumn<QString>("says");
        QTest::addColumn<bool>("intact");
        CheckTally even;
        even.sent = even.received = 4;
        for (double ms : {10, 1, 3, 2})
            even.roundTrips.Add(ms);
        QTest::newRow("the median of an even count") << even << "median 2.50 ms, max 10.00 ms" << true;
        CheckTally late;
        late.sent = 3;
        late.received = 2;
        late.late = 1;
        QTest::newRow("a late frame came intact")
            << late << "sent 3, received 2, late 1, corrupt 0, wrong 0, missing 0, stray bytes 0" << true;
        CheckTally corrupt = late;
        corrupt.late = 0;
        corrupt.corrupt = 1;
        QTest::newRow("a frame corrupt") << corrupt << "corrupt 1" << false;
        CheckTally wrong = late;
        wrong.wrong = 1;
        QTest::newRow("a frame nobody sent") << wrong << "wrong 1" << false;
        CheckTally stray = late;
        stray.strayBytes = 2;
        QTest::newRow("bytes between frames") << stray << "stray bytes 2" << false;
        CheckTally reordered = late;
        reordered.reordered = 1;
        QTest::newRow("a frame out of order") << reordered << "stray bytes 0, reordered 1\n" << false;
        CheckTally missing = late;
        missing.late = 0;
        missing.missing = 1;
        missing.bytes = 24;
        missing.seconds = 2;
        QTest::newRow("frames a second are those sent") << missing << "12 B/s against the line's nominal 960 B/s; 2 frames/s"
                                                        << false;
        QTest::newRow("nothing settled proves nothing") << CheckTally() << "round trip: no frame came back intact" << false;
    }
    void tally()
    {
        QFETCH(CheckTally, tally);
        QFETCH(QString, says);
        QFETCH(bool, intact);
        QVERIFY2(Summary(tally, 960).contains(says), qPrintable(Summary(tally, 960)));
        QCOMPARE(Intact(tally), intact);
    }

    // What a line asked for means in time, and how a technician names it.
    void line_data()
    {
        QTest::addColumn<LineSettings>("line");
        QTest::addColumn<QString>("name");
        QTest::addColumn<double>("byteMs");
        QTest::addColumn<int>("timeoutMs");
        QTest::newRow("the window's line") << LineSettings{} << "9600 8N1" << 10 / 9.6 << 125;
        // Too fast for ten frame times to outlast an adapter's latency.
        QTest::newRow("a fast line with parity, two stop bits and flow control")
            << LineSettings{115200, 8, Parity::Even, 2, Flow::RtsCts} << "115200 8E2 RTS/CTS" << 12 / 115.2 << 50;
        QTest::newRow("a slow 7-bit line with odd parity")
            << LineSettings{1200, 7, Parity::Odd, 1} << "1200 7O1" << 10 / 1.2 << 1000;
    }
    void line()
    {
        QFETCH(LineSettings, line);
        QFETCH(QString, name);
        QFETCH(double, byteMs);
        QFETCH(int, timeoutMs);
        QCOMPARE(LineName(line), name);
        QVERIFY2(qAbs(ByteMs(line) - byteMs) < 1e-9, qPrintable(QString::number(ByteMs(line))));
        QCOMPARE(DefaultTimeoutMs(line), timeoutMs);
    }

    // How the line's pace reads from the fastest round trip, against the
    // Far more round trips than are kept: the extremes stay exact and the
    // median near the middle.
    void manyRoundTrips()
    {
        RoundTrips trips;
        for (int i = 200000; i > 0; --i)
            trips.Add(i / 1000.0);
        QCOMPARE(trips.Fastest(), 0.001);
        QCOMPARE(trips.Slowest(), 200.0);
        QVERIFY2(qAbs(trips.Median() - 100) < 2, qPrintable(QString::number(trips.Median())));
    }
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
        QTest::newRow("just too slow: 2.1 wire times") << std::vector<double>{26.25} << int(Timing::Slow) << 2.1;
        QTest::newRow("an adapter's 16 ms latency") << std::vector<double>{45.0, 40.0} << int(Timing::Slow) << 3.2;
        QTest::newRow("nothing came back") << std::vector<double>{} << int(Timing::Unknown) << 1.0;
    }
    void timing()
    {
        QFETCH(std::vector<double>, roundTripsMs);
        QFETCH(int, timing);
        QFETCH(double, factor);
        RoundTrips trips;
        for (double ms : roundTripsMs)
            trips.Add(ms);
        const TimingReading reading = ReadTiming(trips, 12.5);
        QCOMPARE(int(reading.timing), timing);
        QVERIFY2(qAbs(reading.factor - factor) < 0.01, qPrintable(QString::number(reading.factor)));
    }

    // A setting the driver left as it was is said, in the words of the
    // line asked for.
    void settingsNotTaken()
    {
        QCOMPARE(NotTaken({}, {9600, 8, Parity::None, 2, Flow::None}),
                 QStringList{QStringLiteral("1 stop bit (it uses 2 stop bits)")});
    }

    // The one judge: a record in; the exit status, and every report made
    // from the record and that verdict, out. The JUnit file holds a failure
    // or an error exactly when the status is not 0, and the JSON summary's
    // exit is the status.
    void judge_data()
    {
        QTest::addColumn<QStringList>("checks"); // name=outcome: passed, failed, could not run
        QTest::addColumn<int>("end");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        const int done = int(RunEnd::Done);
        QTest::newRow("all passed") << QStringList{"settings=passed", "frames=passed"} << done << 0 << "verdict: pass";
        QTest::newRow("frames failed") << QStringList{"settings=passed", "frames=failed"} << done << 1 << "verdict: fail";
        QTest::newRow("frames passed, the counters found errors")
            << QStringList{"frames=passed", "counters=failed"} << done << 1 << "(exit status 1)";
        QTest::newRow("a check asked for could not run")
            << QStringList{"isolation=could not run", "frames=passed"} << done << 2 << "verdict: setup";
        QTest::newRow("a fault, and a check that could not run")
            << QStringList{"lines=could not run", "frames=failed"} << done << 1 << "verdict: fail";
        QTest::newRow("a port lost") << QStringList{"lines=failed", "frames=could not run"} << int(RunEnd::PortLost) << 3
                                     << "a port was lost after 0 of 100 frames";
        QTest::newRow("interrupted, every frame so far intact")
            << QStringList{"frames=could not run"} << int(RunEnd::Interrupted) << 4 << "interrupted after 0 of 100";
        QTest::newRow("interrupted after a fault")
            << QStringList{"frames=failed"} << int(RunEnd::Interrupted) << 1 << "verdict: fail";
        QTest::newRow("a report that could not be written")
            << QStringList{"frames=passed", "output=could not run"} << done << 2 << "output: why";
        QTest::newRow("the output failed midway")
            << QStringList{"frames=could not run", "output=could not run"} << int(RunEnd::OutputFailed) << 2
            << "verdict: setup";
        QTest::newRow("the ports would not open")
            << QStringList{"setup=could not run"} << int(RunEnd::SetupFailed) << 2 << "verdict: setup (exit status 2)";
    }
    void judge()
    {
        QFETCH(QStringList, checks);
        QFETCH(int, end);
        QFETCH(int, status);
        QFETCH(QString, says);
        RunRecord record;
        record.framesAsked = 100;
        record.end = RunEnd(end);
        for (const QString &check : checks) {
            const QStringList parts = check.split(QLatin1Char('='));
            const CheckResult::Outcome outcome = parts[1] == "passed" ? CheckResult::Passed
                                                 : parts[1] == "failed" ? CheckResult::Failed
                                                                        : CheckResult::CouldNotRun;
            record.checks.push_back(
                {parts[0], outcome, outcome == CheckResult::Passed ? QString() : "why", {parts[0] + " said so"}});
        }
        const Verdict verdict = Judge(record);
        QCOMPARE(verdict.status, status);
        const QString text = SummaryLines(record, verdict).join(QLatin1Char('\n'));
        QVERIFY2(text.contains(says), qPrintable(text));
        QCOMPARE(SummaryObject(record, verdict).value(QStringLiteral("exit")).toInt(), status);
        QTemporaryDir dir;
        QFile junit(dir.filePath(QStringLiteral("junit.xml")));
        const QByteArray xml = JUnitReport(record, verdict);
        QVERIFY(junit.open(QIODevice::WriteOnly) && junit.write(xml) > 0);
        junit.close();
        VerifyJUnit(junit.fileName(), status);
        // A case that passed keeps what it said, for the CI server to show.
        for (const CheckResult &check : record.checks)
            if (check.outcome == CheckResult::Passed)
                QVERIFY2(xml.contains("<system-out>" + check.name.toUtf8() + " said so</system-out>"), xml.constData());
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
    // --until-ber: frames enough that the bound is below the rate, not at it.
    void framesForBound_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<qint64>("frames");
        QTest::newRow("3000 bits would be at 1e-3, not below") << 1e-3 << qint64(32);
        QTest::newRow("1e-6") << 1e-6 << qint64(31251);
    }
    void framesForBound()
    {
        QFETCH(double, rate);
        QFETCH(qint64, frames);
        QCOMPARE(FramesForBound(rate, 96), frames);
        QVERIFY(BerBelow95(96 * frames) < rate && BerBelow95(96 * (frames - 1)) >= rate);
    }

    // What comes is matched byte for byte. Steps: "send", "timeout" (of the
    // oldest frame awaited), "#N" frame N's bytes (counted from 1), "#N[a,b)"
    // a slice of them, "#N^k/m" them with byte k xored with m, "=text" bytes
    // as they are; the run then finishes.
    void matching_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("counts");
        QTest::addColumn<qint64>("bitErrors");
        const auto row = [](const char *name, QStringList steps, const char *counts, qint64 errors) {
            QTest::newRow(name) << steps << QString::fromLatin1(counts) << errors;
        };
        row("two frames intact", {"send", "#1", "send", "#2"}, "sent 2, received 2, late 0, corrupt 0, wrong 0, missing 0", 0);
        row("a preamble byte with a bit flipped", {"send", "#1^2/1", "timeout"}, "sent 1, received 0, late 0, corrupt 1", 1);
        row("a digit 0 turned into p, judged before its timeout", {"send", "#1^8/64"}, "corrupt 1, wrong 0, missing 0", 1);
        row("twelve bytes of noise, then the frame", {"send", "=xxxxxxxxxxxx", "#1"},
            "received 1, late 0, corrupt 0, wrong 0, missing 0, stray bytes 12", 12);
        row("a digit turned into another value", {"send", "#1^11/1", "timeout"}, "corrupt 0, wrong 1, missing 1", 1);
        row("a frame of an earlier run, then this one's",
            {"send", "=Bizzard?1234", "#1"}, "sent 1, received 1, late 0, corrupt 0, wrong 1", 7);
        row("begun before its timeout, whole after it",
            {"send", "#1[0,11)", "timeout", "#1[11,12)"},
            "sent 1, received 0, late 1, corrupt 0, wrong 0, missing 0, stray bytes 0\nround trip: median", 0);
        row("a byte lost, then the next frame whole",
            {"send", "#1[0,11)", "timeout", "send", "#2"}, "sent 2, received 1, late 0, corrupt 1, wrong 0, missing 0", 8);
        row("a swapped pair", {"send", "timeout", "send", "#2", "#1"}, "sent 2, received 1, late 1, corrupt 0", 0);
        row("a frame twice", {"send", "#1", "#1"}, "received 1, late 0, corrupt 0, wrong 1", 1);
        row("bytes between frames", {"send", "#1", "=??", "send", "#2"}, "received 2, late 0, corrupt 0, wrong 0, missing 0, stray bytes 2", 2);
        row("the rest of the last read", {"send", "#1", "=Biz"}, "received 1, late 0, corrupt 0, wrong 0, missing 0, stray bytes 3", 3);
        row("the last frame cut short by the line", {"send", "#1[0,11)", "timeout"}, "corrupt 1, wrong 0, missing 0", 8);
        row("a frame cut short by the end of the run", {"send", "#1[0,5)"}, "sent 0, received 0, late 0, corrupt 0", 0);
        // Many awaited at once, as in a stream: each is told by its value.
        row("a frame dropped from a stream", {"send", "send", "send", "#1", "#3", "timeout"},
            "sent 3, received 2, late 0, corrupt 0, wrong 0, missing 1, stray bytes 0\n", 0);
        row("a frame twice in a stream", {"send", "send", "#1", "#1", "#2"},
            "sent 2, received 2, late 0, corrupt 0, wrong 1, missing 0, stray bytes 0\n", 1);
        row("a pair swapped in a stream", {"send", "send", "send", "#2", "#1", "#3"},
            "sent 3, received 3, late 0, corrupt 0, wrong 0, missing 0, stray bytes 0, reordered 1", 0);
        row("a byte lost in a stream, the next frame whole", {"send", "send", "#1[0,11)", "#2"},
            "sent 2, received 1, late 0, corrupt 1, wrong 0, missing 0, stray bytes 0\n", 8);
    }
    void matching()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, counts);
        QFETCH(qint64, bitErrors);
        FrameMatcher matcher(0);
        static const QRegularExpression frame(QStringLiteral("^#(\\d+)(?:\\[(\\d+),(\\d+)\\))?(?:\\^(\\d+)/(\\d+))?$"));
        qint64 ns = 0;
        for (const QString &step : steps) {
            ns += 1000000;
            if (step == QStringLiteral("send")) {
                matcher.Send(ns);
            } else if (step == QStringLiteral("timeout")) {
                matcher.TimedOut(ns);
            } else if (step.startsWith(QLatin1Char('='))) {
                matcher.Arrived(step.mid(1).toLatin1(), ns);
            } else {
                const QRegularExpressionMatch parts = frame.match(step);
                QVERIFY2(parts.hasMatch(), qPrintable(step));
                QByteArray bytes = FrameBytes(FrameValue(0, parts.captured(1).toLongLong() - 1));
                if (!parts.captured(4).isEmpty())
                    bytes[parts.captured(4).toInt()] = char(bytes[parts.captured(4).toInt()] ^ parts.captured(5).toInt());
                if (!parts.captured(2).isEmpty())
                    bytes = bytes.mid(parts.captured(2).toInt(), parts.captured(3).toInt() - parts.captured(2).toInt());
                matcher.Arrived(bytes, ns);
            }
        }
        matcher.Finish(ns);
        const QString summary = Summary(matcher.Tally(), 960);
        QVERIFY2(summary.contains(counts), qPrintable(summary));
        QCOMPARE(matcher.Tally().bitErrors, bitErrors);
        // Every byte that came was compared, 96 bits a frame.
        const CheckTally &tally = matcher.Tally();
        QCOMPARE(tally.bitsCompared,
                 96 * (tally.received + tally.late + tally.corrupt + tally.wrong) + 8 * tally.strayBytes);
    }

    // Frames' values are all different for as long as there are values, so
    // one that comes late is never taken for another; a seed only moves
    // where a run starts.
    void frameValuesAreDistinct()
    {
        std::set<std::int32_t> values;
        for (qint64 n = 0; n < kFrameValues; ++n) {
            const std::int32_t value = FrameValue(0, n);
            QVERIFY(value >= 0 && value <= 32000);
            QVERIFY2(values.insert(value).second, qPrintable(QString::number(n)));
        }
        QCOMPARE(FrameValue(0, kFrameValues), FrameValue(0, 0));
        QCOMPARE(FrameValue(31990, 20), FrameValue(0, 9));

        // Once the values begin again, a frame owed from the round before
        // can no longer be told from the new one: it stays missing.
        FrameMatcher matcher(0);
        const FrameMatcher::Frame first = matcher.Send(0);
        matcher.TimedOut(1);
        for (qint64 n = 1; n < kFrameValues; ++n)
            matcher.Arrived(FrameBytes(matcher.Send(n).value), n);
        const FrameMatcher::Frame again = matcher.Send(0);
        QCOMPARE(again.value, first.value);
        matcher.Arrived(FrameBytes(again.value) + FrameBytes(again.value), 1);
        QCOMPARE(matcher.Tally().received, kFrameValues);
        QCOMPARE(matcher.Tally().wrong, 1);
        QCOMPARE(matcher.Tally().missing, 1);
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
            << QStringList{"master: COM3 → ", "sent 40, received 40, late 0, corrupt 0, wrong 0, missing 0, stray bytes 0", "round trip: median"};
        QTest::newRow("sound cable, device paths")
            << QStringList{"{master}", "{slave}", "-n", "20"} + slow << LineFault() << "" << 0
            << QStringList{"sent 20, received 20, late 0, corrupt 0, wrong 0, missing 0"};
        // A digit turned into another is a frame nobody sent, and the frame
        // sent never came back.
        QTest::newRow("a digit corrupted now and then")
            << QStringList{"3", "4", "-n", "20", "-t", "300", "--seed", "0"} << Faulty(10, 3, 7, Flipped) << "" << 1
            << QStringList{"sent 20, received 17, late 0, corrupt 0, wrong 3, missing 3",
                           "frame 4: wrong frame: sent Bizzard?1E93, got Bizzard?1E83, a value this run never sent (1 bit wrong)",
                           "frame 18: missing"};
        // What is left of a lost frame must not cost the next one too.
        QTest::newRow("a digit lost now and then")
            << QStringList{"3", "4", "-n", "20", "-t", "500", "--seed", "0"} << Faulty(9, 3, 10, Lost) << "" << 1
            << QStringList{"sent 20, received 18, late 0, corrupt 2, wrong 0, missing 0",
                           "frame 4: corrupt: sent Bizzard?1E93, got Bizzard?193", "frame 14: corrupt"};
        // Every byte is compared, the preamble's too.
        QTest::newRow("a marker inside the preamble")
            << QStringList{"3", "4", "-n", "20", "-t", "300", "--seed", "0"} << Faulty(2, 3, 100, Marker) << "" << 1
            << QStringList{"sent 20, received 19, late 0, corrupt 1, wrong 0, missing 0",
                           "frame 4: corrupt: sent Bizzard?1E93, got Bi?zard?1E93 (3 bits wrong)"};
        // A byte no terminal shows is written by its code: the line says
        // what came, and stays one line.
        QTest::newRow("a digit turned into DEL")
            << QStringList{"3", "4", "-n", "20", "-t", "300", "--seed", "0"} << Faulty(10, 3, 100, Deleted) << "" << 1
            << QStringList{"sent 20, received 19, late 0, corrupt 1, wrong 0, missing 0", "got Bizzard?1E\\x7f3 ("};
        QTest::newRow("a frame echoed twice")
            << QStringList{"3", "4", "-n", "20"} + slow << EchoedTwice(5) << "" << 1
            << QStringList{"sent 20, received 20, late 0, corrupt 0, wrong 1, missing 0", "frame 6: came again"};
        // Many frames on their way at once, each still told by its value: a
        // lost byte costs only its own frame, however close the next.
        QTest::newRow("a stream through a relay that drops bytes")
            << QStringList{"3", "4", "--stream", "1", "--seed", "0"} << Faulty(9, 3, 10, Lost) << "" << 1
            << QStringList{"frame 4: corrupt: sent Bizzard?1E93, got Bizzard?193 (",
                           "wrong 0, missing 0, stray bytes 0\n", "B/s against the line's nominal 960 B/s"};
        const QStringList endless = QStringList{"3", "4", "-n", "100000000"} + slow;
        // Never a pass: the run did not get to its end.
        QTest::newRow("Ctrl-C") << endless << LineFault() << "Ctrl-C" << 4
                                << QStringList{"interrupted after ", "wrong 0, missing 0, stray bytes 0\nround trip",
                                               "verdict: interrupted (exit status 4)"};
        QTest::newRow("Ctrl-C before anything came back")
            << QStringList{"3", "4", "-n", "100000000", "-t", "100000"} << LineFault(Dropped) << "Ctrl-C" << 4
            << QStringList{"interrupted after 0 of ", "sent 0, received 0"};
        QTest::newRow("HUP") << endless << LineFault() << "HUP" << 4 << QStringList{"interrupted after "};
        QTest::newRow("Ctrl-C ignored when started, then TERM")
            << endless << LineFault() << "Ctrl-C ignored" << 4 << QStringList{"interrupted after "};
        // Frames held up for longer than their timeout come after all: late,
        // each one matched to the frame that carried it, none wrong. The
        // slave's line is full meanwhile, so a frame waits in the port: for
        // 0.6 s that is a stall, not a line stuck.
        QTest::newRow("the cable stalls for 0.6 s")
            << QStringList{"3", "4", "-n", "100000000", "-t", "40"} << LineFault(Unfilled) << "stall" << 4
            << QStringList{"came after all", "wrong 0, missing 0"};
        // The slave's line carries, but nothing reaches the master from it.
        QTest::newRow("noise at the master")
            << QStringList{"3", "4", "-n", "100000000", "-t", "50"} << LineFault(Dropped) << "noise" << 1
            << QStringList{"more problems not shown", "stray bytes that belong to no frame: ????"};
        // The reader leaves after one line, and the run ends soon after,
        // though it has nothing more to write on a sound cable.
        QTest::newRow("standard output read by head -n 1")
            << endless << LineFault() << "head -n 1" << 4 << QStringList{"seed "};
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
        // Each direction on its own wire: one cut fails the run by name, and
        // the other still passes.
        QTest::newRow("--both, the wire from master to slave cut")
            << QStringList{"3", "4", "-n", "10", "--both", "-t", "200"} << LineFault() << "one way" << 1
            << QStringList{"slave to master: sent 10, received 10", "master to slave: frame 1: missing",
                           "master to slave: sent 10, received 0, late 0, corrupt 0, wrong 0, missing 10",
                           "none wrong); the 10 missing frames are not in it"};
        // A pseudo-terminal moves bytes far faster than 9600 baud allows.
        QTest::newRow("--require-wire on pseudo-terminals")
            << QStringList{"3", "4", "-n", "5", "--require-wire"} + slow << LineFault() << "" << 1
            << QStringList{"--require-wire: virtual", "verdict: fail"};
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
            << QStringList{"3", "4", "-n", "20", "-t", "300", "--seed", "0", "--json", "--junit", "{junit}"}
            << Faulty(10, 3, 7, Flipped) << "" << 1
            << QStringList{"\"type\":\"problem\"", "frame 4: wrong frame", "\"ber_below_95\":null",
                           "\"verdict\":\"fail\""};
        // On a terminal, JSON lines stay JSON: no progress among them.
        QTest::newRow("--json on a terminal")
            << QStringList{"3", "4", "-n", "100000000", "--json"} + slow << LineFault() << "terminal" << 4
            << QStringList{"\"verdict\":\"interrupted\""};
        // A report nobody can read is a run that proved nothing: never a
        // pass, never a link fault, and never a wait for a reader.
        QTest::newRow("standard output on a full disk")
            << QStringList{"3", "4", "-n", "5"} << LineFault() << "full" << 2
            << QStringList{"cannot write standard output: No space left on device"};
        QTest::newRow("--json, and the JUnit report on a full disk")
            << QStringList{"3", "4", "-n", "5", "--json", "--junit", "/dev/full"} << LineFault() << "" << 2
            << QStringList{"cannot write the JUnit report to /dev/full: No space left on device", "\"exit\":2"};
        QTest::newRow("the JUnit report to a FIFO nobody reads")
            << QStringList{"3", "4", "--junit", "{fifo}"} << LineFault() << "" << 2 << QStringList{"nobody reads it"};
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
        QTest::newRow("--until-ber with --frames") << QStringList{"3", "4", "-n", "5", "--until-ber", "1e-6"}
                                                   << LineFault() << "" << 2 << QStringList{"give one"};
        QTest::newRow("a stream and a count of frames")
            << QStringList{"3", "4", "--stream", "2", "-n", "5"} << LineFault() << "" << 2
            << QStringList{"each set how long a run lasts"};
        // The line: a pseudo-terminal keeps any rate, even one outside the
        // standard ones, and the stop bits and flow control, and the run is
        // judged by the line asked for; it never takes parity or 7 bits.
        QTest::newRow("a rate of its own, two stop bits and RTS/CTS")
            << QStringList{"3", "4", "-n", "20", "--baud", "250000", "--stop-bits", "2", "--flow", "rtscts"} + slow
            << LineFault() << "" << 0
            << QStringList{"against the line's nominal 22727 B/s", " 250000 8N2 RTS/CTS ", "verdict: pass"};
        QTest::newRow("7 data bits and odd parity on pseudo-terminals")
            << QStringList{"3", "4", "-n", "5", "--data-bits", "7", "--parity", "odd"} + slow << LineFault() << "" << 1
            << QStringList{"master: the device did not take 7 data bits (it uses 8)",
                           "slave: the device did not take odd parity (it uses no parity)", "sent 5, received 5"};
        QTest::newRow("no rate") << QStringList{"3", "4", "--baud", "0"} << LineFault() << "" << 2
                                 << QStringList{"--baud wants a rate in bits a second from 1 up, not \"0\""};
        QTest::newRow("6 data bits") << QStringList{"3", "4", "--data-bits", "6"} << LineFault() << "" << 2
                                     << QStringList{"--data-bits wants 7 or 8, not \"6\""};
        QTest::newRow("mark parity") << QStringList{"3", "4", "--parity", "mark"} << LineFault() << "" << 2
                                     << QStringList{"--parity wants none, even or odd, not \"mark\""};
        QTest::newRow("1.5 stop bits") << QStringList{"3", "4", "--stop-bits", "1.5"} << LineFault() << "" << 2
                                       << QStringList{"--stop-bits wants 1 or 2, not \"1.5\""};
        QTest::newRow("XON/XOFF") << QStringList{"3", "4", "--flow", "xonxoff"} << LineFault() << "" << 2
                                  << QStringList{"--flow wants none or rtscts, not \"xonxoff\""};
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
        // Back from the master to the slave, for --both, unless cut.
        std::unique_ptr<Bridge> back;
        if (arguments.contains(QStringLiteral("--both")) && midway != QStringLiteral("one way"))
            back = std::make_unique<Bridge>(master, slave);
        arguments.replaceInStrings(QStringLiteral("{master}"), master.Device());
        arguments.replaceInStrings(QStringLiteral("{slave}"), slave.Device());
        QTemporaryDir reports;
        const QString junit = reports.filePath(QStringLiteral("junit.xml"));
        arguments.replaceInStrings(QStringLiteral("{junit}"), junit);
        const QString fifo = reports.filePath(QStringLiteral("fifo"));
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        arguments.replaceInStrings(QStringLiteral("{fifo}"), fifo);

        std::unique_ptr<PtyEnd> terminal;
        if (midway == QStringLiteral("terminal"))
            terminal = std::make_unique<PtyEnd>();

        // Whatever stands in for standard output is opened here: Qt starts
        // the child with vfork, so the child may only do plain system calls
        // on what the parent prepared.
        int output = -1;
        int stalled[2] = {-1, -1};
        if (midway == QStringLiteral("full"))
            output = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
        if (midway == QStringLiteral("stalled")) {
            // The smallest pipe there is, whose reader never reads.
            QVERIFY(::pipe2(stalled, O_CLOEXEC) == 0 && ::fcntl(stalled[1], F_SETPIPE_SZ, 4096) >= 0);
            output = stalled[1];
        }
        if (terminal)
            output = ::open(QFile::encodeName(terminal->Device()).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        const auto closeAfter = qScopeGuard([&] {
            for (int fd : {stalled[0], stalled[1] == output ? -1 : stalled[1], output})
                if (fd >= 0)
                    ::close(fd);
        });
        const bool ignoreInterrupt = midway == QStringLiteral("Ctrl-C ignored");
        const bool closeOutput = midway == QStringLiteral("closed");

        QProcess check;
        // What the run relies on, whatever the test runner was started with.
        check.setChildProcessModifier([output, ignoreInterrupt, closeOutput] {
            for (int sig : {SIGINT, SIGTERM, SIGHUP})
                std::signal(sig, SIG_DFL);
            if (ignoreInterrupt)
                std::signal(SIGINT, SIG_IGN);
            if (closeOutput)
                ::close(STDOUT_FILENO);
            if (output >= 0)
                ::dup2(output, STDOUT_FILENO);
        });
        if (midway == QStringLiteral("head -n 1"))
            check.start(QStringLiteral("/bin/bash"),
                        QStringList{QStringLiteral("-c"), QStringLiteral("\"$0\" \"$@\" | head -n 1; exit ${PIPESTATUS[0]}"),
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
        } else if (!midway.isEmpty() && midway != QStringLiteral("closed") && midway != QStringLiteral("head -n 1")
                   && midway != QStringLiteral("full")) {
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
            static const QRegularExpression problem(QStringLiteral("^(frame \\d+: |\\d+ stray bytes)"),
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
