#pragma once

// The line's rate as a number rather than as one of termios's codes: Linux
// takes any rate a driver can make (a UART's divisor, an adapter's own
// clock) through termios2, and reads back the rate it runs at, standard or
// not, the same way. termios2 cannot share a file with <termios.h>, whose
// struct of the same name it redefines.

// Sets `baud` on the open terminal `fd` and leaves the rest of its line as
// it is; false, with errno set, when the driver refuses it.
bool SetAnyRate(int fd, int baud);
// The rate the driver runs the line at; 0 when it cannot say.
int LineRate(int fd);
