#include "trouble_advice.h"

// A COM port's driver lets any user open it; one that refuses this user
// was closed off on purpose, by whoever looks after the computer.
QStringList AccessAdvice(const FailureFacts &)
{
    return {QStringLiteral("Windows would not let this account open it: ask whoever looks after this "
                           "computer for access to the port.")};
}
