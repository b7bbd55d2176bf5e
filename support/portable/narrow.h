#pragma once
#include <string>

// Narrows wide text the way the C runtime does in its default locale: code points up to U+00FF
// become the byte of the same value. Others become `replacement`; the result says whether all
// characters were representable.
bool NarrowLatin1(const std::wstring& text, std::string& out, char replacement = '?');

// The inverse of NarrowLatin1 for representable text: each byte becomes the code point of the
// same value.
std::wstring WidenLatin1(const std::string& text);
