// comloop-check: the window's measurement from a script, for many frames,
// ending with a summary and an exit status (see --help).

#include "check_line.h"
#include "check_options.h"
#include "check_ports.h"
#include "check_report.h"
#include "check_run.h"
#include "frame_matcher.h"
#include "run_formats.h"
#include "run_judge.h"
#include "serial_port.h"
#include "session_end.h"
#include "stream_writer.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

constexpr int kTroubleStatus = 2; // a port, the arguments, or where the output goes
// How long the end of a run waits for its reports to be out: a reader that
// takes longer has stalled, and the run says so rather than wait for it.
constexpr int kReportMs = 1000;

void Complain(const QString &text)
{
    std::fputs(QStringLiteral("comloop-check: %1\n").arg(text).toUtf8().constData(), stderr);
}

// Where the run's reports go, and the one way a run ends: its record
// judged, the JUnit file and the summary made from that verdict, and a
// report that cannot be written judged into the verdict before any report
// says it.
struct Reports
{
    TStreamWriter out{TStreamWriter::Standard::Output, nullptr};
    TStreamWriter errors{TStreamWriter::Standard::Errors, nullptr};
    std::unique_ptr<TStreamWriter> junit;
    QString junitPath;

    static void Unwritten(CheckReport &report, RunRecord &record, const QString &reason)
    {
        report.Complaint(QStringLiteral("cannot write %1").arg(reason));
        CheckResult &output = record.Check(QStringLiteral("output"));
        output.outcome = CheckResult::CouldNotRun;
        output.reason = output.reason.isEmpty() ? reason : output.reason + QStringLiteral("; ") + reason;
    }

    bool WriteJUnit(const RunRecord &record, const Verdict &verdict)
    {
        junit->Write(JUnitReport(record, verdict));
        return junit->Drain(kReportMs);
    }

    int Conclude(CheckReport &report, RunRecord record)
    {
        // A standard output that failed, or whose reader left once the run
        // was over, has taken nothing of the report.
        const bool flowing = out.Drain(kReportMs);
        // A reader that left ends a run as Ctrl-C does, whether the run
        // noticed before its last frame or only now: | head cannot make
        // the same run end one way or the other by a matter of timing.
        if (!flowing && out.ReaderLeft() && record.end == RunEnd::Done)
            record.end = RunEnd::Interrupted;
        if (!flowing && record.end != RunEnd::Interrupted)
            Unwritten(report, record, QStringLiteral("standard output: %1").arg(out.Failure()));
        Verdict verdict = Judge(record);
        if (junit && !WriteJUnit(record, verdict)) {
            Unwritten(report, record, QStringLiteral("the JUnit report to %1: %2").arg(junitPath, junit->Failure()));
            verdict = Judge(record);
        }
        report.End(SummaryLines(record, verdict), SummaryObject(record, verdict));
        if (flowing && !out.Drain(kReportMs) && record.Find(QStringLiteral("output")) == nullptr) {
            // The disk filled up under the summary itself: the JUnit file,
            // written already, is made again to say so.
            Unwritten(report, record, QStringLiteral("standard output: %1").arg(out.Failure()));
            verdict = Judge(record);
            QString why;
            junit.reset(junit ? TStreamWriter::OpenFile(junitPath, &why, nullptr) : nullptr);
            if (junit)
                WriteJUnit(record, verdict);
        }
        errors.Drain(kReportMs);
        return verdict.status;
    }
};

} // namespace

