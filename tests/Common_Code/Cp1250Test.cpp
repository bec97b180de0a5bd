#include "Common_Code/Cp1250.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdint>

namespace {

// The code point glibc's iconv gives for one CP1250 byte; 0 when it refuses the byte.
char32_t IconvCodePoint(unsigned char byte) {
  iconv_t cd = iconv_open("UTF-32LE", "CP1250");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  char in[1] = {static_cast<char>(byte)};
  unsigned char out[8] = {};
  char* inPtr = in;
  char* outPtr = reinterpret_cast<char*>(out);
  size_t inLeft = 1, outLeft = sizeof out;
  const size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (result == static_cast<size_t>(-1)) return 0;
  return char32_t(out[0]) | char32_t(out[1]) << 8 | char32_t(out[2]) << 16 | char32_t(out[3]) << 24;
}

TEST(Cp1250, EveryByteDecodesAsIconvAndEncodesBack) {
  int undefined = 0;
  for (int b = 0; b < 256; ++b) {
    const auto byte = static_cast<unsigned char>(b);
    const char32_t expected = IconvCodePoint(byte);
    if (expected == 0 && b != 0) {
      // Bytes the code page leaves undefined decode to the C1 control of the same value.
      EXPECT_EQ(cp1250::ToCodePoint(byte), char32_t(b)) << b;
      ++undefined;
    } else {
      EXPECT_EQ(cp1250::ToCodePoint(byte), expected) << "byte " << b;
    }
    unsigned char back = 0;
    ASSERT_TRUE(cp1250::FromCodePoint(cp1250::ToCodePoint(byte), back)) << b;
    EXPECT_EQ(back, byte);
  }
  EXPECT_EQ(undefined, 5);
}

TEST(Cp1250, LiteralIsConvertedWhileCompiling) {
  constexpr std::string_view text = "Błąd: źle"_cp;
  static_assert(text.size() == 9);
  EXPECT_EQ(text, std::string_view("B\xB3\xB9"
                                   "d: \x9F"
                                   "le"));
  EXPECT_EQ(std::string("zażółć gęślą jaźń ZAŻÓŁĆ"_cp),
            "za\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9 ja\x9F\xF1 ZA\xAF\xD3\xA3\xC6");
}

TEST(Cp1250, Utf8RoundTripAndDroppedCharacters) {
  const std::string cp = "Otwórz siatkę €"_cp;
  EXPECT_EQ(cp1250::ToUtf8(cp), "Otwórz siatkę €");
  EXPECT_EQ(cp1250::FromUtf8("Otwórz siatkę €"), cp);
  // Characters outside the code page are dropped; malformed UTF-8 is dropped too.
  EXPECT_EQ(cp1250::FromUtf8("a\xE4\xB8\xAD"
                             "b\xF0\x9F\x98\x80"
                             "c\xC3"
                             "d\x80"
                             "e"),
            "abcde");
  EXPECT_EQ(cp1250::FromUtf8("ĳ ñ ń"), "  \xF1");  // ñ is not in the code page, ń is
}

// A path in a message: Polish letters become their code-page bytes, what the code page
// lacks and bytes that are not UTF-8 become one "?" each, so no letter silently vanishes.
TEST(Cp1250, PathTextMarksWhatTheCodePageLacks) {
  EXPECT_EQ(cp1250::PathText("/tmp/siatka_żółw.qem"), std::string("/tmp/siatka_żółw.qem"_cp));
  EXPECT_EQ(cp1250::PathText("a\xE4\xB8\xAD"
                             "b\xF0\x9F\x98\x80"
                             "c\xC3"
                             "d\x80"
                             "e"),
            "a?b?c?d?e");
  EXPECT_EQ(cp1250::PathText("ĳ ñ ń"), "? ? \xF1");
  EXPECT_EQ(cp1250::PathText(""), "");
}

TEST(Cp1250, LowerCasingTakesAccentedCapitalsToSmallForms) {
  struct Case {
    const char* upperUtf8;
    const char* lowerUtf8;
  };
  const Case cases[] = {{"ABCXYZ", "abcxyz"},
                        {"ĄĆĘŁŃÓŚŹŻ", "ąćęłńóśźż"},
                        {"ŠŤŽĽŔÁÂĂÄĹÇČÉËĚÍÎĎĐŇŐÖŘŮÚŰÜÝŢ", "šťžľŕáâăäĺçčéëěíîďđňőöřůúűüýţ"},
                        {"Şß×÷@[`{", "şß×÷@[`{"}};
  for (const Case& c : cases) {
    std::string text = cp1250::FromUtf8(c.upperUtf8);
    for (char& ch : text) ch = static_cast<char>(cp1250::ToLowerByte(static_cast<unsigned char>(ch)));
    EXPECT_EQ(cp1250::ToUtf8(text), c.lowerUtf8);
  }
  // Small letters, digits and punctuation never change.
  for (int b = 0; b < 256; ++b) {
    const auto byte = static_cast<unsigned char>(b);
    const unsigned char lower = cp1250::ToLowerByte(byte);
    EXPECT_EQ(cp1250::ToLowerByte(lower), lower) << b;
  }
}

}  // namespace
