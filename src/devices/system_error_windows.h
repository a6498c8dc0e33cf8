#pragma once

#include "port_failure.h"

#include <windows.h>

// Win32 error codes as the facts the rest of the program knows a failure by.
PortFailure FailureOf(PortFailure::Step step, DWORD error);
// Windows' own words for an error code.
QString ErrorText(DWORD error);
