#pragma once

#include "port_failure.h"
#include "port_lock.h"

#include <QString>
#include <QStringList>

// What a person needs to hear about a COM number: where it leads and, when a
// port would not open, why and what to do. Pure text from facts gathered
// elsewhere, so every wording can be checked without touching a device.

// Where a COM number leads, as found on the file system.
struct RouteFacts
{
    int number = 0;
    QString device;   // the device it leads to (a dangling link's target); empty: no port
    QString link;     // the comN link it goes through; empty: the built-in UART
    bool present = false; // the device exists
    // The device as named instead of a number; empty: by number. Given its
    // default here, so facts written without it are complete.
    QString path{};
};

// Who may open a device, and where the user stands with it.
struct AccessFacts
{
    QString owner;            // the owning user; empty: the device could not be looked at
    QString group;            // the owning group
    unsigned mode = 0;        // permission bits, as chmod takes them
    bool userIsOwner = false;
    bool inGroup = false;     // this session has the device's group
    bool joinedGroup = false; // the group database lists the user in it, which counts from the next login
};

// Why a port failed, and what was around at that moment.
struct FailureFacts
{
    RouteFacts route;
    PortFailure failure;       // what failed, and what the system said
    QStringList serialDevices; // the serial devices present now
    QString linkFolder;        // where comN links live; empty where numbers are the system's
    // What the person does once the cause is gone, where Open Ports is not
    // at hand; empty: in the window. Given its default here, so facts
    // written without it are complete.
    QString retry{};
    PortLock lock;             // what the look at the device's lock found
    int otherSide = 0;         // the number under which the window's other side holds this device; 0: it does not
    AccessFacts access;
};

// Paths under the home folder are shown as "~/...", as a person types them.
QString ShortPath(const QString &path, const QString &home);

// "COM3 → /dev/ttyUSB0 (via ~/.config/comloop/com3)"
QString RouteHint(const RouteFacts &facts, const QString &home);

// The reason first, then the fix, one thought per line. Shown while the
// window waits with its COM numbers fixed (they stay so until it closes), so
// a fix is either where a number leads, or a new start with other numbers.
QString FailureHint(const FailureFacts &facts, const QString &home);

// A USB adapter that holds what it receives for up to `latencyMs` before
// handing it on makes every round trip slow: how to shorten that wait on
// this system, for the port at `device` on the run's `side`.
QString LatencyAdvice(const QString &side, const QString &device, int latencyMs);
