#include "base/hextext.h"

namespace hex {

int DigitValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

int DigitValueAnyCase(char c)
{
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return DigitValue(c);
}

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

int TryDigit(char c, bool anyCase)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (anyCase && c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool ReadField(std::string_view text, size_t& at, size_t maxDigits, uint32_t& value)
{
    uint32_t v = 0;
    size_t n = 0;
    for (int d; at + n < text.size() && n < maxDigits && (d = TryDigit(text[at + n])) >= 0; ++n)
        v = v * 16 + static_cast<uint32_t>(d);
    if (n == 0) return false;
    at += n;
    value = v;
    return true;
}

uint8_t ByteFromChars(char hi, char lo)
{
    return static_cast<uint8_t>(DigitValue(hi) * 16 + DigitValue(lo));
}

static uint32_t Value(std::string_view text, size_t maxDigits)
{
    if (text.size() > maxDigits) text = text.substr(text.size() - maxDigits);
    uint32_t v = 0;
    for (char c : text) v = v * 16 + static_cast<uint32_t>(DigitValue(c));
    return v;
}

uint16_t Word(std::string_view text) { return static_cast<uint16_t>(Value(text, 4)); }
uint32_t DWord(std::string_view text) { return Value(text, 8); }

std::string PadLeft(std::string_view text, size_t width, char fill)
{
    if (text.size() >= width) return std::string(text);
    return std::string(width - text.size(), fill) + std::string(text);
}

std::string Hex(uint64_t value, int digits)
{
    static const char kDigits[] = "0123456789ABCDEF";
    if (digits > 16) digits = 16;
    char buf[17];
    int n = 0;
    do {
        buf[16 - n++] = kDigits[value & 0xF];
        value >>= 4;
    } while (value != 0 || n < digits);
    return std::string(buf + 17 - n, buf + 17);
}

std::string ByteToBits(uint8_t value)
{
    std::string s(8, '0');
    for (int i = 0; i < 8; ++i)
        if (value & (0x80 >> i)) s[static_cast<size_t>(i)] = '1';
    return s;
}

uint8_t BitsToByte(std::string_view bits)
{
    uint8_t v = 0;
    for (char c : bits) v = static_cast<uint8_t>((v << 1) | (c == '1' ? 1 : 0));
    return v;
}

std::string ToUpper(std::string_view text)
{
    std::string s(text);
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

bool SameText(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

}  // namespace hex
