#pragma once

#include "port_failure.h"

// errno as the facts the rest of the program knows a failure by.
PortFailure FailureOf(PortFailure::Step step, int error);
// The system's own words for an error number.
QString ErrorText(int error);
