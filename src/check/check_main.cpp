// comloop-check: the window's measurement from a script, for many frames,
// ending with a summary and an exit status (see --help).

#include "check_options.h"
#include "check_ports.h"
#include "check_report.h"
#include "check_run.h"
#include "serial_port.h"
#include "session_end.h"
#include "stream_writer.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>

#include <unistd.h>

#include <cstdio>

namespace {

constexpr int kTroubleStatus = 2; // a port, the arguments, or where the output goes

void Complain(const QString &text)
{
    std::fputs(qPrintable(QStringLiteral("comloop-check: %1\n").arg(text)), stderr);
}

} // namespace

int main(int argc, char **argv)
{
    // A run whose report nobody can read proves nothing to anybody, and a
    // closed stream's number would go to the next file opened: a port.
    if (!TStreamWriter::IsOpen(STDOUT_FILENO) || !TStreamWriter::IsOpen(STDERR_FILENO)) {
        if (TStreamWriter::IsOpen(STDERR_FILENO))
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
        std::fputs(qPrintable(request.text), stdout);
        return 0;
    case CheckRequest::Wrong:
        Complain(request.text + QStringLiteral("\nTry 'comloop-check --help' for more."));
        return kTroubleStatus;
    case CheckRequest::Run:
        break;
    }
    const CheckOptions &options = request.options;
    if (SamePort(options.master, options.slave)) {
        Complain(QStringLiteral("MASTER and SLAVE lead to the same device, %1; a link needs two ports")
                     .arg(DescribePort(options.master)));
        return kTroubleStatus;
    }
    // Found out now, not after a long run.
    if (!options.junit.isEmpty()) {
        QFile junit(options.junit);
        if (!junit.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            Complain(QStringLiteral("cannot write the JUnit report to %1: %2").arg(options.junit, junit.errorString()));
            return kTroubleStatus;
        }
    }

    TStreamWriter out(STDOUT_FILENO, nullptr);
    TStreamWriter errors(STDERR_FILENO, nullptr);
    CheckReport report(&out, &errors, options.json, ::isatty(STDOUT_FILENO) == 1);
    const auto finished = [&report, &options](int status) {
        if (!options.junit.isEmpty() && !report.WriteJUnit(options.junit)) {
            report.Complaint(QStringLiteral("cannot write the JUnit report to %1").arg(options.junit));
            return kTroubleStatus;
        }
        return status;
    };

    // From here on a Ctrl-C, a TERM or a closed terminal waits for the event
    // loop, which ends the run cleanly; one that comes while the ports open
    // is heard once the loop runs, and ends the run before a frame.
    TCheckRun *run = nullptr;
    const TSessionEnd sessionEnd(nullptr, [&run] { run->Interrupt(); });
    TCommPort master(nullptr);
    TCommPort slave(nullptr);
    const struct Side
    {
        const char *name;
        TCommPort *port;
        const PortName &named;
    } sides[] = {{"master", &master, options.master}, {"slave", &slave, options.slave}};

    // Both are tried, so one run names every port that needs fixing.
    QStringList failed;
    for (const Side &side : sides) {
        if (OpenPort(*side.port, side.named))
            continue;
        const QString text = QStringLiteral("%1: The port can not open\n%2")
                                 .arg(QLatin1String(side.name), PortAdvice(*side.port));
        report.Complaint(text);
        failed << text;
    }
    if (!failed.isEmpty()) {
        report.SetupFailed(failed, kTroubleStatus);
        return finished(kTroubleStatus);
    }

    TCheckRun check(options, &master, &slave, &report, nullptr);
    int status = kTroubleStatus;
    QObject::connect(&check, &TCheckRun::Finished, &application, [&status, finished](int result) {
        status = finished(result);
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
    for (TStreamWriter *stream : {&out, &errors})
        QObject::connect(stream, &TStreamWriter::ReaderGone, &check, &TCheckRun::Interrupt);
    // Started from the loop, so that an end as early as the first frame
    // reaches a loop that is running and can be told to exit.
    QTimer::singleShot(0, &check, &TCheckRun::Start);
    QCoreApplication::exec();
    return status;
}
