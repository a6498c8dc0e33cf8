#pragma once

#include "port_advice.h"

// The words every kind of advice is made of. They call nothing back: the
// advice for each kind of trouble uses them, and FailureHint uses both.
// Those that name the system's own tools are in a file for each platform.

QString Com(int number);

// What to do once the cause is gone: in the window, what Open Ports does
// (`inWindow`); elsewhere, the facts' own retry.
QString Retry(const FailureFacts &facts, const QString &inWindow);
QString ThenRetry(const FailureFacts &facts); // "then press Open Ports again."

// That the failed number leads to the device the window's other side holds,
// and what to do instead when the numbers cannot change.
QString BothEnds(const FailureFacts &facts);
QString TwoNumbers();

// How to find the programs using `device`.
QString WhoUses(const QString &device);

// Which serial devices are there now, or that none is.
QString PresentDevices(const QStringList &devices);
