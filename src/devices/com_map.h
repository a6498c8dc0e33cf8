#pragma once

#include <QString>

// COM numbers are how technicians name ports. On Linux a number is mapped to
// a device through the link "comN" in the user's comloop folder (like a
// dosdevices folder, so USB adapters and virtual pairs get stable numbers),
// and otherwise to the N-th built-in UART, /dev/ttyS<N-1>. On Windows, COM N
// is the system's own \\.\COMN, and there are no links.
struct ComRoute
{
    int number = 0;  // the COM number it was asked for; 0 when named by path
    QString path;    // the device as named instead of a number; empty: by number
    QString device;  // what an open uses; empty when the number names no port
    QString link;    // the comN link it came through; empty when none exists
};

// Where the comN links live; empty where there are none.
QString ComLinkFolder();
ComRoute RouteCom(int number);
// A device named by its path instead of a number, such as a stable
// /dev/serial/by-id/ name; a link is followed like a comN link.
ComRoute RoutePath(const QString &path);
