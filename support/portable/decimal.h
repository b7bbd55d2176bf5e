#pragma once
#include <string>

// Decimal digits of a number, with a leading '-' when negative. Written by hand because the
// library's wide conversions go through the C runtime's printf, which links its whole formatter
// (floating point included, about 30 KB) into the shipped program. No locale, no grouping.
std::wstring WideDecimal(long long value);
