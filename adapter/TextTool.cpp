#include "adapter/TextTool.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

namespace zo {

namespace {
bool IsDelimiter(char c) {
  return c == '\t' || c == ' ' || c == ',';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

char* NextToken(char*& Cursor) {
  while (*Cursor != '\0' && IsDelimiter(*Cursor))
    ++Cursor;
  char* token = Cursor;
  while (*Cursor != '\0' && !IsDelimiter(*Cursor))
    ++Cursor;
  if (*Cursor != '\0') {
    *Cursor = '\0';
    ++Cursor;
  }
  return token;
}

bool TryStrToInt(const std::string& Text, std::int32_t& Value) {
  std::size_t i = 0;
  const std::size_t n = Text.size();
  while (i < n && (Text[i] == ' ' || Text[i] == '\t'))
    ++i;
  bool negative = false;
  if (i < n && (Text[i] == '+' || Text[i] == '-')) {
    negative = Text[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < n && Text[i] == '$') {
    hex = true;
    ++i;
  } else if (i < n && (Text[i] == 'x' || Text[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < n && Text[i] == '0' && (Text[i + 1] == 'x' || Text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= n) return false;
  std::uint64_t magnitude = 0;
  for (; i < n; ++i) {
    const int d = hex ? HexDigit(Text[i])
                      : (std::isdigit(static_cast<unsigned char>(Text[i])) ? Text[i] - '0' : -1);
    if (d < 0) return false;
    magnitude = magnitude * (hex ? 16 : 10) + static_cast<std::uint64_t>(d);
    if (magnitude > 0xFFFFFFFFull) return false;
  }
  std::int64_t result;
  if (hex) {
    // Hexadecimal digits give the 32-bit pattern; the sign then applies to that value.
    const auto pattern = static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude));
    result = negative ? -static_cast<std::int64_t>(pattern) : pattern;
    if (result > INT32_MAX || result < INT32_MIN) return false;
  } else {
    result =
        negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    if (result > INT32_MAX || result < INT32_MIN) return false;
  }
  Value = static_cast<std::int32_t>(result);
  return true;
}

bool TryStrToFloat(const std::string& Text, long double& Value) {
  std::size_t i = 0;
  const std::size_t n = Text.size();
  while (i < n && (Text[i] == ' ' || Text[i] == '\t'))
    ++i;
  bool negative = false;
  if (i < n && (Text[i] == '+' || Text[i] == '-')) {
    negative = Text[i] == '-';
    ++i;
  }
  // Collect the digits as an exact decimal mantissa and exponent, then scale once, so that the
  // result does not depend on the C library's locale.
  std::string digits;
  int exponent = 0;
  bool any_digit = false;
  for (; i < n && std::isdigit(static_cast<unsigned char>(Text[i])); ++i) {
    digits += Text[i];
    any_digit = true;
  }
  if (i < n && Text[i] == '.') {
    ++i;
    for (; i < n && std::isdigit(static_cast<unsigned char>(Text[i])); ++i) {
      digits += Text[i];
      --exponent;
      any_digit = true;
    }
  }
  if (!any_digit) return false;
  if (i < n && (Text[i] == 'e' || Text[i] == 'E')) {
    ++i;
    bool exp_negative = false;
    if (i < n && (Text[i] == '+' || Text[i] == '-')) {
      exp_negative = Text[i] == '-';
      ++i;
    }
    if (i >= n || !std::isdigit(static_cast<unsigned char>(Text[i]))) return false;
    int e = 0;
    for (; i < n && std::isdigit(static_cast<unsigned char>(Text[i])); ++i) {
      if (e < 100000) e = e * 10 + (Text[i] - '0');
    }
    exponent += exp_negative ? -e : e;
  }
  if (i != n) return false;
  // strtold in the "C" form: build a canonical text and convert it.
  std::string canonical = (negative ? "-" : "") + (digits.empty() ? std::string("0") : digits) +
                          "e" + std::to_string(exponent);
  // The canonical text has no decimal point, so the locale's decimal separator never matters.
  char* end = nullptr;
  const long double v = std::strtold(canonical.c_str(), &end);
  if (end == nullptr || *end != '\0' || std::isnan(v) || std::isinf(v)) return false;
  Value = v;
  return true;
}

}  // namespace zo
