#include "run_formats.h"

#include "check_rules.h"

#include <QJsonArray>
#include <QXmlStreamWriter>

#include <algorithm>

namespace {

QString OutcomeName(CheckResult::Outcome outcome)
{
    switch (outcome) {
    case CheckResult::Passed:
        return QStringLiteral("passed");
    case CheckResult::Failed:
        return QStringLiteral("failed");
    case CheckResult::CouldNotRun:
        return QStringLiteral("could not run");
    case CheckResult::NotAsked:
        break;
    }
    return QStringLiteral("not asked");
}

QString EndName(RunEnd end)
{
    switch (end) {
    case RunEnd::Done:
        return QStringLiteral("done");
    case RunEnd::Interrupted:
        return QStringLiteral("interrupted");
    case RunEnd::PortLost:
        return QStringLiteral("port lost");
    case RunEnd::OutputFailed:
        return QStringLiteral("output failed");
    case RunEnd::SetupFailed:
        break;
    }
    return QStringLiteral("setup failed");
}

// A tally's counts as the summary gives them, for the run and for each
// direction alike.
QJsonObject CountsObject(const CheckTally &tally, const LineFacts &line)
{
    QJsonObject rtt;
    if (!tally.roundTrips.Empty()) {
        rtt.insert(QStringLiteral("median"), tally.roundTrips.Median());
        rtt.insert(QStringLiteral("max"), tally.roundTrips.Slowest());
    }
    return {{QStringLiteral("sent"), tally.sent},
            {QStringLiteral("received"), tally.received},
            {QStringLiteral("late"), tally.late},
            {QStringLiteral("corrupt"), tally.corrupt},
            {QStringLiteral("wrong"), tally.wrong},
            {QStringLiteral("missing"), tally.missing},
            {QStringLiteral("reordered"), tally.reordered},
            {QStringLiteral("stray_bytes"), tally.strayBytes},
            {QStringLiteral("rtt_ms"), rtt},
            {QStringLiteral("bytes_per_s"), tally.seconds > 0 ? double(tally.bytes) / tally.seconds : 0.0},
            {QStringLiteral("timing"), TimingName(ReadTiming(tally.roundTrips, line.frameOnLineMs).timing)},
            {QStringLiteral("bits_compared"), tally.bitsCompared},
            {QStringLiteral("bit_errors"), tally.bitErrors},
            {QStringLiteral("ber_below_95"), tally.bitErrors == 0 && tally.bitsCompared > 0
                                                 ? QJsonValue(BerBelow95(tally.bitsCompared))
                                                 : QJsonValue()}};
}

bool Asked(const CheckResult &check)
{
    return check.outcome != CheckResult::NotAsked;
}

// How far a run got: of the frames planned, or of a stream, which plans none.
QString FramesSettled(const RunRecord &record)
{
    const qint64 sent = record.Total().sent;
    if (record.framesAsked == 0)
        return QStringLiteral("%1 frames").arg(sent);
    return QStringLiteral("%1 of %2 frames").arg(sent).arg(record.framesAsked);
}

} // namespace

QString EndText(const RunRecord &record)
{
    switch (record.end) {
    case RunEnd::Done:
        break;
    case RunEnd::Interrupted:
        return QStringLiteral("interrupted after %1").arg(FramesSettled(record));
    case RunEnd::PortLost:
        return QStringLiteral("a port was lost after %1").arg(FramesSettled(record));
    case RunEnd::SetupFailed:
        return QStringLiteral("the run could not begin");
    case RunEnd::OutputFailed:
        return QStringLiteral("stopped after %1: its output could not be written").arg(FramesSettled(record));
    }
    return {};
}

QStringList SummaryLines(const RunRecord &record, const Verdict &verdict)
{
    QStringList lines;
    if (record.end == RunEnd::SetupFailed) {
        lines << QStringLiteral("verdict: %1 (exit status %2)").arg(verdict.name).arg(verdict.status);
        return lines;
    }
    const CheckTally tally = record.Total();
    if (record.end != RunEnd::Done)
        lines << EndText(record);
    if (record.problems > record.shownProblems)
        lines << QStringLiteral("%1 more problems not shown").arg(record.problems - record.shownProblems);
    // Each direction on lines of its own, led by its name where there are two.
    for (const DirectionRun &direction : record.directions) {
        const QString lead = record.directions.size() > 1 ? direction.name + QStringLiteral(": ") : QString();
        for (const QString &line : Summary(direction.tally, record.line.nominalBytesPerSecond).split(QLatin1Char('\n')))
            lines << lead + line;
    }
    lines << TimingText(ReadTiming(tally.roundTrips, record.line.frameOnLineMs), record.line.frameOnLineMs,
                        record.line.name);
    // A frame that never came has no bit to compare: the rate says nothing
    // of it, and says so.
    lines << ErrorRateText(tally.bitsCompared, tally.bitErrors)
            + (tally.missing == 1  ? QStringLiteral("; the missing frame is not in it")
               : tally.missing > 1 ? QStringLiteral("; the %1 missing frames are not in it").arg(tally.missing)
                                   : QString());
    for (const CheckResult &check : record.checks)
        if (check.outcome == CheckResult::CouldNotRun && check.name == QStringLiteral("output"))
            lines << QStringLiteral("output: %1").arg(check.reason);
    lines << record.notes;
    lines << QStringLiteral("verdict: %1 (exit status %2)").arg(verdict.name).arg(verdict.status);
    return lines;
}

