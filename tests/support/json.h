// A small JSON reader for the fixtures' sidecar files: enough of JSON for
// what those files hold (objects, arrays, strings, numbers, true/false/null).
#ifndef TESTS_SUPPORT_JSON_H_
#define TESTS_SUPPORT_JSON_H_

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/unicode.h"

namespace testsupport {

struct Json {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = Kind::kNull;
  bool boolean = false;
  double number = 0;
  std::string number_text;  // as written, for exact comparisons
  std::u16string text;
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;

  const Json& operator[](std::string_view key) const {
    for (const auto& [name, value] : members) {
      if (name == key) return value;
    }
    throw std::out_of_range("no member " + std::string(key));
  }
  bool Has(std::string_view key) const {
    for (const auto& member : members) {
      if (member.first == key) return true;
    }
    return false;
  }
  bool is_null() const { return kind == Kind::kNull; }
  std::string Utf8() const;
};

using conversion::ToUtf8;

inline std::string Json::Utf8() const { return ToUtf8(text); }

class JsonParser {
 public:
  explicit JsonParser(std::string_view text) : text_(text) {}

  Json Parse() {
    Json value = Value();
    Blank();
    if (at_ != text_.size()) Fail("trailing text");
    return value;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) { throw std::runtime_error("JSON: " + what + " at " + std::to_string(at_)); }
  void Blank() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\n' || text_[at_] == '\r' || text_[at_] == '\t')) ++at_;
  }
  char Peek() {
    Blank();
    if (at_ >= text_.size()) Fail("unexpected end");
    return text_[at_];
  }
  void Expect(char c) {
    if (Peek() != c) Fail(std::string("expected ") + c);
    ++at_;
  }
  unsigned Hex4() {
    if (at_ + 4 > text_.size()) Fail("short escape");
    const unsigned value = static_cast<unsigned>(std::stoul(std::string(text_.substr(at_, 4)), nullptr, 16));
    at_ += 4;
    return value;
  }
  std::u16string String() {
    Expect('"');
    std::u16string out;
    while (true) {
      if (at_ >= text_.size()) Fail("unterminated string");
      const auto c = static_cast<unsigned char>(text_[at_++]);
      if (c == '"') break;
      if (c == '\\') {
        const char e = text_[at_++];
        switch (e) {
          case 'n': out += u'\n'; break;
          case 't': out += u'\t'; break;
          case 'r': out += u'\r'; break;
          case 'b': out += u'\b'; break;
          case 'f': out += u'\f'; break;
          case 'u': out += static_cast<char16_t>(Hex4()); break;
          default: out += static_cast<char16_t>(e);
        }
        continue;
      }
      std::uint32_t cp = c;
      int extra = 0;
      if (c >= 0xF0) {
        cp = c & 0x07;
        extra = 3;
      } else if (c >= 0xE0) {
        cp = c & 0x0F;
        extra = 2;
      } else if (c >= 0xC0) {
        cp = c & 0x1F;
        extra = 1;
      }
      for (int i = 0; i < extra; ++i) cp = (cp << 6) | (static_cast<unsigned char>(text_[at_++]) & 0x3F);
      if (cp >= 0x10000) {
        out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
        out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
      } else {
        out += static_cast<char16_t>(cp);
      }
    }
    return out;
  }
  Json Value() {
    Json value;
    const char c = Peek();
    if (c == '{') {
      value.kind = Json::Kind::kObject;
      ++at_;
      if (Peek() == '}') {
        ++at_;
        return value;
      }
      while (true) {
        const std::string key = ToUtf8(String());
        Expect(':');
        value.members.emplace_back(key, Value());
        if (Peek() == ',') {
          ++at_;
          continue;
        }
        Expect('}');
        return value;
      }
    }
    if (c == '[') {
      value.kind = Json::Kind::kArray;
      ++at_;
      if (Peek() == ']') {
        ++at_;
        return value;
      }
      while (true) {
        value.items.push_back(Value());
        if (Peek() == ',') {
          ++at_;
          continue;
        }
        Expect(']');
        return value;
      }
    }
    if (c == '"') {
      value.kind = Json::Kind::kString;
      value.text = String();
      return value;
    }
    if (text_.substr(at_, 4) == "true") {
      value.kind = Json::Kind::kBool;
      value.boolean = true;
      at_ += 4;
      return value;
    }
    if (text_.substr(at_, 5) == "false") {
      value.kind = Json::Kind::kBool;
      at_ += 5;
      return value;
    }
    if (text_.substr(at_, 4) == "null") {
      at_ += 4;
      return value;
    }
    const std::size_t start = at_;
    while (at_ < text_.size() && std::string_view("+-0123456789.eE").find(text_[at_]) != std::string_view::npos) ++at_;
    if (start == at_) Fail("unexpected character");
    value.kind = Json::Kind::kNumber;
    value.number_text = std::string(text_.substr(start, at_ - start));
    value.number = std::strtod(value.number_text.c_str(), nullptr);
    return value;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

inline Json ParseJson(std::string_view text) { return JsonParser(text).Parse(); }

inline Json ReadJsonFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return ParseJson(buffer.str());
}

}  // namespace testsupport

#endif  // TESTS_SUPPORT_JSON_H_
