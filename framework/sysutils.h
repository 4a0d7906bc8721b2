// Text and time helpers of the framework, under their familiar names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/decimal.h"

// A signed 32-bit decimal number: no leading zeros, grouping or plus sign.
using common::IntToStr;

// The text without leading and trailing characters at or below U+0020.
std::u16string Trim(std::u16string_view text);

// The whole text upper-cased by the system's locale rules.
std::u16string AnsiUpperCase(std::u16string_view text);

// 1-based position of the first occurrence of sub in text, 0 when absent.
std::size_t Pos(std::u16string_view sub, std::u16string_view text);

// Blocks the calling thread for about the given time, through the clock seam.
void Sleep(unsigned milliseconds);
