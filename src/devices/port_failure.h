#pragma once

#include <QString>

// Why a port did not open, or why an open one closed on its own: facts
// only, handed up to whoever words them for a person.
struct PortFailure
{
    enum Step {
        None,    // nothing failed
        NoPort,  // the number names no port
        Lock,    // the device's lock file is in the way (the lock tells how)
        Open,    // the system would not open the device
        Setup,   // it opened, but is no serial line or refused the line's settings
        Read,    // an open port failed to read, or its line hung up
        Write,   // an open port failed to send
        Control, // an open port's driver failed a question about the line
    };
    // What the system's answer comes to, as far as a person can act on it.
    enum Cause {
        NoCause,   // nothing failed, or the failure is the port's own (NoPort, Lock)
        HungUp,    // an open line ended without an error: hung up or unplugged
        Denied,    // this user may not open the device
        Busy,      // another program, or a driver, has the device for itself
        Missing,   // no device there, or no hardware behind its name
        NotSerial, // anything else: no serial line, or one that refused the settings
    };
    Step step = None;
    Cause cause = NoCause;
    QString text = {}; // the system's own words for it; empty when it said nothing
    bool gone = false; // the device's node has vanished, or is another device now

    // An open port that closed on its own, as opposed to an open that failed.
    bool Lost() const { return step >= Read; }
};
