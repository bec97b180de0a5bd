#include "Common_Code/Conversions.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "Common_Code/Cp1250.h"

namespace {

template <typename Unsigned>
std::string Digits(Unsigned magnitude, int base, bool upperCase) {
  if (magnitude == 0) return "0";
  const char letterBase = upperCase ? 'A' : 'a';
  std::string out;
  while (magnitude != 0) {
    const int digit = static_cast<int>(magnitude % static_cast<Unsigned>(base));
    out += static_cast<char>(digit < 10 ? '0' + digit : letterBase + digit - 10);
    magnitude /= static_cast<Unsigned>(base);
  }
  std::reverse(out.begin(), out.end());
  return out;
}

// 0..35 for "0".."9", "A".."Z", "a".."z"; 99 for anything else.
int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  return 99;
}

}  // namespace

std::string ToText(std::int32_t value, int base, bool upperCase) {
  const std::uint32_t magnitude =
      value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  std::string digits = Digits(magnitude, base, upperCase);
  return value < 0 ? "-" + digits : digits;
}

std::string ToText(std::uint32_t value, int base, bool upperCase) { return Digits(value, base, upperCase); }

std::string FormatFloat(double value, char letter, int precision) {
  const std::string format = "%." + ToText(static_cast<std::int32_t>(precision)) + letter;
  char buffer[256];
  const int length = std::snprintf(buffer, sizeof buffer, format.c_str(), value);
  if (length < 0) return {};
  if (static_cast<std::size_t>(length) < sizeof buffer) return std::string(buffer, length);
  std::vector<char> large(static_cast<std::size_t>(length) + 1);
  std::snprintf(large.data(), large.size(), format.c_str(), value);
  return std::string(large.data(), length);
}

float ToFloat(std::string_view text) {
  // atof needs a terminated string; the views the program passes are short tokens.
  const std::string copy(text);
  return static_cast<float>(std::atof(copy.c_str()));
}

int ParseInt(std::string_view text, std::int32_t& out, int base) {
  if (text.empty()) return kParseMalformed;
  out = 0;
  std::size_t i = 0;
  int sign = 1;
  if (text[0] == '+' || text[0] == '-') {
    sign = text[0] == '-' ? -1 : 1;
    i = 1;
  }
  const std::int32_t limit = sign > 0 ? INT32_MAX / base : INT32_MIN / base;
  for (; i < text.size(); ++i) {
    const int digit = DigitValue(text[i]);
    if (digit >= base) return kParseMalformed;
    if (sign > 0 ? out > limit : out < limit) return kParseOverflow;
    const std::int64_t next = static_cast<std::int64_t>(out) * base + sign * digit;
    if (next > INT32_MAX || next < INT32_MIN) return kParseOverflow;
    out = static_cast<std::int32_t>(next);
  }
  return kParseOk;
}

int ParseUnsigned(std::string_view text, std::uint32_t& out, int base) {
  if (text.empty()) return kParseMalformed;
  out = 0;
  const std::uint32_t limit = UINT32_MAX / static_cast<std::uint32_t>(base);
  for (char c : text) {
    const int digit = DigitValue(c);
    if (digit >= base) return kParseMalformed;
    if (out > limit) return kParseOverflow;
    const std::uint64_t next = static_cast<std::uint64_t>(out) * base + digit;
    if (next > UINT32_MAX) {
      out = static_cast<std::uint32_t>(next);
      return kParseOverflow;
    }
    out = static_cast<std::uint32_t>(next);
  }
  return kParseOk;
}

bool ParseBool(std::string_view text, bool& out) {
  const std::string lower = LowerCopy(text);
  if (lower == "0" || lower == "f" || lower == "false") {
    out = false;
    return true;
  }
  if (lower == "1" || lower == "t" || lower == "true") {
    out = true;
    return true;
  }
  return false;
}

void ToLower(std::string& text) {
  for (char& c : text) c = static_cast<char>(cp1250::ToLowerByte(static_cast<unsigned char>(c)));
}

std::string LowerCopy(std::string_view text) {
  std::string copy(text);
  ToLower(copy);
  return copy;
}

void Trim(std::string& text) {
  std::size_t end = text.size();
  while (end > 0 && IsSpace(text[end - 1])) --end;
  std::size_t begin = 0;
  while (begin < end && IsSpace(text[begin])) ++begin;
  text = text.substr(begin, end - begin);
}

std::string ReplaceAll(std::string_view text, std::string_view pattern, std::string_view replacement) {
  if (pattern.empty()) return std::string(text);
  std::string out;
  std::size_t from = 0;
  for (;;) {
    const std::size_t found = text.find(pattern, from);
    if (found == std::string_view::npos) break;
    out.append(text.substr(from, found - from));
    out.append(replacement);
    from = found + pattern.size();
  }
  out.append(text.substr(from));
  return out;
}

std::string ConvertLineBreaks(std::string_view text, int style) {
  if (style == kBreaksUnchanged) return std::string(text);
  const std::string_view lineBreak = style == kBreaksCrLf ? "\r\n"
                                     : style == kBreaksLf ? "\n"
                                     : style == kBreaksCr ? "\r"
                                                          : "";
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out.append(lineBreak);
    } else if (text[i] == '\n') {
      out.append(lineBreak);
    } else {
      out += text[i];
    }
  }
  return out;
}

bool NextArgument(std::string_view text, std::size_t& position, std::string& out) {
  if (position >= text.size()) return false;
  while (position < text.size() && IsSpace(text[position])) ++position;
  if (position >= text.size()) return false;
  std::size_t begin = position;
  std::size_t end;
  if (text[position] == '"') {
    ++begin;
    end = text.find('"', begin);
  } else {
    end = begin;
    while (end < text.size() && !IsSpace(text[end])) ++end;
    if (end == text.size()) end = std::string_view::npos;
  }
  if (end == std::string_view::npos) {
    out.assign(text.substr(begin));
    position = text.size() + 1;
  } else {
    out.assign(text.substr(begin, end - begin));
    position = end + 1;
  }
  return true;
}
