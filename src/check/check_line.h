#pragma once

#include "frame.h"
#include "serial_port.h"

#include <QString>

// What the line's settings mean in time: every byte takes its bits at the
// line's rate, so a frame takes its bytes' worth.
inline constexpr double kByteMs = 1000.0 * kLineBitsPerByte / kLineBaud;
inline constexpr double kNominalBytesPerSecond = 1000.0 / kByteMs;
inline constexpr double kFrameOnLineMs = kFrameBytes * kByteMs;
// Ten frame times: room for a USB adapter's latency timer (16 ms by
// default) and a busy machine, yet a lost frame costs little.
inline constexpr int kDefaultTimeoutMs = int(10 * kFrameOnLineMs);

// "9600 8N1", as a technician names the line.
inline QString LineName()
{
    return QStringLiteral("%1 %2N1").arg(kLineBaud).arg(kLineDataBits);
}
