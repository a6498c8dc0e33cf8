#pragma once

#include "run_judge.h"
#include "run_record.h"

#include <QByteArray>
#include <QJsonObject>
#include <QStringList>

// The end of a run in each form it is read in, made from the record and its
// verdict alone, so none of them can say anything the others do not.

// Why the run ended before its end, in one line; empty when it got there.
QString EndText(const RunRecord &record);
// The text summary, a line each.
QStringList SummaryLines(const RunRecord &record, const Verdict &verdict);
// The JSON summary object (without its type).
QJsonObject SummaryObject(const RunRecord &record, const Verdict &verdict);
// One JUnit test suite, comloop-check: a test case per check asked for, a
// failure for each that failed, an error for each that could not run, and
// an error for a run that did not get to its end. So it holds a failure or
// an error exactly when the exit status is not 0.
QByteArray JUnitReport(const RunRecord &record, const Verdict &verdict);
