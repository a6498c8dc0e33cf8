#pragma once

#include "run_record.h"

#include <QString>

// What a run comes to: the exit status and its name.
struct Verdict
{
    int status = 0;
    QString name; // pass, fail, setup, lost, interrupted
};

// The one judge of a run: 3 a port was lost; else 1 a check failed (a link
// fault); else 4 the run was interrupted; else 2 a check could not run (the
// ports, the output, a check these devices do not allow); else 0. A fault
// found outranks what kept the run from its end: it is what the technician
// must see. So a run passes only when every check asked for passed and the
// run got to its end.
Verdict Judge(const RunRecord &record);
