// A strict reader that only tells whether a text is one JSON value (RFC 8259) whose strings
// are well-formed UTF-8: what a script's JSON parser would accept.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace floppyset::fuzzing {

class JsonCheck {
 public:
  static bool Valid(std::string_view text) {
    JsonCheck check(text);
    return check.Value(0) && (check.Space(), check.at_ == text.size());
  }

 private:
  explicit JsonCheck(std::string_view text) : text_(text) {}

  bool Value(int depth) {
    Space();
    if (depth > 64 || at_ >= text_.size()) return false;
    switch (text_[at_]) {
      case '{':
        return Container('}', depth, true);
      case '[':
        return Container(']', depth, false);
      case '"':
        return String();
      case 't':
        return Word("true");
      case 'f':
        return Word("false");
      case 'n':
        return Word("null");
      default:
        return Number();
    }
  }

  bool Container(char close, int depth, bool object) {
    ++at_;
    Space();
    if (Eat(close)) return true;
    do {
      Space();
      if (object && !(String() && (Space(), Eat(':')))) return false;
      if (!Value(depth + 1)) return false;
      Space();
    } while (Eat(','));
    return Eat(close);
  }

  bool String() {
    if (!Eat('"')) return false;
    std::string plain;
    while (at_ < text_.size() && text_[at_] != '"') {
      const auto c = static_cast<unsigned char>(text_[at_++]);
      if (c < 0x20) return false;
      if (c != '\\') {
        plain += static_cast<char>(c);
        continue;
      }
      if (at_ >= text_.size()) return false;
      const char escape = text_[at_++];
      if (escape == 'u') {
        for (int i = 0; i < 4; ++i, ++at_) {
          if (at_ >= text_.size() || !std::strchr("0123456789abcdefABCDEF", text_[at_]) ||
              text_[at_] == 0) {
            return false;
          }
        }
      } else if (escape == 0 || !std::strchr("\"\\/bfnrt", escape)) {
        return false;
      }
    }
    return Eat('"') && Utf8(plain);
  }

  static bool Utf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
      const auto lead = static_cast<unsigned char>(s[i]);
      const int tail = lead < 0x80                   ? 0
                       : lead >= 0xC2 && lead < 0xE0 ? 1
                       : lead >= 0xE0 && lead < 0xF0 ? 2
                       : lead >= 0xF0 && lead < 0xF5 ? 3
                                                     : -1;
      if (tail < 0 || i + tail >= s.size()) return false;
      uint32_t code = tail == 0 ? lead : lead & (0x3F >> tail);
      for (int k = 1; k <= tail; ++k) {
        const auto next = static_cast<unsigned char>(s[i + k]);
        if ((next & 0xC0) != 0x80) return false;
        code = code << 6 | (next & 0x3F);
      }
      static constexpr uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
      if (code < kLeast[tail] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) return false;
      i += tail + 1;
    }
    return true;
  }

  bool Number() {
    const size_t start = at_;
    Eat('-');
    if (!Digits()) return false;
    if (text_[start + (text_[start] == '-')] == '0' && at_ - start > 1u + (text_[start] == '-')) {
      return false;  // no leading zeros
    }
    if (Eat('.') && !Digits()) return false;
    if ((Eat('e') || Eat('E')) && ((Eat('+') || Eat('-')), !Digits())) return false;
    return true;
  }

  bool Digits() {
    const size_t start = at_;
    while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
    return at_ > start;
  }
  bool Word(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }
  bool Eat(char c) { return at_ < text_.size() && text_[at_] == c && (++at_, true); }
  void Space() {
    while (at_ < text_.size() && std::strchr(" \t\r\n", text_[at_]) && text_[at_] != 0) ++at_;
  }

  std::string_view text_;
  size_t at_ = 0;
};

}  // namespace floppyset::fuzzing
