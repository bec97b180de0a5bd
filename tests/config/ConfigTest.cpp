#include "config/Config.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "Common_Code/Cp1250.h"
#include "Common_Code/ErrorTrace.h"
#include "tests/TraceLines.h"

namespace {

std::vector<std::string> TakeLines() { return PopAllLines(); }

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { GlobalErrorTrace().Clear(); }
  void TearDown() override { GlobalErrorTrace().Clear(); }
};

TEST_F(ConfigTest, KeyHashWorkedValues) {
  EXPECT_EQ(Config::Hash(""), 0u);
  EXPECT_EQ(Config::Hash("a"), 17138u);
  EXPECT_EQ(Config::Hash("gfx/width"), 4010336661u);
  // Bytes above 0x7F are sign-extended: the hash of one such byte follows the formula.
  const std::uint32_t c = 0xFFFFFFB3u;  // "ł"
  EXPECT_EQ(Config::Hash("\xB3"), ((c << 4) + (c >> 4)) * 11u);
}

TEST_F(ConfigTest, SectionsAndCaseInsensitiveLookups) {
  Config config(
      "{/ display /}\n"
      "Gfx { Width = 800, Height = 600\n"
      "  Font { Name = \"DejaVu Sans Mono\"; Height = -16; Bold = TRUE } }\n"
      "\"Engine/BkgColor\" = 0xFF102030\n"
      "Łódź = Tak\n"_cp);
  ASSERT_FALSE(ErrorPending());
  std::uint32_t width = 0, colour = 0, height = 0;
  std::int32_t fontHeight = 0;
  std::string name, city;
  bool bold = false;
  config.GetDword("GFX/WIDTH", width);
  config.GetDword("gfx/height", height);
  config.GetInt("Gfx/Font/Height", fontHeight);
  config.GetString("Gfx/Font/Name", name);
  config.GetBool("Gfx/Font/Bold", bold);
  config.GetDword("engine/bkgcolor", colour);
  config.GetString("ŁÓDŹ"_cp, city);
  ASSERT_FALSE(ErrorPending()) << TakeLines()[0];
  EXPECT_EQ(width, 800u);
  EXPECT_EQ(height, 600u);
  EXPECT_EQ(fontHeight, -16);
  EXPECT_EQ(name, "DejaVu Sans Mono");
  EXPECT_TRUE(bold);
  EXPECT_EQ(colour, 0xFF102030u);
  EXPECT_EQ(city, "Tak");
}

TEST_F(ConfigTest, TypedConversions) {
  Config config(
      "i1 = -2147483648; i2 = 2147483648; i3 = +; i4 = 12a; i5 = \"\"\n"
      "d1 = 0xFFFFFFFF; d2 = 4294967296; d3 = -1; d4 = 0x; d5 = 0X10; d6 = 0xfe; d7 = 17\n"
      "b1 = TRUE; b2 = T; b3 = 1; b4 = False; b5 = F; b6 = 0; b7 = yes; b8 = \" true\"; b9 = \"\"\n");
  ASSERT_FALSE(ErrorPending());
  struct IntCase {
    const char* key;
    bool ok;
    std::int32_t value;
  };
  for (const IntCase& c : {IntCase{"i1", true, INT32_MIN}, IntCase{"i2", false, 0}, IntCase{"i3", true, 0},
                           IntCase{"i4", false, 0}, IntCase{"i5", false, 0}}) {
    std::int32_t out = 77;
    config.GetInt(c.key, out);
    EXPECT_EQ(!ErrorPending(), c.ok) << c.key;
    EXPECT_EQ(out, c.ok ? c.value : 77) << c.key;
    if (!c.ok) {
      EXPECT_EQ(TakeLines(), std::vector<std::string>{"Nie można wczytać z konfiguracji klucza \""_cp +
                                                      std::string(c.key) + "\" typu int: Błąd konwersji"_cp});
    }
  }
  struct DwordCase {
    const char* key;
    bool ok;
    std::uint32_t value;
  };
  for (const DwordCase& c :
       {DwordCase{"d1", true, 0xFFFFFFFFu}, DwordCase{"d2", false, 0}, DwordCase{"d3", false, 0},
        DwordCase{"d4", false, 0}, DwordCase{"d5", false, 0}, DwordCase{"d6", true, 0xFE}, DwordCase{"d7", true, 17}}) {
    std::uint32_t out = 77;
    config.GetDword(c.key, out);
    EXPECT_EQ(!ErrorPending(), c.ok) << c.key;
    EXPECT_EQ(out, c.ok ? c.value : 77u) << c.key;
    GlobalErrorTrace().Clear();
  }
  struct BoolCase {
    const char* key;
    bool ok;
    bool value;
  };
  for (const BoolCase& c : {BoolCase{"b1", true, true}, BoolCase{"b2", true, true}, BoolCase{"b3", true, true},
                            BoolCase{"b4", true, false}, BoolCase{"b5", true, false}, BoolCase{"b6", true, false},
                            BoolCase{"b7", false, false}, BoolCase{"b8", false, false}, BoolCase{"b9", false, false}}) {
    bool out = !c.value;
    config.GetBool(c.key, out);
    EXPECT_EQ(!ErrorPending(), c.ok) << c.key;
    if (c.ok) {
      EXPECT_EQ(out, c.value) << c.key;
    }
    GlobalErrorTrace().Clear();
  }
}

