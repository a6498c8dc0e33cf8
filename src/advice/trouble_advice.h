#pragma once

#include "port_advice.h"

// The advice for each kind of trouble, made of the words in advice_words.h.

QString LockReason(const QString &device, const PortLock &lock);         // the lock's first line
QStringList LockAdvice(const FailureFacts &facts, const QString &home); // a lock in the way
QStringList HeldAdvice(const FailureFacts &facts, const QString &home); // a process holds the device
QStringList AccessAdvice(const FailureFacts &facts);                    // permission denied
QStringList MissingAdvice(const FailureFacts &facts, const QString &home); // no device where the route leads
