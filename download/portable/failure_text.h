#pragma once
#include <cstdint>
#include <string>

// The log's account of a failed platform call, without any Windows header.

// "<call> failed with error <decimal code>".
std::string CallFailureLine(const char* call, uint32_t error);

// What a status callback reported about a refused certificate: the flags in hex and, for each
// flag that is known, what it means; for example
// "Secure failure flags 0x00000008 (certificate authority not trusted)".
std::string SecureFailureLine(uint32_t flags);

// The decimal digits of a number, for lines the log builds in 8-bit text.
std::string Decimal(uint32_t value);

// `text`, then " (exit code 0x" and the code's eight hexadecimal digits, then ")".
std::string ExitCodeLine(const char* text, uint32_t code);

// "0x" and the eight lower-case hexadecimal digits of a code, such as an HRESULT ("0x800b0100").
std::wstring WideHex(uint32_t code);
