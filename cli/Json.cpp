#include "cli/Json.h"

namespace zo {

std::string JsonText(const TJson& Document) {
  return Document.dump(2, ' ', false, TJson::error_handler_t::replace) + "\n";
}

TJson NumberOrText(const std::string& Text) {
  // The parser would skip white space around the number; such a text is kept as it is.
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  if (!Text.empty() && !space(Text.front()) && !space(Text.back())) {
    TJson number = TJson::parse(Text, nullptr, false);
    if (number.is_number()) return number;
  }
  return Text;
}

TJson TextOrNull(const std::string& Text) {
  return Text.empty() ? TJson(nullptr) : TJson(Text);
}

}  // namespace zo
