#pragma once
// Windows-1250 text. Every string the program holds is Windows-1250 bytes; sources stay
// UTF-8. A literal with Polish letters is written "Błąd"_cp and converted while compiling
// (a character outside the code page is a compile error). Conversions to and from UTF-8
// and Unicode happen only at the program's boundaries (SDL, glyph lookup, text input).
// All functions are pure and may be called from any thread.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace cp1250 {

// Unicode code points of the bytes 0x80..0xFF. The five bytes the code page leaves
// undefined (0x81, 0x83, 0x88, 0x90, 0x98) decode to the C1 control of the same value,
// so every byte decodes and encodes back to itself.
inline constexpr std::array<char16_t, 128> kHighHalf = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021, 0x0088, 0x2030, 0x0160, 0x2039, 0x015A,
    0x0164, 0x017D, 0x0179, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
    0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A, 0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6,
    0x00A7, 0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B, 0x00B0, 0x00B1, 0x02DB, 0x0142,
    0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C, 0x0154,
    0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7, 0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD,
    0x00CE, 0x010E, 0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7, 0x0158, 0x016E, 0x00DA,
    0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF, 0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F, 0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4,
    0x0151, 0x00F6, 0x00F7, 0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};

// The code point of one byte.
constexpr char32_t ToCodePoint(unsigned char byte) {
  return byte < 0x80 ? char32_t(byte) : char32_t(kHighHalf[byte - 0x80]);
}

// The byte of a code point; false when the code page has no such character.
constexpr bool FromCodePoint(char32_t codePoint, unsigned char& byte) {
  if (codePoint < 0x80) {
    byte = static_cast<unsigned char>(codePoint);
    return true;
  }
  for (std::size_t i = 0; i < kHighHalf.size(); ++i) {
    if (kHighHalf[i] == codePoint) {
      byte = static_cast<unsigned char>(0x80 + i);
      return true;
    }
  }
  return false;
}

// Decodes one UTF-8 sequence starting at text[pos] and moves pos past it. A malformed or
// cut sequence yields U+FFFD and skips one byte.
constexpr char32_t DecodeUtf8(std::string_view text, std::size_t& pos) {
  const unsigned char lead = static_cast<unsigned char>(text[pos]);
  const int extra = lead < 0x80 ? 0 : (lead >> 5) == 0x6 ? 1 : (lead >> 4) == 0xE ? 2 : (lead >> 3) == 0x1E ? 3 : -1;
  if (extra <= 0 || pos + extra >= text.size()) {
    ++pos;
    return extra == 0 ? char32_t(lead) : char32_t(0xFFFD);
  }
  char32_t cp = lead & (0x7F >> (extra + 1));
  for (int i = 1; i <= extra; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[pos + i]);
    if ((c & 0xC0) != 0x80) {
      ++pos;
      return 0xFFFD;
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  pos += extra + 1;
  return cp;
}

// Windows-1250 lower-casing of one byte: ASCII capitals and the accented capitals of the
// code page become their small forms; every other byte stays.
unsigned char ToLowerByte(unsigned char byte);

// Windows-1250 bytes to UTF-8 (for SDL titles and message boxes).
std::string ToUtf8(std::string_view text);

// UTF-8 to Windows-1250 bytes; characters the code page lacks are dropped.
std::string FromUtf8(std::string_view text);

// A file-system path (UTF-8 bytes) as Windows-1250 text, for the program's messages: each
// character the code page lacks, and each byte that is not part of a UTF-8 character,
// becomes one "?", so the reader still sees where a letter stood. The path itself stays
// as it is for opening the file.
std::string PathText(std::string_view path);

// Compile-time conversion behind the _cp literal.
template <std::size_t N>
struct Literal {
  char bytes[N]{};
  std::size_t size = 0;

  consteval Literal(const char (&utf8)[N]) {
    std::string_view text(utf8, N - 1);
    std::size_t pos = 0;
    while (pos < text.size()) {
      unsigned char out = 0;
      if (!FromCodePoint(DecodeUtf8(text, pos), out)) {
        NotInCodePage();  // not a constant expression: the literal fails to compile
      }
      bytes[size++] = static_cast<char>(out);
    }
  }
  constexpr operator std::string_view() const { return {bytes, size}; }
  constexpr std::string_view view() const { return {bytes, size}; }
  operator std::string() const { return std::string(bytes, size); }
  friend constexpr bool operator==(const Literal& left, std::string_view right) { return left.view() == right; }

 private:
  static void NotInCodePage() {}
};

}  // namespace cp1250

namespace cp1250 {
template <Literal L>
inline constexpr auto kLiteral = L;
}

// "Błąd"_cp: the Windows-1250 bytes of a UTF-8 literal, fixed at compile time; the result
// lives for the whole program, so a string_view of it never dangles.
template <cp1250::Literal L>
constexpr const auto& operator""_cp() {
  return cp1250::kLiteral<L>;
}

// std::string + "..."_cp
template <std::size_t N>
std::string operator+(const std::string& left, const cp1250::Literal<N>& right) {
  return left + std::string(right.view());
}
template <std::size_t N>
std::string operator+(const cp1250::Literal<N>& left, const std::string& right) {
  return std::string(left.view()) + right;
}
