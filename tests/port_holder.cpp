// Another program that holds a port, as a second comloop does: opens the COM
// number given as its argument with the port component, prints "open" or
// why it failed, and keeps the port until its input closes.

#include "port_advice.h"
#include "port_facts.h"
#include "serial_port.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    TCommPort port(nullptr);
    port.SetComNumber(QByteArray(argv[1]).toInt());
    port.SetOpen(true);
    const QString said = port.GetOpen() ? QStringLiteral("open")
                                        : FailureHint(LookUpFailure(port), QDir::homePath()).section('\n', 0, 0);
    std::puts(qPrintable(said));
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return port.GetOpen() ? 0 : 1;
}
