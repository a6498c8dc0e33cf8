#pragma once

// The line as every comloop program sets it up: 9600 baud, 8N1, so each
// byte takes ten bit times (start, eight data, stop) and a 12-byte frame
// 12.5 ms.
constexpr int kLineBaud = 9600;
constexpr int kBitsPerByte = 10;
constexpr int kFrameBytes = 12;
constexpr double kNominalBytesPerSecond = double(kLineBaud) / kBitsPerByte;
constexpr double kFrameMs = kFrameBytes * 1000.0 / kNominalBytesPerSecond;
// Ten frame times: room for a USB adapter's latency timer (16 ms by
// default) and a busy machine, yet a lost frame costs little.
constexpr int kDefaultTimeoutMs = int(10 * kFrameMs);
