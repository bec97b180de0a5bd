#include "config/Tvl.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

// Drives the reader the way its users do and writes what it met: values as <v>, "=",
// "{" and "}", and "|" after an item followed by a line break. Stops at the first thing
// that none of the reads takes.
std::string Tokens(std::string_view text) {
  tvl::Reader reader(text);
  std::string out;
  std::string value;
  while (!reader.AtEnd()) {
    if (reader.ReadValue(value)) {
      out += "<" + value + ">";
    } else if (reader.ReadEquals()) {
      out += "=";
    } else if (reader.OpenSection()) {
      out += "{";
    } else if (reader.CloseSection()) {
      out += "}";
    } else {
      out += "?";
      break;
    }
    if (reader.LineBreakAfter()) out += "|";
  }
  return out;
}

struct TokenCase {
  const char* text;
  const char* tokens;
};

TEST(TvlReader, Tokens) {
  const TokenCase cases[] = {
      {"  a = 1", "<a>=<1>"},
      {"a=b", "<a>=<b>"},
      {"1,2;;3", "<1><2><><3>"},
      {"1 2\n3", "<1><2>|<3>"},
      {"3\n,4", "<3>|<><4>"},  // a separator belongs to the item on its own line only
      {"name{x=1}", "<name>{<x>=<1>}"},
      {"\"a b\" \"\"", "<a b><>"},
      {"\"q{/c/}\"", "<q>"},    // comments vanish inside strings too
      {"ab{/x/}cd", "<abcd>"},  // and inside bare words
      {"{/c1/}{/c2/} x {/tail/}\n", "<x>|"},
      {"{\\41}{\\\"}{\\{}{\\}}{\\ }{\\a}", "<A\"{} a>"},
      {"a{\\7b}b", "<a{b>"},
      {"\"x=y, {z}\"", "<x=y, {z}>"},
      {"\"s\"=1", "<s>=<1>"},
      {"\"s\"{", "<s>{"},
      {"\"s\"}", "<s>}"},
      {"a\r\nb\rc", "<a>|<b>|<c>"},
      {"=", "="},
      {"x ; \n y", "<x>|<y>"},
  };
  for (const TokenCase& c : cases) {
    EXPECT_EQ(Tokens(c.text), c.tokens) << c.text;
  }
}

TEST(TvlReader, ConstructionSkipsLeadingSpaceAndComments) {
  EXPECT_EQ(tvl::Reader("  a = 1").Current(), 2u);
  EXPECT_TRUE(tvl::Reader(" \t{/c/}\r\n").AtEnd());
  EXPECT_TRUE(tvl::Reader(" \n").LineBreakAfter());
  EXPECT_FALSE(tvl::Reader(" {/c/}").AtEnd());  // a trailing comment is not consumed
  EXPECT_TRUE(tvl::Reader("").AtEnd());
  EXPECT_EQ(tvl::Reader("{/c/}x").Current(), 5u);
}

TEST(TvlReader, AtEndAfterTheLastItemUnlessACommentFollows) {
  tvl::Reader plain("a = 1 \n");
  std::string value;
  plain.ReadValue(value);
  plain.ReadEquals();
  plain.ReadValue(value);
  EXPECT_TRUE(plain.AtEnd());

  tvl::Reader commented("a {/tail/}");
  ASSERT_TRUE(commented.ReadValue(value));
  EXPECT_FALSE(commented.AtEnd());
  EXPECT_FALSE(commented.ReadValue(value));
}

TEST(TvlReader, FailedReadsMoveNothing) {
  tvl::Reader reader("= {");
  std::string value = "kept";
  EXPECT_FALSE(reader.ReadValue(value));
  EXPECT_EQ(value, "kept");
  EXPECT_FALSE(reader.OpenSection());
  EXPECT_FALSE(reader.CloseSection());
  EXPECT_EQ(reader.Current(), 0u);
  EXPECT_TRUE(reader.ReadEquals());
  EXPECT_TRUE(reader.OpenSection());
  EXPECT_TRUE(reader.AtEnd());

  tvl::Reader escaped("{\\7b}");
  EXPECT_FALSE(escaped.OpenSection());  // "{" followed by "\" never opens a section
}

struct ErrorCase {
  const char* text;
  std::int32_t code;
  std::uint32_t offset;
};

