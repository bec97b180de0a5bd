#pragma once
// Config: the program's settings, read once at start-up from "Config.tvl" in the current
// directory (or, when there is none, from the default one installed beside the program;
// the build puts the repository's there) and looked up by slash paths ("Gfx/Width"), case-insensitively through a
// 32-bit hash of the lower-cased path (keys are not stored: two paths with one hash are
// one key). Main thread only. Failures go to the global error trace: construction leaves
// it pending when the file is missing or malformed; a lookup records one line when the key
// is missing or does not convert, and does nothing at all while the trace is pending.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

class Config {
 public:
  static constexpr const char* kFileName = "Config.tvl";
  static constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

  // Loads the file FileToRead names for this program's directory. One UTF-8 byte-order
  // mark at the start of the text is skipped.
  Config();
  // Loads the given text as if it were the file's (for tests and tools); the same
  // failures, without the file's own lines.
  explicit Config(std::string_view text);

  // The configuration file to read: "Config.tvl" in the current directory when it exists
  // there, else the one in programDirectory when that exists, else "Config.tvl" again
  // (whose absence is then the failure reported).
  static std::string FileToRead(const std::string& programDirectory);

  void GetString(std::string_view key, std::string& out);
  void GetInt(std::string_view key, std::int32_t& out);
  void GetDword(std::string_view key, std::uint32_t& out);
  void GetBool(std::string_view key, bool& out);
  // Like GetDword, but a missing key or bad text records nothing and out keeps its value.
  void TryGetDword(std::string_view key, std::uint32_t& out);
  // Like GetBool, for optional switches: a missing key or bad text records nothing and out
  // keeps its value.
  void TryGetBool(std::string_view key, bool& out);

  // The key hash over bytes as given (callers lower-case first where they must).
  static std::uint32_t Hash(std::string_view bytes);

  struct Entry {
    std::string text;
    bool intCached = false;
    bool dwordCached = false;
    bool boolCached = false;
    std::int32_t intValue = 0;
    std::uint32_t dwordValue = 0;
    bool boolValue = false;
  };

 private:
  void Parse(std::string_view text);
  Entry* Find(std::string_view key, const char* type, bool report);
  template <typename T>
  void Lookup(std::string_view key, const char* type, bool report, bool Entry::*cached, T Entry::*value,
              bool (*convert)(const std::string&, T&), T& out);

  std::unordered_map<std::uint32_t, Entry> entries;
};

// The one configuration of the program, created by the entry before anything reads it.
extern Config* g_config;
