#pragma once

#include "Unit1.h"
#include "virtual_cable.h"

#include <QAbstractButton>

#include <memory>

// The main window as the user meets it, with COM3 and COM4 wired to pseudo-
// terminals whose far sides the test holds. Mixed into a test class, whose
// init() calls OpenWindow() and cleanup() CloseWindow().
class WindowOnCable
{
protected:
    // Returns whether the window came up on screen.
    bool OpenWindow();
    void CloseWindow();

    static void Click(QAbstractButton *button);
    void VerifyClosedState();
    void VerifyOpenState();

    std::unique_ptr<ComLinks> links_;
    std::unique_ptr<PtyEnd> master_; // far side of COM3
    std::unique_ptr<PtyEnd> slave_;  // far side of COM4
    std::unique_ptr<TForm1> form_;
};
