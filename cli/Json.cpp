#include "cli/Json.h"

namespace zo {

namespace {

bool Digit(char c) {
  return c >= '0' && c <= '9';
}

// The length of the well-formed UTF-8 sequence that starts at Text[I], or 0 when the bytes there
// are not one (a stray continuation byte, an overlong form, a surrogate, a cut-off sequence).
std::size_t Utf8Length(const std::string& Text, std::size_t I) {
  const auto at = [&Text](std::size_t K) { return static_cast<unsigned char>(Text[K]); };
  const unsigned char lead = at(I);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (I + length > Text.size()) return 0;
  if (at(I + 1) < low || at(I + 1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k)
    if (at(I + k) < 0x80 || at(I + k) > 0xBF) return 0;
  return length;
}

}  // namespace

bool IsJsonNumber(const std::string& Text) {
  std::size_t i = 0;
  const std::size_t n = Text.size();
  if (i < n && Text[i] == '-') ++i;
  if (i >= n || !Digit(Text[i])) return false;
  if (Text[i] == '0') {
    ++i;
  } else {
    while (i < n && Digit(Text[i]))
      ++i;
  }
  if (i < n && Text[i] == '.') {
    ++i;
    if (i >= n || !Digit(Text[i])) return false;
    while (i < n && Digit(Text[i]))
      ++i;
  }
  if (i < n && (Text[i] == 'e' || Text[i] == 'E')) {
    ++i;
    if (i < n && (Text[i] == '+' || Text[i] == '-')) ++i;
    if (i >= n || !Digit(Text[i])) return false;
    while (i < n && Digit(Text[i]))
      ++i;
  }
  return i == n;
}

std::string JsonQuote(const std::string& Text) {
  static const char hex[] = "0123456789abcdef";
  std::string out = "\"";
  for (std::size_t i = 0; i < Text.size(); ++i) {
    const char ch = Text[i];
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 0x80) {
      // Names from the command line or the file system need not be UTF-8; a byte that is not
      // part of a well-formed sequence becomes U+FFFD, so the document stays valid JSON.
      const std::size_t n = Utf8Length(Text, i);
      if (n == 0) {
        out += "\\ufffd";
      } else {
        out.append(Text, i, n);
        i += n - 1;
      }
      continue;
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\u00";
          out += hex[c >> 4];
          out += hex[c & 0xF];
        } else {
          out += ch;
        }
    }
  }
  out += '"';
  return out;
}

void TJsonWriter::Newline() {
  out_ += '\n';
  out_.append(2 * levels_.size(), ' ');
}

void TJsonWriter::BeforeValue() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (levels_.empty()) return;
  TLevel& level = levels_.back();
  if (level.Count++ > 0) out_ += ',';
  Newline();
}

void TJsonWriter::BeginObject() {
  BeforeValue();
  out_ += '{';
  levels_.push_back({true, 0});
}

void TJsonWriter::BeginArray() {
  BeforeValue();
  out_ += '[';
  levels_.push_back({false, 0});
}

void TJsonWriter::EndObject() {
  const bool empty = levels_.empty() || levels_.back().Count == 0;
  if (!levels_.empty()) levels_.pop_back();
  if (!empty) Newline();
  out_ += '}';
}

void TJsonWriter::EndArray() {
  EndObject();
  out_.back() = ']';
}

void TJsonWriter::Key(const std::string& Name) {
  if (!levels_.empty()) {
    TLevel& level = levels_.back();
    if (level.Count++ > 0) out_ += ',';
  }
  Newline();
  out_ += JsonQuote(Name);
  out_ += ": ";
  after_key_ = true;
}

void TJsonWriter::String(const std::string& Value) {
  BeforeValue();
  out_ += JsonQuote(Value);
}

void TJsonWriter::Integer(std::int64_t Value) {
  BeforeValue();
  out_ += std::to_string(Value);
}

void TJsonWriter::Bool(bool Value) {
  BeforeValue();
  out_ += Value ? "true" : "false";
}

void TJsonWriter::Null() {
  BeforeValue();
  out_ += "null";
}

void TJsonWriter::NumberText(const std::string& Text) {
  if (!IsJsonNumber(Text)) {
    String(Text);
    return;
  }
  BeforeValue();
  out_ += Text;
}

void TJsonWriter::Member(const std::string& Name, const std::string& Value) {
  Key(Name);
  String(Value);
}

void TJsonWriter::Member(const std::string& Name, const char* Value) {
  Key(Name);
  String(Value);
}

void TJsonWriter::Member(const std::string& Name, std::int64_t Value) {
  Key(Name);
  Integer(Value);
}

void TJsonWriter::MemberBool(const std::string& Name, bool Value) {
  Key(Name);
  Bool(Value);
}

std::string TJsonWriter::Text() const {
  if (levels_.empty() && !out_.empty()) return out_ + "\n";
  return out_;
}

}  // namespace zo
