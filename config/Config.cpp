#include "config/Config.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "Common_Code/Conversions.h"
#include "Common_Code/Cp1250.h"
#include "Common_Code/ErrorTrace.h"
#include "Common_Code/Stream.h"
#include "config/Tvl.h"

Config* g_config = nullptr;

namespace {

// The conversions of the typed lookups, stricter than ParseInt: the value must be
// non-empty and made only of an optional sign and decimal digits.
bool ConvertInt(const std::string& text, std::int32_t& out) {
  std::int32_t value = 0;
  if (ParseInt(text, value, 10) != kParseOk) return false;
  out = value;
  return true;
}

bool ConvertBool(const std::string& text, bool& out) { return ParseBool(text, out); }

// "0x" (small x) and hexadecimal digits, or decimal digits; no sign.
bool ConvertDword(const std::string& text, std::uint32_t& out) {
  std::uint32_t value = 0;
  const bool hex = text.size() >= 2 && text[0] == '0' && text[1] == 'x';
  if (ParseUnsigned(std::string_view(text).substr(hex ? 2 : 0), value, hex ? 16 : 10) != kParseOk) return false;
  out = value;
  return true;
}

}  // namespace

std::uint32_t Config::Hash(std::string_view bytes) {
  std::uint32_t h = 0;
  for (char b : bytes) {
    const std::uint32_t c = static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(b)));
    h = (h + (c << 4) + (c >> 4)) * 11;
  }
  return h;
}

namespace {

// The directory of the running program, "" when it cannot be found.
std::string ProgramDirectory() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : program.parent_path().string();
}

}  // namespace

std::string Config::FileToRead(const std::string& programDirectory) {
  std::error_code error;
  if (std::filesystem::exists(kFileName, error) || programDirectory.empty()) return kFileName;
  const std::string beside = (std::filesystem::path(programDirectory) / kFileName).string();
  return std::filesystem::exists(beside, error) ? beside : kFileName;
}

Config::Config() {
  std::string text;
  ReadWholeFile(FileToRead(ProgramDirectory()), text);
  if (ErrorPending()) {
    ErrorAdd("Nie można wczytać pliku konfiguracyjnego"_cp, "", 0);
  } else {
    Parse(text);
  }
  if (ErrorPending()) ERROR_ADD_LOCATION();
}

Config::Config(std::string_view text) {
  Parse(text);
  if (ErrorPending()) ERROR_ADD_LOCATION();
}

void Config::Parse(std::string_view text) {
  // Editors that save UTF-8 may put a byte-order mark first; it is not part of the text,
  // and positions in error lines count from after it.
  if (text.starts_with(kUtf8ByteOrderMark)) text.remove_prefix(kUtf8ByteOrderMark.size());
  try {
    tvl::Reader reader(text);
    if (reader.AtEnd()) return;
    std::vector<std::string> sections;
    for (;;) {
      std::string name;
      if (reader.ReadValue(name)) {
        ToLower(name);
        if (reader.ReadEquals()) {
          std::string value;
          if (!reader.ReadValue(value)) reader.Fail(std::string("Ogólny błąd składni"_cp));
          std::string path;
          for (const std::string& section : sections) path += section + "/";
          path += name;
          const auto [it, inserted] = entries.try_emplace(Hash(path));
          if (!inserted) reader.Fail("Klucz \"" + path + "\" już istnieje (lub ma taki sam hash)"_cp);
          it->second.text = std::move(value);
        } else if (reader.OpenSection()) {
          sections.push_back(std::move(name));
        } else {
          reader.Fail(std::string("Ogólny błąd składni"_cp));
        }
      } else if (reader.CloseSection() && !sections.empty()) {
        sections.pop_back();
      } else {
        reader.Fail(std::string("Ogólny błąd składni"_cp));
      }
      if (reader.AtEnd()) {
        if (!sections.empty()) reader.Fail(std::string("Nie wszystkie sekcje są zamknięte"_cp));
        return;
      }
    }
  } catch (const tvl::Error& error) {
    ErrorRaiseParse(error, "Błąd podczas parsowania pliku konfiguracyjnego"_cp, "", 0);
  }
}

namespace {

void RaiseLookup(std::string_view key, const char* type, std::string_view reason) {
  ErrorRaise("Nie można wczytać z konfiguracji klucza \""_cp + std::string(key) + "\" typu " + type + ": " +
                 std::string(reason),
             "", 0);
}

}  // namespace

Config::Entry* Config::Find(std::string_view key, const char* type, bool report) {
  const auto it = entries.find(Hash(LowerCopy(key)));
  if (it != entries.end()) return &it->second;
  if (report) RaiseLookup(key, type, "Nie znaleziono klucza");
  return nullptr;
}

// The typed lookups: the value is converted on its first successful use and cached; a
// failed conversion caches nothing. report false is TryGetDword's silence.
template <typename T>
void Config::Lookup(std::string_view key, const char* type, bool report, bool Entry::*cached, T Entry::*value,
                    bool (*convert)(const std::string&, T&), T& out) {
  if (ErrorPending()) return;
  Entry* entry = Find(key, type, report);
  if (!entry) return;
  if (!(entry->*cached)) {
    if (!convert(entry->text, entry->*value)) {
      if (report) RaiseLookup(key, type, "Błąd konwersji"_cp);
      return;
    }
    entry->*cached = true;
  }
  out = entry->*value;
}

void Config::GetString(std::string_view key, std::string& out) {
  if (ErrorPending()) return;
  if (Entry* entry = Find(key, "string", true)) out = entry->text;
}

void Config::GetInt(std::string_view key, std::int32_t& out) {
  Lookup(key, "int", true, &Entry::intCached, &Entry::intValue, ConvertInt, out);
}

void Config::GetDword(std::string_view key, std::uint32_t& out) {
  Lookup(key, "DWORD", true, &Entry::dwordCached, &Entry::dwordValue, ConvertDword, out);
}

void Config::TryGetDword(std::string_view key, std::uint32_t& out) {
  Lookup(key, "DWORD", false, &Entry::dwordCached, &Entry::dwordValue, ConvertDword, out);
}

void Config::TryGetBool(std::string_view key, bool& out) {
  Lookup(key, "bool", false, &Entry::boolCached, &Entry::boolValue, ConvertBool, out);
}

void Config::GetBool(std::string_view key, bool& out) {
  Lookup(key, "bool", true, &Entry::boolCached, &Entry::boolValue, ConvertBool, out);
}
