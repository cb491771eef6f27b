// The command line's --json documents: nlohmann's JSON with the members in the order they are
// added, printed with two-space indentation.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace zo {

using TJson = nlohmann::ordered_json;

// `Document` as printed: two-space indentation, ended by a line break. Well-formed UTF-8 passes
// unchanged; bytes that are not (a file name in Latin-1) become U+FFFD, so the document is always
// valid JSON.
std::string JsonText(const TJson& Document);

// A number given as text, such as a setting's display text "14.40": the number it spells (14.4,
// the same number; "52" stays an integer). A text that is no JSON number ("Error during read")
// stays a string.
TJson NumberOrText(const std::string& Text);

// Null for an empty text, else the text.
TJson TextOrNull(const std::string& Text);

}  // namespace zo
