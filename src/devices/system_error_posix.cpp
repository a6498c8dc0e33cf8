#include "system_error_posix.h"

#include <cerrno>
#include <cstring>

namespace {

PortFailure::Cause CauseOf(int error)
{
    switch (error) {
    case 0:
        return PortFailure::HungUp;
    case EACCES:
    case EPERM:
        return PortFailure::Denied;
    case EBUSY: // opened for exclusive use by another program, or by a driver
        return PortFailure::Busy;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case EIO: // a built-in port with no UART behind it
        return PortFailure::Missing;
    default:
        return PortFailure::NotSerial;
    }
}

} // namespace

PortFailure FailureOf(PortFailure::Step step, int error)
{
    return {step, CauseOf(error), error ? ErrorText(error) : QString()};
}

QString ErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}
