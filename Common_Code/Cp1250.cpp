#include "Common_Code/Cp1250.h"

namespace cp1250 {

namespace {

constexpr std::array<unsigned char, 256> MakeLowerTable() {
  std::array<unsigned char, 256> table{};
  for (int b = 0; b < 256; ++b) table[b] = static_cast<unsigned char>(b);
  for (int b = 'A'; b <= 'Z'; ++b) table[b] = static_cast<unsigned char>(b + 32);
  // The accented capitals whose small forms sit elsewhere in the code page.
  constexpr unsigned char pairs[][2] = {{0x8A, 0x9A}, {0x8C, 0x9C}, {0x8D, 0x9D}, {0x8E, 0x9E}, {0x8F, 0x9F},
                                        {0xA3, 0xB3}, {0xA5, 0xB9}, {0xAA, 0xBA}, {0xAF, 0xBF}, {0xBC, 0xBE}};
  for (const auto& pair : pairs) table[pair[0]] = pair[1];
  // 0xC0..0xDE lie 0x20 below their small forms, except the multiplication sign 0xD7.
  for (int b = 0xC0; b <= 0xDE; ++b) {
    if (b != 0xD7) table[b] = static_cast<unsigned char>(b + 0x20);
  }
  return table;
}

constexpr auto kLower = MakeLowerTable();

}  // namespace

unsigned char ToLowerByte(unsigned char byte) { return kLower[byte]; }

std::string ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const char32_t cp = ToCodePoint(static_cast<unsigned char>(c));
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

std::string FromUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    unsigned char byte = 0;
    if (FromCodePoint(DecodeUtf8(text, pos), byte)) out += static_cast<char>(byte);
  }
  return out;
}

std::string PathText(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  std::size_t pos = 0;
  while (pos < path.size()) {
    unsigned char byte = 0;
    out += FromCodePoint(DecodeUtf8(path, pos), byte) ? static_cast<char>(byte) : '?';
  }
  return out;
}

}  // namespace cp1250
