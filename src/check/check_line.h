#pragma once

#include "frame.h"
#include "serial_device.h"

#include <QString>

#include <algorithm>

// What a line's settings mean in time: every byte takes its bits at the
// line's rate, so a frame takes its bytes' worth.
inline double ByteMs(const LineSettings &line)
{
    return 1000.0 * line.BitsPerByte() / line.baud;
}
inline double NominalBytesPerSecond(const LineSettings &line)
{
    return 1000.0 / ByteMs(line);
}
inline double FrameOnLineMs(const LineSettings &line)
{
    return kFrameBytes * ByteMs(line);
}

// A USB adapter holds what it receives for up to its latency timer (16 ms
// by default) before it hands it on; three times that leaves room for a
// busy machine too. No timeout is shorter, however fast the line.
inline constexpr int kLeastTimeoutMs = 50;

// Ten frame times, so that a lost frame costs little, and room for a USB
// adapter's latency: 125 ms at 9600 8N1.
inline int DefaultTimeoutMs(const LineSettings &line)
{
    return std::max(int(10 * FrameOnLineMs(line)), kLeastTimeoutMs);
}

// As a technician names the line: "9600 8N1", "115200 8E2 RTS/CTS".
inline QString LineName(const LineSettings &line)
{
    const char parity = line.parity == Parity::Even ? 'E' : line.parity == Parity::Odd ? 'O' : 'N';
    return QStringLiteral("%1 %2%3%4%5")
        .arg(line.baud)
        .arg(line.dataBits)
        .arg(QLatin1Char(parity))
        .arg(line.stopBits)
        .arg(line.flow == Flow::RtsCts ? QStringLiteral(" RTS/CTS") : QString());
}
