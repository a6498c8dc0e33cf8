#pragma once

#include "port_advice.h"

// The words of a POSIX shell and of Linux device paths, for the advice
// written in them.

// One word for a POSIX shell, quoted where it holds anything the shell reads
// specially; a leading "~/" stays outside the quotes, so it still expands.
QString ShellWord(const QString &word);

// The comN link of the failed number, as a person types it.
QString LinkOf(const FailureFacts &facts, const QString &home);

// The best device to suggest for a link, other than `except`.
QString Candidate(const QStringList &devices, const QString &except = {});

// Making or moving the comN link so that it leads to `target`.
QStringList LinkCommands(const FailureFacts &facts, const QString &target, const QString &home);