TEST(TvlReader, Errors) {
  const ErrorCase cases[] = {
      {"\"a b\"x", 2, 5},
      {"ab\"c", 2, 2},
      {"\"abc", 0, 4},
      {"{/ open comment", 0, 15},
      {"x {/ open", 0, 9},
      {"{\\4", 1, 3},
      {"{\\41", 1, 4},
      {"{\\zz}", 1, 3},
      {"{\\", 1, 2},
      {"\"{\\4x}\"", 1, 4},
      {"a{/c/}\"", 2, 6},
      // After a closing quote an escape is joined to the string like any other character;
      // a comment in between changes nothing, a section brace is a delimiter.
      {"\"a\"{\\41}", 2, 3},
      {"\"a\"{/c/}{\\41}", 2, 3},
      {"x \"a\"{\\\"}", 2, 5},
  };
  for (const ErrorCase& c : cases) {
    try {
      Tokens(c.text);
      ADD_FAILURE() << "no error for " << c.text;
    } catch (const tvl::Error& error) {
      EXPECT_EQ(error.code, c.code) << c.text;
      EXPECT_EQ(error.offset, c.offset) << c.text;
    }
  }
}

TEST(TvlReader, ErrorLineAndColumn) {
  struct Case {
    const char* text;
    std::uint32_t offset, line, column;
  };
  const Case cases[] = {
      {"abc", 0, 1, 1},    {"ab\r\ncd", 5, 2, 2}, {"a\n\nb", 3, 3, 1},
      {"a\r\rb", 3, 3, 1}, {"a\n\r\nb", 4, 3, 1}, {"\n\r", 2, 3, 1},
  };
  for (const Case& c : cases) {
    const tvl::Error error(0, c.text, c.offset);
    EXPECT_EQ(error.line, c.line) << c.text;
    EXPECT_EQ(error.column, c.column) << c.text;
  }
  EXPECT_EQ(tvl::Error(1, "", 0).Message(), "Blad skladni znaku specjalnego");
  EXPECT_EQ(tvl::Error(2, "", 0).Message(), "Polaczone elementy");
  EXPECT_EQ(tvl::Error(3, "", 0, "mine").Message(), "mine");
  EXPECT_EQ(tvl::Error(9, "", 0).Message(), "Nieznany blad");
}

// The error a call throws; none when it returns.
template <typename Call>
std::optional<tvl::Error> Thrown(Call call) {
  try {
    call();
  } catch (const tvl::Error& error) {
    return error;
  }
  return std::nullopt;
}

TEST(TvlReader, FailAtCurrentOrAtAKeptPosition) {
  tvl::Reader reader("mode 640 abc");
  std::string value;
  reader.ReadValue(value);
  const auto mark = reader.Position();
  reader.ReadValue(value);
  const auto atMark = Thrown([&] { reader.Fail("bad", mark); });
  ASSERT_TRUE(atMark.has_value());
  EXPECT_EQ(atMark->code, 3);
  EXPECT_EQ(atMark->offset, 5u);
  EXPECT_EQ(atMark->column, 6u);
  EXPECT_EQ(atMark->Message(), "bad");
  const auto here = Thrown([&] { reader.Fail("here"); });
  ASSERT_TRUE(here.has_value());
  EXPECT_EQ(here->code, 3);
  EXPECT_EQ(here->offset, 9u);
  EXPECT_EQ(here->Message(), "here");
}

TEST(TvlReader, RawTextKeepsEverythingButCommentsAndEscapes) {
  tvl::Reader reader("echo  a, \"b\" = c{/x/};{\\7d} d");
  std::string word, raw;
  ASSERT_TRUE(reader.ReadValue(word));
  reader.ReadRaw(raw, true);
  EXPECT_EQ(raw, "  a, \"b\" = c;} d");
  EXPECT_TRUE(reader.AtEnd());

  tvl::Reader separated("echo, rest { more");
  separated.ReadValue(word);
  separated.ReadRaw(raw, false);
  EXPECT_EQ(raw, " rest ");
  EXPECT_TRUE(separated.OpenSection());

  tvl::Reader fromEnd("echo, rest");
  fromEnd.ReadValue(word);
  fromEnd.ReadRaw(raw, true);
  EXPECT_EQ(raw, ", rest");
}

}  // namespace
