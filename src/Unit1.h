#pragma once

#include "toolkit.h"
#include "ui_Unit1.h"

// The main window. Its controls and components come from the stored layout
// (res/Unit1.ui), which also binds each handler below to its event by name.
class TForm1 : public TForm, public Ui::TForm1
{
    Q_OBJECT
public:
    explicit TForm1(QWidget *Owner);

public slots:
    void FormCreate();
    void Button1Click();
    void FormClose();
    void Timer1Timer();
    void Button2Click();
    void CommPort1DataReceived();
    void CommPortLost();
};

extern TForm1 *Form1;
