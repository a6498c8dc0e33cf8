#pragma once

#include <QObject>

#include <functional>

// The end of a session reaches a program as a signal on Linux: TERM at
// logout or shutdown, HUP when the terminal that started it closes, INT for
// Ctrl-C; on Windows as a console's control event (Ctrl-C, Ctrl-Break, its
// window closed, logoff, shutdown) or, for a program with windows, as the
// message that the session ends. Their default is to kill it on the spot,
// which leaves devices locked and set up as the program left them. While a
// TSessionEnd lives, the first of them instead runs `end` from the event
// loop; then each is given back as it was, so a second one acts as it would
// have (kills, should ending take longer than the user will wait). One that
// was ignored when the program started stays ignored: whoever started it
// decided. The destructor puts back what it found.
class TSessionEnd : public QObject
{
public:
    TSessionEnd(QObject *owner, std::function<void()> end);
    ~TSessionEnd() override;
    TSessionEnd(const TSessionEnd &) = delete;
    TSessionEnd &operator=(const TSessionEnd &) = delete;

private:
    std::function<void()> end_;
    QObject *listener_ = nullptr; // hears the system for the event loop; null: nothing can be heard
};

// A write to a pipe or socket whose reader has gone fails (EPIPE) instead of
// killing the program, for a program that says so itself and ends cleanly.
void SurviveBrokenPipes();
