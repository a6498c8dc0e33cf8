#pragma once

#include <cstdint>

// Four-digit hexadecimal codec of the measurement frame. The decoder does no
// validation on purpose: any byte yields a digit value, so a corrupted frame
// still shows a number instead of stopping the receiver.

char NibbleToHexChar(std::int32_t value);
void EncodeHex4(std::int32_t value, char *out);
std::int8_t HexCharToNibble(char ch);
std::int32_t DecodeHex4(const char *in);