TEST_F(ConfigTest, MissingKeysAndThePendingTrace) {
  Config config("Gfx { Width = 800 }");
  std::uint32_t width = 5;
  config.GetDword("Gfx/Missing", width);
  EXPECT_EQ(width, 5u);
  // Further lookups do nothing while the trace is pending, even for keys that exist.
  config.GetDword("Gfx/Width", width);
  EXPECT_EQ(width, 5u);
  EXPECT_EQ(TakeLines(),
            std::vector<std::string>{
                "Nie można wczytać z konfiguracji klucza \"Gfx/Missing\" typu DWORD: Nie znaleziono klucza"_cp});

  for (const auto& [type, lookup] :
       std::vector<std::pair<std::string, std::function<void()>>>{{"string",
                                                                   [&] {
                                                                     std::string s;
                                                                     config.GetString("X", s);
                                                                   }},
                                                                  {"int",
                                                                   [&] {
                                                                     std::int32_t i;
                                                                     config.GetInt("X", i);
                                                                   }},
                                                                  {"bool", [&] {
                                                                     bool b;
                                                                     config.GetBool("X", b);
                                                                   }}}) {
    lookup();
    EXPECT_EQ(TakeLines(), std::vector<std::string>{"Nie można wczytać z konfiguracji klucza \"X\" typu "_cp + type +
                                                    ": Nie znaleziono klucza"});
  }

  std::uint32_t colour = 0xFF000000u;
  config.TryGetDword("Engine/BkgColor", colour);
  EXPECT_FALSE(ErrorPending());
  EXPECT_EQ(colour, 0xFF000000u);
  Config red("Engine { BkgColor = red }");
  red.TryGetDword("Engine/BkgColor", colour);
  EXPECT_FALSE(ErrorPending());
  EXPECT_EQ(colour, 0xFF000000u);
}

TEST_F(ConfigTest, EmptyConfigurationLoads) {
  for (const char* text : {"", " \r\n\t ", "{/ only a comment /}\n"}) {
    Config config(text);
    EXPECT_FALSE(ErrorPending()) << text;
    std::string out;
    config.GetString("a", out);
    EXPECT_TRUE(ErrorPending());
    GlobalErrorTrace().Clear();
  }
}

TEST_F(ConfigTest, StructuralErrors) {
  struct Case {
    const char* text;
    const char* root;
  };
  const std::string syntax = "Ogólny błąd składni"_cp;
  const Case cases[] = {
      {"}", "(tvl2,3) znak 1 wiersz 1 kolumna 2: "},
      {"a { }\n}", "(tvl2,3) znak 7 wiersz 2 kolumna 2: "},
      {"name value", "(tvl2,3) znak 5 wiersz 1 kolumna 6: "},
      {"a =", "(tvl2,3) znak 3 wiersz 1 kolumna 4: "},
      {"a = \"x\"y", "(tvl2,2) znak 7 wiersz 1 kolumna 8: Polaczone elementy"},
  };
  for (const Case& c : cases) {
    Config config(c.text);
    const auto lines = TakeLines();
    ASSERT_EQ(lines.size(), 3u) << c.text;
    EXPECT_EQ(lines[2], std::string(c.root) + (std::string(c.root).find("tvl2,3") != std::string::npos ? syntax : ""))
        << c.text;
    EXPECT_EQ(lines[1], std::string("Błąd podczas parsowania pliku konfiguracyjnego"_cp));
    EXPECT_EQ(lines[0].rfind("[Config,", 0), 0u) << lines[0];
  }
  Config open("a { b = 1");
  auto lines = TakeLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2], "(tvl2,3) znak 9 wiersz 1 kolumna 10: Nie wszystkie sekcje są zamknięte"_cp);
}

