#pragma once
// Byte streams over the C library's buffered files, with failures recorded in the global
// error trace. The program uses them for two things: ReadWholeFile, which the
// configuration store and the mesh reader (for texts with comments) call before tokenising
// a text, and InputFile, through which the mesh reader takes a large text in pieces. Every operation
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

// A regular file read with read() in pieces, so that a text larger than memory never has
// to be held whole. Open refuses at once what is not a regular file (a directory, FIFO,
// socket or device) as a file that cannot be opened: the file is opened without waiting
// (a FIFO with no writer would block an ordinary open for ever) and its type checked before
// any read. A file that ends before the size it had when opened (truncated by another
// program while it loads) gives a read failure, never a short text taken for the whole.
// Failures go to the calling thread's current trace; after one, Read delivers nothing.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Records "Nie mozna otworzyc pliku "<path>"" and returns false when the path cannot be
  // opened or is not a regular file.
  bool Open(std::string_view path);
  // The size in bytes when it was opened.
  std::uint64_t Size() const { return size; }
  // Up to capacity bytes from the current position; 0 at the end or after a failure, which
  // records "Nie mozna odczytac z pliku".
  std::size_t Read(void* buffer, std::size_t capacity);
  // The same at a given offset, without moving the position (a second look at the start).
  std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t capacity);

 private:
  int fd = -1;
  std::uint64_t size = 0;
  std::uint64_t delivered = 0;
  bool failed = false;
};

// The line a reader adds under a failed open or read of path:
// "Nie mozna wczytac lancucha z pliku "<path>"".
void AddCannotReadText(std::string_view path);

// Reads the file at path whole into out. A file that cannot be opened leaves the open
// failure and then "Nie mozna wczytac lancucha z pliku "<path>"" in the global trace.
void ReadWholeFile(std::string_view path, std::string& out);

}  // namespace stream

using stream::ReadWholeFile;
