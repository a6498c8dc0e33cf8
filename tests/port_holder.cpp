// Another program that holds a port, as a second comloop does: opens the COM
// number given as its argument with the port component, prints "open" or
// the reason it failed, and keeps the port until its input closes.

#include "serial_port.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    TCommPort port(nullptr);
    port.SetComNumber(QByteArray(argv[1]).toInt());
    port.SetOpen(true);
    std::puts(port.GetOpen() ? "open" : qPrintable(port.GetLastError()));
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return port.GetOpen() ? 0 : 1;
}
