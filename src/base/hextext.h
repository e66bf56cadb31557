#pragma once
// Hexadecimal text helpers shared by the files, the links, the option editor and the views.
// Output is always upper case; input accepts "0"-"9" and "A"-"F" (and lower case where a
// caller upper-cases first). Anything else counts as 0.
#include <cstdint>
#include <string>
#include <string_view>

namespace hex {

// Value of one hex digit: "0"-"9", "A"-"F"; every other character is 0.
int DigitValue(char c);
// Like DigitValue but also accepts "a"-"f".
int DigitValueAnyCase(char c);
bool IsHexDigit(char c);  // 0-9, A-F, a-f
// The digit's value, or -1 when it is none: 0-9 and A-F, and a-f too when `anyCase`.
int TryDigit(char c, bool anyCase = true);
// Reads up to `maxDigits` hex digits (either case) of `text` from `at` as one value and moves `at`
// past them; false, with `at` unchanged, when no digit stands there.
bool ReadField(std::string_view text, size_t& at, size_t maxDigits, uint32_t& value);

// A byte from two hex characters (high digit first).
uint8_t ByteFromChars(char hi, char lo);
// A 16-bit value from up to four and a 32-bit value from up to eight hex characters; shorter
// texts are taken as left-padded with "0".
uint16_t Word(std::string_view text);
uint32_t DWord(std::string_view text);

// Left-pads text with fill up to width (longer text is returned unchanged).
std::string PadLeft(std::string_view text, size_t width, char fill);

// Upper-case hex of value with at least `digits` digits.
std::string Hex(uint64_t value, int digits);
inline std::string Hex2(unsigned value) { return Hex(value, 2); }
inline std::string Hex4(unsigned value) { return Hex(value, 4); }
inline std::string Hex8(uint32_t value) { return Hex(value, 8); }

// A byte as eight "1"/"0" characters, most significant first, and back.
std::string ByteToBits(uint8_t value);
uint8_t BitsToByte(std::string_view bits);

std::string ToUpper(std::string_view text);
bool SameText(std::string_view a, std::string_view b);  // ASCII case-insensitive equality

}  // namespace hex
