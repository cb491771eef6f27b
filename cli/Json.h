// A tiny JSON writer for the command line's --json output: one document, keys in the order they
// are written, two-space indentation.
//
// The caller keeps the nesting right (every Begin has its End, every member of an object starts
// with Key); the writer only separates, indents and escapes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zo {

class TJsonWriter {
 public:
  void BeginObject();
  void EndObject();
  void BeginArray();
  void EndArray();

  // The name of the next member of the current object.
  void Key(const std::string& Name);

  // Text values are escaped: quote, backslash and control characters; bytes from 0x80 on pass
  // unchanged (the texts are UTF-8 or plain ASCII).
  void String(const std::string& Value);
  void Integer(std::int64_t Value);
  void Bool(bool Value);
  void Null();
  // A number given as text, such as a setting's display text "14.40". A text that is not a JSON
  // number (for example "Error during read") is written as a string instead.
  void NumberText(const std::string& Text);

  // Shorthands for a member: Key, then the value.
  void Member(const std::string& Name, const std::string& Value);
  void Member(const std::string& Name, const char* Value);
  void Member(const std::string& Name, std::int64_t Value);
  void Member(const std::string& Name, int Value) { Member(Name, std::int64_t{Value}); }
  void MemberBool(const std::string& Name, bool Value);

  // The document so far, ended by a line break once the outermost value is complete.
  std::string Text() const;

 private:
  void BeforeValue();
  void Newline();

  std::string out_;
  struct TLevel {
    bool IsObject;
    int Count;
  };
  std::vector<TLevel> levels_;
  bool after_key_ = false;
};

// True when `Text` follows the JSON number grammar: -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
bool IsJsonNumber(const std::string& Text);

// `Text` as a quoted, escaped JSON string. Well-formed UTF-8 passes unchanged; a byte that is not
// part of a well-formed UTF-8 sequence becomes \ufffd, so the result is always valid JSON.
std::string JsonQuote(const std::string& Text);

}  // namespace zo
