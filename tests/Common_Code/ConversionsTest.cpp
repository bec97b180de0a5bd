#include "Common_Code/Conversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>

#include "Common_Code/Cp1250.h"

namespace {

TEST(Conversions, ToText) {
  EXPECT_EQ(ToText(std::int32_t{0}), "0");
  EXPECT_EQ(ToText(std::int32_t{-45}), "-45");
  EXPECT_EQ(ToText(std::numeric_limits<std::int32_t>::min()), "-2147483648");
  EXPECT_EQ(ToText(std::numeric_limits<std::int32_t>::max()), "2147483647");
  EXPECT_EQ(ToText(std::uint32_t{4294967295u}), "4294967295");
  EXPECT_EQ(ToText(std::uint32_t{0}), "0");
  EXPECT_EQ(ToText(std::uint32_t{0xFF00AB}, 16, true), "FF00AB");
  EXPECT_EQ(ToText(std::int32_t{-255}, 16, false), "-ff");
  EXPECT_EQ(ToText(std::uint32_t{35}, 36, true), "Z");
}

TEST(Conversions, FormatFloatAsPrintfWithoutALengthLimit) {
  EXPECT_EQ(FormatFloat(1.5, 'f', 6), "1.500000");
  EXPECT_EQ(FormatFloat(0.1f, 'g', 6), "0.1");
  EXPECT_EQ(FormatFloat(-2.0, 'f', 0), "-2");
  EXPECT_EQ(FormatFloat(1e300, 'f', 6).size(), 301u + 7u);  // longer than 255 bytes, whole
}

TEST(Conversions, ToFloatReadsLikeAtof) {
  const char* cases[] = {"1.5",  "  -2.25e1xyz", "+3", ".5",   "5.",      "1e-3",         "0x1p4",          "inf",
                         "-nan", "abc",          "",   "1e40", "  \t\n7", "3.4028235e38", "1.17549435e-38", "12,5"};
  for (const char* text : cases) {
    const float expected = static_cast<float>(std::atof(text));
    const float actual = ToFloat(text);
    if (std::isnan(expected)) {
      EXPECT_TRUE(std::isnan(actual)) << text;
    } else {
      EXPECT_EQ(actual, expected) << text;
    }
  }
}

TEST(Conversions, ParseInt) {
  struct Case {
    const char* text;
    int base;
    int result;
    std::int32_t value;
  };
  const Case cases[] = {
      {"0", 10, 0, 0},
      {"-2147483648", 10, 0, std::numeric_limits<std::int32_t>::min()},
      {"2147483647", 10, 0, 2147483647},
      {"+17", 10, 0, 17},
      {"-", 10, 0, 0},
      {"+", 10, 0, 0},
      {"7f", 16, 0, 127},
      {"-7F", 16, 0, -127},
      {"zz", 36, 0, 35 * 36 + 35},
  };
  for (const Case& c : cases) {
    std::int32_t out = 99;
    EXPECT_EQ(ParseInt(c.text, out, c.base), c.result) << c.text;
    EXPECT_EQ(out, c.value) << c.text;
  }
  const std::pair<const char*, int> failures[] = {
      {"", -1},    {"12a", -1},        {" 1", -1},          {"1 ", -1},
      {"--1", -1}, {"2147483648", -2}, {"-2147483649", -2}, {"99999999999", -2}};
  for (const auto& [text, result] : failures) {
    std::int32_t out = 0;
    EXPECT_EQ(ParseInt(text, out, 10), result) << text;
  }
}

TEST(Conversions, ParseUnsigned) {
  std::uint32_t out = 0;
  EXPECT_EQ(ParseUnsigned("4294967295", out, 10), 0);
  EXPECT_EQ(out, 4294967295u);
  EXPECT_EQ(ParseUnsigned("FFFFFFFF", out, 16), 0);
  EXPECT_EQ(out, 0xFFFFFFFFu);
  EXPECT_EQ(ParseUnsigned("ff00aa", out, 16), 0);
  EXPECT_EQ(out, 0xFF00AAu);
  EXPECT_EQ(ParseUnsigned("4294967296", out, 10), -2);
  EXPECT_EQ(ParseUnsigned("100000000", out, 16), -2);
  EXPECT_EQ(ParseUnsigned("-1", out, 10), -1);
  EXPECT_EQ(ParseUnsigned("+1", out, 10), -1);
  EXPECT_EQ(ParseUnsigned("", out, 10), -1);
  EXPECT_EQ(ParseUnsigned("12x4", out, 10), -1);
  EXPECT_EQ(out, 12u);  // the partial value stays after a failure
}

TEST(Conversions, ParseBool) {
  for (const char* text : {"1", "t", "T", "true", "TRUE", "True"}) {
    bool out = false;
    EXPECT_TRUE(ParseBool(text, out)) << text;
    EXPECT_TRUE(out) << text;
  }
  for (const char* text : {"0", "f", "F", "false", "FALSE"}) {
    bool out = true;
    EXPECT_TRUE(ParseBool(text, out)) << text;
    EXPECT_FALSE(out) << text;
  }
  for (const char* text : {"", "yes", " true", "truex", "2"}) {
    bool out = true;
    EXPECT_FALSE(ParseBool(text, out)) << text;
    EXPECT_TRUE(out) << text;  // unchanged
  }
}

TEST(Conversions, LowerTrimReplace) {
  EXPECT_EQ(LowerCopy("Gfx/Font/ŁÓDŹ"_cp), std::string("gfx/font/łódź"_cp));
  std::string text = " \t\r\n\v x y \n";
  Trim(text);
  EXPECT_EQ(text, "x y");
  text = " \t \t";
  Trim(text);
  EXPECT_EQ(text, "");
  text = "\fx\f";  // form feed is not white space
  Trim(text);
  EXPECT_EQ(text, "\fx\f");

  EXPECT_EQ(ReplaceAll("aaaa", "aa", "b"), "bb");
  EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
  EXPECT_EQ(ReplaceAll("a.b.c", ".", ".."), "a..b..c");  // replaced text is not scanned again
  EXPECT_EQ(ReplaceAll("xyz", "q", "r"), "xyz");
}

TEST(Conversions, ConvertLineBreaks) {
  const std::string text = "a\r\nb\rc\n";
  EXPECT_EQ(ConvertLineBreaks(text, 0), text);
  EXPECT_EQ(ConvertLineBreaks(text, 1), "a\r\nb\r\nc\r\n");
  EXPECT_EQ(ConvertLineBreaks(text, 2), "a\nb\nc\n");
  EXPECT_EQ(ConvertLineBreaks(text, 3), "a\rb\rc\r");
  EXPECT_EQ(ConvertLineBreaks(text, 7), "abc");
  EXPECT_EQ(ConvertLineBreaks("x\r\r\ny\n\n", 2), "x\n\ny\n\n");  // two CRs in a row are two breaks
}

TEST(Conversions, NextArgumentSplitsACommandLine) {
  const std::string line = "  \"C:\\My Meshes\\a b.qem\" -fast  last";
  std::size_t position = 0;
  std::string out;
  ASSERT_TRUE(NextArgument(line, position, out));
  EXPECT_EQ(out, "C:\\My Meshes\\a b.qem");
  ASSERT_TRUE(NextArgument(line, position, out));
  EXPECT_EQ(out, "-fast");
  ASSERT_TRUE(NextArgument(line, position, out));
  EXPECT_EQ(out, "last");
  EXPECT_EQ(position, line.size() + 1);
  EXPECT_FALSE(NextArgument(line, position, out));

  position = 0;
  ASSERT_TRUE(NextArgument("\"open quote to end", position, out));
  EXPECT_EQ(out, "open quote to end");
  position = 0;
  EXPECT_FALSE(NextArgument(" \t ", position, out));
  EXPECT_EQ(position, 3u);
  position = 0;
  ASSERT_TRUE(NextArgument("\"\" x", position, out));
  EXPECT_EQ(out, "");
}

}  // namespace
