#pragma once

#include "check_tally.h"

#include <QString>
#include <QStringList>

#include <vector>

// One check of a run, as it came out.
struct CheckResult
{
    enum Outcome { Passed, Failed, CouldNotRun, NotAsked };
    QString name; // setup, output, settings, isolation, lines, frames, counters, timing
    Outcome outcome = NotAsked;
    QString reason;    // Failed, CouldNotRun: why, in one line
    QStringList lines; // what a person read of it as the run went
};

// Why a run ended.
enum class RunEnd {
    Done,        // every frame planned was settled
    Interrupted, // INT, TERM or HUP, or the reader of the output went away
    PortLost,    // a port went away during the run
    SetupFailed, // the run could not begin: a port would not open
    OutputFailed, // what it found could not be written, so it stopped
};

// The line a run asked for, as its timing is judged.
struct LineFacts
{
    QString name;                  // "9600 8N1"
    double frameOnLineMs = 0;      // a frame's bytes at the line's rate
    double nominalBytesPerSecond = 0;
};

// What one direction of the link carried.
struct DirectionRun
{
    QString name; // "slave to master": the port that sent, and the one that received
    CheckTally tally;
};

// Everything a run found, and nothing it concluded: every report and the
// exit status are made from this alone.
struct RunRecord
{
    qint64 seed = 0;
    qint64 framesAsked = 0; // in all directions together; 0: a stream, which lasts a time instead
    LineFacts line;
    QString mode = QStringLiteral("stop and wait");
    std::vector<DirectionRun> directions; // in the order they ran
    std::vector<CheckResult> checks; // in the order they ran
    QStringList notes;               // what the checks together point at
    RunEnd end = RunEnd::Done;
    qint64 problems = 0; // problems found, shown or not
    qint64 shownProblems = 0;

    // The check named so; added, not asked, when there is none yet.
    CheckResult &Check(const QString &name);
    const CheckResult *Find(const QString &name) const;
    // Every direction's tally as one.
    CheckTally Total() const;
};
