#include "config/Tvl.h"

namespace tvl {

namespace {

constexpr bool IsBlank(unsigned char c) { return c == ' ' || c == '\t'; }
constexpr bool IsLineBreak(unsigned char c) { return c == '\r' || c == '\n'; }
constexpr bool IsWhite(unsigned char c) { return IsBlank(c) || IsLineBreak(c); }
constexpr bool IsSeparator(unsigned char c) { return c == ',' || c == ';'; }

int HexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

Reader::Reader(std::string_view source) : text(source), size(static_cast<std::uint32_t>(source.size())) {
  bool sawBreak = false;
  current = afterSeparator = SkipBlanks(0, true, &sawBreak);
  lineBreakAfter = sawBreak;
}

void Reader::Throw(std::int32_t code, std::uint32_t offset) const { throw Error(code, text, offset); }

void Reader::Fail(std::string message) const { throw Error(Error::kUser, text, current, std::move(message)); }

void Reader::Fail(std::string message, const Mark& position) const {
  throw Error(Error::kUser, text, position.current, std::move(message));
}

// Comments are invisible: "{/" starts one, the first "/}" after it ends it, and reading
// goes on right after it (several in a row are skipped together).
bool Reader::PeekSlow(std::uint32_t p, unsigned char& c, std::uint32_t& next) const {
  for (;;) {
    if (p >= size) return false;
    if (text[p] == '{' && p + 1 < size && text[p + 1] == '/') {
      const auto close = text.find("/}", p + 2);
      if (close == std::string_view::npos) Throw(Error::kUnexpectedEnd, size);
      p = static_cast<std::uint32_t>(close + 2);
      continue;
    }
    c = static_cast<unsigned char>(text[p]);
    next = p + 1;
    return true;
  }
}

bool Reader::Escape(std::uint32_t p, unsigned char& byte, std::uint32_t& next) const {
  unsigned char c;
  std::uint32_t q;
  if (!Peek(p, c, q) || c != '{') return false;
  if (!Peek(q, c, q) || c != '\\') return false;
  unsigned char first, second;
  std::uint32_t afterFirst, afterSecond;
  if (!Peek(q, first, afterFirst)) Throw(Error::kBadEscape, size);
  std::uint32_t closeAt;
  if (HexValue(first) >= 0 && Peek(afterFirst, second, afterSecond) && HexValue(second) >= 0) {
    byte = static_cast<unsigned char>(HexValue(first) * 16 + HexValue(second));
    closeAt = afterSecond;
  } else {
    byte = first;
    closeAt = afterFirst;
  }
  if (!Peek(closeAt, c, next) || c != '}') Throw(Error::kBadEscape, closeAt);
  return true;
}

// Skips spaces and tabs (and line breaks when asked). It stops at the first other
// character, comments before it consumed; a comment followed only by the end of the text
// is left in place.
std::uint32_t Reader::SkipBlanks(std::uint32_t p, bool lineBreaks, bool* sawBreak) const {
  unsigned char c;
  std::uint32_t next;
  while (Peek(p, c, next)) {
    if (IsBlank(c) || (lineBreaks && IsLineBreak(c))) {
      if (IsLineBreak(c) && sawBreak) *sawBreak = true;
      p = next;
    } else {
      return next - 1;
    }
  }
  return p;
}

void Reader::AfterItem(std::uint32_t p) {
  tokenEnd = p;
  std::uint32_t q = SkipBlanks(p, false, nullptr);
  unsigned char c;
  std::uint32_t next;
  afterSeparator = Peek(q, c, next) && IsSeparator(c) ? next : tokenEnd;
  bool sawBreak = false;
  current = SkipBlanks(afterSeparator, true, &sawBreak);
  lineBreakAfter = sawBreak;
}

bool Reader::ReadValue(std::string& out) {
  unsigned char c, byte;
  std::uint32_t next;
  std::uint32_t p = current;
  if (Peek(p, c, next) && c == '"') {
    std::string value;
    p = next;
    for (;;) {
      if (!Peek(p, c, next)) Throw(Error::kUnexpectedEnd, size);
      if (c == '"') {
        p = next;
        break;
      }
      if (Escape(p, byte, next)) {
        value += static_cast<char>(byte);
      } else {
        value += static_cast<char>(c);
      }
      p = next;
    }
    // Only a delimiter may follow the closing quote; "{" counts as one only when it opens a
    // section, not when it starts an escape ("{\").
    if (Peek(p, c, next) && !IsWhite(c) && !IsSeparator(c) && c != '=' && c != '}' &&
        (c != '{' || StartsEscape(next))) {
      Throw(Error::kJoinedElements, p);
    }
    out = std::move(value);
    AfterItem(p);
    return true;
  }

  std::string word;
  bool any = false;
  for (;;) {
    if (Escape(p, byte, next)) {
      word += static_cast<char>(byte);
      any = true;
      p = next;
      continue;
    }
    if (!Peek(p, c, next)) break;
    if (IsWhite(c) || IsSeparator(c) || c == '=' || c == '{' || c == '}') {
      p = next - 1;
      break;
    }
    if (c == '"') Throw(Error::kJoinedElements, next - 1);
    word += static_cast<char>(c);
    any = true;
    p = next;
  }
  if (any) {
    out = std::move(word);
    AfterItem(p);
    return true;
  }

  // No token here: an empty value when a separator follows on this line.
  const std::uint32_t q = SkipBlanks(current, false, nullptr);
  if (Peek(q, c, next) && IsSeparator(c)) {
    out.clear();
    AfterItem(current);
    return true;
  }
  return false;
}

bool Reader::ReadEquals() {
  unsigned char c;
  std::uint32_t next;
  if (!Peek(current, c, next) || c != '=') return false;
  AfterItem(next);
  return true;
}

bool Reader::OpenSection() {
  unsigned char c;
  std::uint32_t next;
  if (!Peek(current, c, next) || c != '{' || StartsEscape(next)) return false;
  AfterItem(next);
  return true;
}

bool Reader::StartsEscape(std::uint32_t afterBrace) const {
  unsigned char c;
  std::uint32_t next;
  return Peek(afterBrace, c, next) && c == '\\';
}

bool Reader::CloseSection() {
  unsigned char c;
  std::uint32_t next;
  if (!Peek(current, c, next) || c != '}') return false;
  AfterItem(next);
  return true;
}

void Reader::ReadRaw(std::string& out, bool fromTokenEnd) {
  std::uint32_t p = fromTokenEnd ? tokenEnd : afterSeparator;
  out.clear();
  unsigned char c, byte;
  std::uint32_t next;
  for (;;) {
    if (Escape(p, byte, next)) {
      out += static_cast<char>(byte);
      p = next;
      continue;
    }
    if (!Peek(p, c, next)) break;
    if (c == '{' || c == '}') {
      p = next - 1;
      break;
    }
    out += static_cast<char>(c);
    p = next;
  }
  AfterItem(p);
}

}  // namespace tvl