QJsonObject SummaryObject(const RunRecord &record, const Verdict &verdict)
{
    QJsonArray checks;
    for (const CheckResult &check : record.checks) {
        if (!Asked(check))
            continue;
        QJsonObject object{{QStringLiteral("name"), check.name}, {QStringLiteral("outcome"), OutcomeName(check.outcome)}};
        if (!check.reason.isEmpty())
            object.insert(QStringLiteral("reason"), check.reason);
        checks.append(object);
    }
    QJsonObject summary{{QStringLiteral("seed"), record.seed},
                        {QStringLiteral("end"), EndName(record.end)},
                        {QStringLiteral("checks"), checks},
                        {QStringLiteral("verdict"), verdict.name},
                        {QStringLiteral("exit"), verdict.status}};
    if (record.end == RunEnd::SetupFailed)
        return summary;
    const QJsonObject counts = CountsObject(record.Total(), record.line);
    for (auto field = counts.begin(); field != counts.end(); ++field)
        summary.insert(field.key(), field.value());
    QJsonArray directions;
    for (const DirectionRun &direction : record.directions) {
        QJsonObject object = CountsObject(direction.tally, record.line);
        object.insert(QStringLiteral("direction"), direction.name);
        directions.append(object);
    }
    summary.insert(QStringLiteral("directions"), directions);
    summary.insert(QStringLiteral("frames"), record.framesAsked);
    summary.insert(QStringLiteral("problems"), record.problems);
    summary.insert(QStringLiteral("interrupted"), record.end == RunEnd::Interrupted);
    summary.insert(QStringLiteral("line"), record.line.name);
    summary.insert(QStringLiteral("mode"), record.mode);
    summary.insert(QStringLiteral("notes"), QJsonArray::fromStringList(record.notes));
    return summary;
}

QByteArray JUnitReport(const RunRecord &record, const Verdict &verdict)
{
    std::vector<CheckResult> cases;
    std::copy_if(record.checks.begin(), record.checks.end(), std::back_inserter(cases), Asked);
    if (record.end != RunEnd::Done)
        cases.push_back({QStringLiteral("run"), CheckResult::CouldNotRun, EndText(record), {}});
    const auto count = [&cases](CheckResult::Outcome outcome) {
        return QString::number(std::count_if(cases.begin(), cases.end(),
                                             [outcome](const CheckResult &check) { return check.outcome == outcome; }));
    };

    QByteArray report;
    QXmlStreamWriter xml(&report);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuite"));
    xml.writeAttribute(QStringLiteral("name"), QStringLiteral("comloop-check"));
    xml.writeAttribute(QStringLiteral("tests"), QString::number(cases.size()));
    xml.writeAttribute(QStringLiteral("failures"), count(CheckResult::Failed));
    xml.writeAttribute(QStringLiteral("errors"), count(CheckResult::CouldNotRun));
    xml.writeAttribute(QStringLiteral("time"), QString::number(record.Total().seconds, 'f', 3));
    xml.writeStartElement(QStringLiteral("properties"));
    for (const auto &[name, value] : {std::pair{QStringLiteral("verdict"), verdict.name},
                                      std::pair{QStringLiteral("exit"), QString::number(verdict.status)},
                                      std::pair{QStringLiteral("seed"), QString::number(record.seed)}}) {
        xml.writeStartElement(QStringLiteral("property"));
        xml.writeAttribute(QStringLiteral("name"), name);
        xml.writeAttribute(QStringLiteral("value"), value);
        xml.writeEndElement();
    }
    xml.writeEndElement();
    for (const CheckResult &check : cases) {
        xml.writeStartElement(QStringLiteral("testcase"));
        xml.writeAttribute(QStringLiteral("classname"), QStringLiteral("comloop-check"));
        xml.writeAttribute(QStringLiteral("name"), check.name);
        const QString text = check.lines.join(QLatin1Char('\n'));
        if (check.outcome == CheckResult::Passed) {
            if (!text.isEmpty())
                xml.writeTextElement(QStringLiteral("system-out"), text);
        } else {
            xml.writeStartElement(check.outcome == CheckResult::Failed ? QStringLiteral("failure") : QStringLiteral("error"));
            xml.writeAttribute(QStringLiteral("message"), check.reason);
            xml.writeCharacters(text);
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    return report;
}
