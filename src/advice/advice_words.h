#pragma once

#include "port_advice.h"

// The words every kind of advice is made of. They call nothing back: the
// advice for each kind of trouble uses them, and FailureHint uses both.

QString Com(int number);

// The system's own words for an error number.
QString SystemError(int error);

// One word for a POSIX shell, quoted where it holds anything the shell reads
// specially; a leading "~/" stays outside the quotes, so it still expands.
QString ShellWord(const QString &word);

// The comN link of the failed number, as a person types it.
QString LinkOf(const FailureFacts &facts, const QString &home);

// The best device to suggest for a link, other than `except`.
QString Candidate(const QStringList &devices, const QString &except = {});

// Making or moving the comN link so that it leads to `target`.
QStringList LinkCommands(const FailureFacts &facts, const QString &target, const QString &home);

// What to do once the cause is gone: in the window, what Open Ports does
// (`inWindow`); elsewhere, the facts' own retry.
QString Retry(const FailureFacts &facts, const QString &inWindow);
QString ThenRetry(const FailureFacts &facts); // "then press Open Ports again."

// The command that lists the programs using `device`.
QString WhoUses(const QString &device);

// Which serial devices are there now, or that none is.
QString PresentDevices(const QStringList &devices);
