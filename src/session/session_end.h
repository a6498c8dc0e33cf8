#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

// The end of a session reaches a program as a signal: TERM at logout or
// shutdown, HUP when the terminal that started it closes, INT for Ctrl-C.
// Their default is to kill it on the spot, which leaves devices locked and
// set up as the program left them. While a TSessionEnd lives, the first of
// them instead runs `end` from the event loop; then each is given back as it
// was, so a second one acts as it would have (kills, should ending take
// longer than the user will wait). One that was ignored when the program
// started stays ignored: whoever started it decided. The destructor puts
// back what it found.
class TSessionEnd : public QObject
{
public:
    TSessionEnd(QObject *owner, std::function<void()> end);
    ~TSessionEnd() override;
    TSessionEnd(const TSessionEnd &) = delete;
    TSessionEnd &operator=(const TSessionEnd &) = delete;

private:
    std::function<void()> end_;
    QSocketNotifier *notifier_ = nullptr;
};

// A write to a pipe or socket whose reader has gone fails (EPIPE) instead of
// killing the program, for a program that says so itself and ends cleanly.
void SurviveBrokenPipes();
