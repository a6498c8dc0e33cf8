#pragma once

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
        Read,    // an open port failed to read, or its line hung up (error 0)
        Write,   // an open port failed to send
        Control, // an open port's driver failed a question about the line
    };
    Step step = None;
    int error = 0;     // the system's error number; 0: none, or the line hung up
    bool gone = false; // the device's node has vanished, or is another device now

    // An open port that closed on its own, as opposed to an open that failed.
    bool Lost() const { return step >= Read; }
};
