#include "hex_codec.h"

char NibbleToHexChar(std::int32_t value)
{
    const int nibble = value & 0x0F;
    return char(nibble < 10 ? nibble + 0x30 : nibble + 0x37);
}

void EncodeHex4(std::int32_t value, char *out)
{
    for (int i = 3; i >= 0; --i)
        out[i] = NibbleToHexChar(value >> (4 * (3 - i)));
}

std::int8_t HexCharToNibble(char ch)
{
    const int code = std::int8_t(ch);
    // The difference wraps to 8 bits, so bytes from 0xB0 up come out
    // negative, like those below "0", and 0x80..0xAF land above 15.
    const int digit = std::int8_t((code < 0x3A ? code - 0x30 : code - 0x37) & 0xFF);
    return std::int8_t(digit > 15 ? 0 : digit);
}

std::int32_t DecodeHex4(const char *in)
{
    std::int32_t sum = 0;
    std::int32_t weight = 1;
    for (int i = 3; i >= 0; --i) {
        sum += HexCharToNibble(in[i]) * weight;
        weight *= 16;
    }
    return sum;
}
