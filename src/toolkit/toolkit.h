#pragma once

// A thin layer that gives the window code the toolkit vocabulary it is written
// in (an application object, forms built from a stored layout, labels, spin
// edits, timers) on top of Qt Widgets. It adds only what the window relies
// on; everything else is plain Qt. It knows nothing of the program built
// with it.

#include "application.h"
#include "controls.h"
#include "form.h"
#include "text.h"
