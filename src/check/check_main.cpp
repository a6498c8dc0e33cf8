// comloop-check: the window's measurement from a script, for many frames,
// ending with a summary and an exit status (see --help).

#include "check_options.h"
#include "check_ports.h"
#include "check_report.h"
#include "link_check.h"
#include "serial_port.h"
#include "session_end.h"

#include <QCoreApplication>
#include <QTimer>

#include <unistd.h>

#include <cstdio>

namespace {

constexpr int kTroubleStatus = 2; // a port, or the arguments

void Complain(const QString &text)
{
    std::fputs(qPrintable(QStringLiteral("comloop-check: %1\n").arg(text)), stderr);
}

} // namespace

int main(int argc, char **argv)
{
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

    // From here on a Ctrl-C, a TERM or a closed terminal waits for the event
    // loop, which ends the run cleanly; one that comes while the ports open
    // is heard once the loop runs, and ends the run before a frame.
    TLinkCheck *run = nullptr;
    const TSessionEnd sessionEnd(nullptr, [&run] { run->Stop(TLinkCheck::End::Interrupted); });
    TCommPort master(nullptr);
    TCommPort slave(nullptr);
    const struct Side
    {
        const char *name;
        TCommPort *port;
        const PortName &named;
    } sides[] = {{"master", &master, options.master}, {"slave", &slave, options.slave}};

    // Both are tried, so one run names every port that needs fixing.
    bool opened = true;
    for (const Side &side : sides) {
        if (OpenPort(*side.port, side.named))
            continue;
        Complain(QStringLiteral("%1: The port can not open\n%2")
                     .arg(QLatin1String(side.name), PortAdvice(*side.port)));
        opened = false;
    }
    if (!opened)
        return kTroubleStatus;

    CheckReport report(stdout, ::isatty(STDOUT_FILENO) == 1);
    for (const Side &side : sides)
        report.Line(QStringLiteral("%1: %2").arg(QLatin1String(side.name), DescribePort(side.named)));
    TLinkCheck check(&master, &slave, options.frames, options.timeoutMs, &report, nullptr);
    QObject::connect(&check, &TLinkCheck::Finished, &application, &QCoreApplication::exit);
    run = &check;
    for (const Side &side : sides) {
        // The port has closed itself on the error, so the run cannot go on.
        QObject::connect(side.port, &TCommPort::OnLost, &check, [&check, side] {
            Complain(QStringLiteral("%1: the port was lost during the run\n%2")
                         .arg(QLatin1String(side.name), PortAdvice(*side.port)));
            check.Stop(TLinkCheck::End::PortLost);
        });
    }
    // Started from the loop, so that an end as early as the first frame
    // reaches a loop that is running and can be told to exit.
    QTimer::singleShot(0, &check, &TLinkCheck::Start);
    return QCoreApplication::exec();
}
