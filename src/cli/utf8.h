#pragma once
// File names and box answers are bytes, not text: the CLI checks UTF-8 before it prints them.
#include <cstddef>
#include <string>

// The length of the well-formed UTF-8 sequence starting at `at` (1 to 4), or 0 when the bytes
// there are not one (a stray continuation byte, an overlong form, a surrogate, past U+10FFFF, cut).
size_t Utf8SequenceLength(const std::string& text, size_t at);
