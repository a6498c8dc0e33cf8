#pragma once

#include "port_advice.h"

class QWidget;

// The file system's side of the advice: where a number leads right now and
// which serial devices exist.
RouteFacts LookUpRoute(int number);
QStringList PresentSerialDevices();

// Gives the form's number fields and error labels the tooltips its stored
// layout asks for: a spin edit with ShowsComRoute says where its number
// leads, a label with ExplainsFailureOf = <port> says why that port failed.
void AttachPortHints(QWidget *form);
