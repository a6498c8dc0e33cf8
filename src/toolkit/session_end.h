#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

// The end of a desktop session reaches a program as a signal: TERM at logout
// or shutdown, HUP when the terminal that started it closes, INT for Ctrl-C.
// Their default is to kill it on the spot, which leaves devices locked and
// set up as the program left them. While a TSessionEnd lives, each of them
// instead runs `end` from the event loop, once; a second one kills as
// before, in case ending takes longer than the user will wait.
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
