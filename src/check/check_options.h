#pragma once

#include "serial_device.h"

#include <QString>
#include <QStringList>

// One side of the link as named on the command line.
struct PortName
{
    int number = 0; // a COM number, mapped as the window maps it
    QString path;   // or, when not empty, the device itself
};

struct CheckOptions
{
    PortName master;
    PortName slave;
    LineSettings line = {}; // for both ports
    qint64 frames = 100;  // in each direction; 0 with a stream, which plans none
    double streamSeconds = 0; // frames at full speed for this long, instead of `frames` one at a time
    double untilBer = 0;  // when above 0: frames enough to put the error rate's bound below it
    bool both = false;    // the frames go back from MASTER to SLAVE too
    bool requireWire = false; // a pace the line asked for cannot have is a fault

    // The frames planned in all directions together.
    qint64 FramesInAll() const { return frames * (both ? 2 : 1); }
    int timeoutMs = 0;
    qint64 seed = -1;     // where the run's values start; -1: anywhere, by chance
    bool lines = false;   // test the handshake lines too
    bool isolate = false; // try each port on its own loopback first
    bool json = false;    // JSON lines instead of text
    QString junit = {};   // where to write a JUnit report; empty: nowhere
};

// What the command line asks for: a run, or a text to print before leaving.
struct CheckRequest
{
    enum Kind { Run, Help, Version, Wrong };
    Kind kind = Run;
    CheckOptions options;
    QString text; // the help, the version, or what is wrong with the arguments
};

// What a run whose length follows from a goal (--until-ber) will take, in
// a line for its head; empty for a run of frames counted out.
QString RunPlan(const CheckOptions &options);

// `arguments` as QCoreApplication gives them, the program first.
CheckRequest ParseCheckArguments(const QStringList &arguments);
