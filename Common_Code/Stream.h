#pragma once
// Byte streams over the C library's buffered files, with failures recorded in the global
// error trace. The program uses them for one thing: ReadWholeFile, which the
// configuration store and the mesh reader call before tokenising a text. Every operation
// but GetSize and IsEof does nothing while the global trace is pending (Read then reports
// 0 bytes). Bytes are taken raw: no text-mode translation, no character-set conversion.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace stream {

// Seek origins.
inline constexpr int kFromStart = 0;
inline constexpr int kFromEnd = 1;
inline constexpr int kFromCurrent = 2;

class Base {
 public:
  virtual ~Base() = default;
  // Refuses: "Ta klasa nie obsługuje zapisywania".
  virtual bool Write(const void* data, std::size_t size);
  // size: the buffer's capacity in, the count read out. Refuses here with
  // "Ta klasa nie obsługuje odczytywania".
  virtual void Read(void* buffer, std::size_t& size);
  // Replaces out with everything Read delivers, in blocks of 65535 bytes; the first short
  // block ends it.
  void ReadAll(std::string& out);
};

class Seekable : public Base {
 public:
  virtual std::int32_t GetSize() = 0;
  virtual void Seek(std::int32_t offset, int origin) = 0;
  virtual void Tell(std::int32_t& out) = 0;
  virtual bool IsEof() = 0;
};

class File : public Seekable {
 public:
  // Takes ownership of an open file (or null).
  explicit File(std::FILE* handle = nullptr) : file(handle) {}
  ~File() override;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool Write(const void* data, std::size_t size) override;
  void Read(void* buffer, std::size_t& size) override;
  std::int32_t GetSize() override;  // 0 when it cannot be found; records nothing
  void Seek(std::int32_t offset, int origin) override;
  void Tell(std::int32_t& out) override;
  bool IsEof() override;

  std::FILE* file = nullptr;
};

// Reads the file at path whole into out. A file that cannot be opened leaves the open
// failure and then "Nie mozna wczytac lancucha z pliku "<path>"" in the global trace.
void ReadWholeFile(std::string_view path, std::string& out);

}  // namespace stream

using stream::ReadWholeFile;