TEST_F(ConfigTest, DuplicateKeysStopTheLoadButEarlierEntriesStay) {
  Config config("Gfx {\n  Width = 1\n  WIDTH = 2\n}\nafter = 3");
  auto lines = TakeLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2],
            "(tvl2,3) znak 30 wiersz 4 kolumna 1: Klucz \"gfx/width\" już istnieje (lub ma taki sam hash)"_cp);
  std::uint32_t width = 0;
  config.GetDword("gfx/width", width);
  EXPECT_EQ(width, 1u);
  std::string after;
  config.GetString("after", after);
  EXPECT_TRUE(ErrorPending());  // the load stopped before it

  // A top-level slash path is the same key as the nested one.
  Config same("Gfx { Width = 1 } Gfx/Width = 2");
  lines = TakeLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("Klucz \"gfx/width\""), std::string::npos);
}

TEST_F(ConfigTest, FileIsReadFromTheCurrentDirectory) {
  const auto dir = std::filesystem::temp_directory_path() / ("qem-config-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir);

  Config missing;
  auto lines = TakeLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].rfind("[Config,", 0), 0u);
  EXPECT_EQ(lines[1], std::string("Nie można wczytać pliku konfiguracyjnego"_cp));
  EXPECT_NE(lines[2].find("Nie mozna wczytac lancucha z pliku \"Config.tvl\""), std::string::npos);
  EXPECT_NE(lines[3].find("Nie mozna otworzyc pliku \"Config.tvl\""), std::string::npos);

  std::ofstream("Config.tvl") << "Gfx { Width = 1024 }\n";
  Config present;
  std::uint32_t width = 0;
  present.GetDword("Gfx/Width", width);
  EXPECT_FALSE(ErrorPending());
  EXPECT_EQ(width, 1024u);

  std::filesystem::current_path(previous);
  std::filesystem::remove_all(dir);
}

// Without a Config.tvl in the current directory the one beside the program is read; one
// in the current directory still wins.
TEST_F(ConfigTest, TheDefaultFileBesideTheProgramStandsInForAMissingOne) {
  const auto root = std::filesystem::temp_directory_path() / ("qem-config-default-" + std::to_string(getpid()));
  const auto work = root / "work", program = root / "bin";
  std::filesystem::create_directories(work);
  std::filesystem::create_directories(program);
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(work);
  const std::string beside = (program / "Config.tvl").string();

  EXPECT_EQ(Config::FileToRead(program.string()), "Config.tvl");  // neither: the usual failure
  std::ofstream(beside) << "Gfx { Width = 800 }\n";
  EXPECT_EQ(Config::FileToRead(program.string()), beside);
  EXPECT_EQ(Config::FileToRead(""), "Config.tvl");  // the program's place unknown
  std::ofstream("Config.tvl") << "Gfx { Width = 1024 }\n";
  EXPECT_EQ(Config::FileToRead(program.string()), "Config.tvl");

  std::filesystem::current_path(previous);
  std::filesystem::remove_all(root);
}

// A byte-order mark before the text is skipped once; error positions count after it.
TEST_F(ConfigTest, AByteOrderMarkAtTheStartIsSkipped) {
  const std::string bom = "\xEF\xBB\xBF";
  Config config(bom + "Gfx { Width = 800 }\n");
  std::uint32_t width = 0;
  config.GetDword("Gfx/Width", width);
  EXPECT_FALSE(ErrorPending());
  EXPECT_EQ(width, 800u);

  Config broken(bom + "a = \"x\"y");
  auto lines = TakeLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2], "(tvl2,2) znak 7 wiersz 1 kolumna 8: Polaczone elementy");

  Config twice(bom + bom + "a = 1");  // only one is a mark; the second is part of the key
  std::uint32_t a = 0;
  twice.GetDword(bom + "a", a);
  EXPECT_FALSE(ErrorPending());
  EXPECT_EQ(a, 1u);
}

}  // namespace
