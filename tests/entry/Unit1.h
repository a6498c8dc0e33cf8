#pragma once

#include "toolkit.h"

// Stands in for the main window so the program's real entry can be driven
// down each of its paths; COMLOOP_ENTRY_SCENARIO picks the path, and every
// message box is printed instead of shown.
class TForm1 : public TForm
{
    Q_OBJECT
public:
    explicit TForm1(QWidget *Owner);
    void setupUi(TForm *form);
};

extern TForm1 *Form1;
