// The program's name and icon, as the toolkit hands them to Qt and the
// desktop: linked into every program made of comloop's window.
#include "application.h"
#include "comloop.xpm"

const TProgramResource ProgramResource = {"comloop", "io.github.comloop.Comloop", comloop_xpm};
