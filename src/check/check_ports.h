#pragma once

#include "check_options.h"

#include <QString>

class TCommPort;

// The ports of a run, opened and explained the way the window does it, in
// the words of its tooltips.

// Where a side leads, for the head of the output: as named, or, once open,
// the way the port itself went.
QString DescribePort(const PortName &name);
QString DescribePort(const TCommPort &port);
// Whether both sides lead to one device, which could only fail as "busy".
bool SamePort(const PortName &a, const PortName &b);
// Opens the port on the named device with the line asked for; false when it
// would not.
bool OpenPort(TCommPort &port, const PortName &name, const LineSettings &line);
// Drops what waits in the port's input: left over from a check before.
void DropWaiting(TCommPort &port);
// Why the port failed, last time it did, and what to do about it.
QString PortAdvice(const TCommPort &port);
