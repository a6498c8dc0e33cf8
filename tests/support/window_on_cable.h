#pragma once

#include "Unit1.h"
#include "virtual_cable.h"

#include <QAbstractButton>

#include <memory>

// The main window as the user meets it, with COM3 and COM4 wired to pseudo-
// terminals whose far sides the test holds: the base of a test class, made
// anew for each test function. Any Qt warning fails the test, since a
// misspelled handler in the layout only warns at run time.
class WindowOnCable : public QObject
{
    Q_OBJECT

protected slots:
    void init();
    void cleanup();

protected:
    // Returns whether the window came up on screen. Exception messages the
    // window would show in a box are kept instead, and closing the window
    // fails the test if there were any.
    bool OpenWindow();
    void CloseWindow();

    static void Click(QAbstractButton *button);
    // Open Ports, and both ports are open.
    void OpenBoth();
    void VerifyClosedState();
    void VerifyOpenState();

    std::unique_ptr<ComLinks> links_;
    std::unique_ptr<PtyEnd> master_; // far side of COM3
    std::unique_ptr<PtyEnd> slave_;  // far side of COM4
    std::unique_ptr<TForm1> form_;
    QStringList boxes_;
};