int main(int argc, char **argv)
{
    // A run whose report nobody can read proves nothing to anybody, and a
    // closed stream's number would go to the next file opened: a port.
    if (!TStreamWriter::IsOpen(TStreamWriter::Standard::Output)
        || !TStreamWriter::IsOpen(TStreamWriter::Standard::Errors)) {
        if (TStreamWriter::IsOpen(TStreamWriter::Standard::Errors))
            Complain(QStringLiteral("standard output is closed, so no result could be read; "
                                    "send it to a file or to /dev/null instead"));
        return kTroubleStatus;
    }
    // A reader that goes away (| head) ends the run like Ctrl-C does.
    SurviveBrokenPipes();

    QCoreApplication application(argc, argv);
    const CheckRequest request = ParseCheckArguments(QCoreApplication::arguments());
    switch (request.kind) {
    case CheckRequest::Help:
    case CheckRequest::Version:
        std::fputs(request.text.toUtf8().constData(), stdout);
        return std::fflush(stdout) == 0 ? 0 : kTroubleStatus;
    case CheckRequest::Wrong:
        Complain(request.text + QStringLiteral("\nTry 'comloop-check --help' for more."));
        return kTroubleStatus;
    case CheckRequest::Run:
        break;
    }
    CheckOptions options = request.options;
    if (SamePort(options.master, options.slave)) {
        Complain(QStringLiteral("MASTER and SLAVE lead to the same device, %1; a link needs two ports")
                     .arg(DescribePort(options.master)));
        return kTroubleStatus;
    }
    // Every run its own values, so that frames an earlier run left in a
    // buffer or a relay are never taken for this one's.
    if (options.seed < 0)
        options.seed = qint64(QRandomGenerator::system()->bounded(quint32(kFrameValues)));

    Reports reports;
    // Found out now, not after a long run; and never waited for: a FIFO
    // nobody reads fails here instead of holding the run in open().
    if (!options.junit.isEmpty()) {
        QString why;
        reports.junitPath = options.junit;
        reports.junit.reset(TStreamWriter::OpenFile(options.junit, &why, nullptr));
        if (!reports.junit) {
            Complain(QStringLiteral("cannot write the JUnit report to %1: %2").arg(options.junit, why));
            return kTroubleStatus;
        }
    }
    CheckReport report(&reports.out, &reports.errors, options.json,
                       TStreamWriter::IsTerminal(TStreamWriter::Standard::Output));
    report.Head(options.seed, LineName(options.line), RunPlan(options));

    // From here on a Ctrl-C, a TERM or a closed terminal waits for the event
    // loop, which ends the run cleanly; one that comes while the ports open
    // is heard once the loop runs, and ends the run before a frame.
    TCheckRun *run = nullptr;
    const TSessionEnd sessionEnd(nullptr, [&run] {
        if (run)
            run->Interrupt();
    });
    TCommPort master(nullptr);
    TCommPort slave(nullptr);
    const struct Side
    {
        const char *name;
        TCommPort *port;
        const PortName &named;
    } sides[] = {{"master", &master, options.master}, {"slave", &slave, options.slave}};

    // Both are tried, so one run names every port that needs fixing.
    RunRecord refused;
    refused.seed = options.seed;
    refused.framesAsked = options.FramesInAll();
    refused.end = RunEnd::SetupFailed;
    for (const Side &side : sides) {
        if (OpenPort(*side.port, side.named, options.line))
            continue;
        const QString text = QStringLiteral("%1: The port can not open\n%2")
                                 .arg(QLatin1String(side.name), PortAdvice(*side.port));
        report.Complaint(text);
        CheckResult &setup = refused.Check(QStringLiteral("setup"));
        setup.outcome = CheckResult::CouldNotRun;
        setup.reason = setup.reason.isEmpty() ? QStringLiteral("%1: The port can not open").arg(QLatin1String(side.name))
                                              : QStringLiteral("master and slave: The ports can not open");
        setup.lines << text;
    }
    if (!refused.checks.empty())
        return reports.Conclude(report, refused);

    TCheckRun check(options, &master, &slave, &report, nullptr);
    int status = kTroubleStatus;
    QObject::connect(&check, &TCheckRun::Finished, &application, [&](const RunRecord &record) {
        status = reports.Conclude(report, record);
        QCoreApplication::exit(status);
    });
    run = &check;
    for (const Side &side : sides) {
        // The port has closed itself on the failure, so the run cannot go on.
        QObject::connect(side.port, &TCommPort::OnLost, &check, [&check, &report, side] {
            report.Complaint(QStringLiteral("%1: the port was lost during the run\n%2")
                                 .arg(QLatin1String(side.name), PortAdvice(*side.port)));
            check.Lost();
        });
    }
    for (TStreamWriter *stream : {&reports.out, &reports.errors}) {
        QObject::connect(stream, &TStreamWriter::ReaderGone, &check, &TCheckRun::Interrupt);
        // Nobody will read what the run finds: it stops, and says so in the
        // one way left to it, its exit status.
        QObject::connect(stream, &TStreamWriter::Failed, &check, &TCheckRun::Abandon);
    }
    if (reports.junit)
        QObject::connect(reports.junit.get(), &TStreamWriter::ReaderGone, &check, &TCheckRun::Abandon);
    // Started from the loop, so that an end as early as the first frame
    // reaches a loop that is running and can be told to exit.
    QTimer::singleShot(0, &check, &TCheckRun::Start);
    QCoreApplication::exec();
    return status;
}
