#pragma once

#include "port_advice.h"

class TCommPort;

// The system's side of the advice: where a number leads right now, and
// what was around when a port failed.
RouteFacts LookUpRoute(int number);
// Where a port leads: by its path when it has one, else by its number.
RouteFacts LookUpPort(int number, const QString &path);
// Where `port` went when it last opened, as the port itself found it.
RouteFacts LookUpRoute(const TCommPort &port);

// Everything known about why `port` last failed, as the moment finds it,
// starting from the route the port itself took. Where the advice is shown
// fills in the rest: the other side of a window, or what to do instead of
// pressing Open Ports.
FailureFacts LookUpFailure(const TCommPort &port);
