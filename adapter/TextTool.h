// Text helpers: the tokenizer of the variable definitions, and the conversions of typed numbers.
#pragma once

#include <cstdint>
#include <string>

namespace zo {

// Works on a writable, NUL-terminated buffer: skips delimiters (TAB, space, comma), returns the
// start of the next token and cuts it off with a NUL, leaving Cursor behind it. At the end of the
// text the result is an empty string and Cursor stays on the final NUL.
char* NextToken(char*& Cursor);

// The one rule for typed integers (the "Other" port, the overruled version, the "/v" option, the
// addresses of definition strings): leading blanks, an optional sign, then hexadecimal digits
// after "$", "x", "X", "0x" or "0X", otherwise decimal digits; nothing may follow. Decimal numbers
// must lie in the 32-bit signed range; hexadecimal ones may use all 32 bits (so $FFFFFFFF is -1).
// False, with `Value` unchanged, when the text does not convert.
bool TryStrToInt(const std::string& Text, std::int32_t& Value);

// Real numbers: leading blanks, optional sign, digits, optional '.' and fraction, optional
// exponent (E or e with optional sign); '.' is the decimal point whatever the locale; nothing may
// follow. Computed in extended precision. False, with `Value` unchanged, when it does not convert.
bool TryStrToFloat(const std::string& Text, long double& Value);

}  // namespace zo
