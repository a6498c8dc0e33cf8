#pragma once

#include "hex_codec.h"

#include <cstdint>
#include <cstdio>
#include <string_view>

// The measurement frame, written and read the one way every program of
// comloop does it: the preamble, the marker and the value as four
// upper-case hexadecimal digits. Templates over the port, so the window and
// the command-line check send and find frames with the very same steps.
// Scripts that make frames read the preamble and the marker from here.

inline constexpr char kFramePreamble[] = "Bizzard";
inline constexpr char kFrameMarker = '?';
inline constexpr int kFrameDigits = 4; // the codec's four
inline constexpr int kFrameBytes = int(sizeof kFramePreamble - 1) + 1 + kFrameDigits;

// Queues one frame on anything with PutString and PutChar. The digits come
// from "%04X", with room for any 32-bit value; only the first four go out.
template <class Port>
void PutFrame(Port &port, std::int32_t value)
{
    port.PutString(kFramePreamble);
    port.PutChar(kFrameMarker);
    char digits[9];
    std::snprintf(digits, sizeof digits, "%04X", unsigned(value));
    for (int i = 0; i < kFrameDigits; ++i)
        port.PutChar(digits[i]);
}

// Takes the frames waiting in anything with GetInBuffUsed and GetChar, and
// calls found(value, digits) for each, in order. Only the marker counts:
// the preamble and whatever else is dropped byte by byte. More than four
// waiting means the four digits after a marker are already here, so the
// reads never wait for the line; at most four bytes are left for next time.
template <class Port, class Found>
void TakeFrames(Port &port, Found &&found)
{
    while (port.GetInBuffUsed() > kFrameDigits) {
        if (port.GetChar() != kFrameMarker)
            continue;
        char digits[kFrameDigits];
        for (char &digit : digits)
            digit = port.GetChar();
        found(DecodeHex4(digits), std::string_view(digits, sizeof digits));
    }
}
