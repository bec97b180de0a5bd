#include "Common_Code/Stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "Common_Code/Cp1250.h"
#include "Common_Code/ErrorTrace.h"

namespace stream {

bool Base::Write(const void*, std::size_t) {
  ErrorRaise("Ta klasa nie obsługuje zapisywania"_cp, ERROR_FILE_LINE);
  return false;
}

void Base::Read(void*, std::size_t& size) {
  size = 0;
  ErrorRaise("Ta klasa nie obsługuje odczytywania"_cp, ERROR_FILE_LINE);
}

void Base::ReadAll(std::string& out) {
  if (ErrorPending()) return;
  out.clear();
  constexpr std::size_t kBlock = 0xFFFF;
  const auto buffer = std::make_unique<char[]>(kBlock);
  std::size_t count;
  do {
    count = kBlock;
    Read(buffer.get(), count);
    if (!ErrorPending()) out.append(buffer.get(), count);
  } while (count == kBlock && !ErrorPending());
}

File::~File() {
  if (file) std::fclose(file);
}

bool File::Write(const void* data, std::size_t size) {
  if (ErrorPending()) return false;
  if (std::fwrite(data, size, 1, file) == 1) return true;
  if (std::ferror(file)) ErrorRaise("Nie mozna zapisac do pliku", ERROR_FILE_LINE);
  return false;
}

void File::Read(void* buffer, std::size_t& size) {
  if (ErrorPending()) {
    size = 0;
    return;
  }
  size = std::fread(buffer, 1, size, file);
  if (std::ferror(file)) ErrorRaise("Nie mozna odczytac z pliku", ERROR_FILE_LINE);
}

std::int32_t File::GetSize() {
  const long position = std::ftell(file);
  std::fseek(file, 0, SEEK_END);
  const long size = std::ftell(file);
  std::fseek(file, position, SEEK_SET);
  return size == -1 ? 0 : static_cast<std::int32_t>(size);
}

void File::Seek(std::int32_t offset, int origin) {
  if (ErrorPending()) return;
  const int whence = origin == kFromEnd ? SEEK_END : origin == kFromCurrent ? SEEK_CUR : SEEK_SET;
  if (std::fseek(file, offset, whence) != 0 || std::ferror(file)) {
    ErrorRaise("Nie mozna przestawic pozycji w pliku", ERROR_FILE_LINE);
  }
}

void File::Tell(std::int32_t& out) {
  if (ErrorPending()) return;
  const long position = std::ftell(file);
  out = static_cast<std::int32_t>(position);
  if (position == -1 || std::ferror(file)) ErrorRaise("Nie mozna odczytac pozycji z pliku", ERROR_FILE_LINE);
}

bool File::IsEof() { return std::feof(file) != 0; }

InputFile::~InputFile() {
  if (fd >= 0) ::close(fd);
}

bool InputFile::Open(std::string_view path) {
  const std::string name(path);
  fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat info {};
  if (fd >= 0 && (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
    ::close(fd);
    fd = -1;
  }
  if (fd < 0) {
    // Opened by its own bytes, named in the message's code page.
    ErrorRaise("Nie mozna otworzyc pliku \"" + cp1250::PathText(name) + "\"", ERROR_FILE_LINE);
    return false;
  }
  // A regular file never makes read wait for a writer; the flag only kept the open from
  // blocking on a FIFO. Clear it so that reads behave as on any file.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  size = static_cast<std::uint64_t>(info.st_size);
  return true;
}

std::size_t InputFile::Read(void* buffer, std::size_t capacity) {
  if (fd < 0 || failed || ErrorPending()) return 0;
  std::size_t done = 0;
  while (done < capacity) {
    const ssize_t n = ::read(fd, static_cast<char*>(buffer) + done, capacity - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || (n == 0 && delivered + done < size)) {
      failed = true;
      ErrorRaise("Nie mozna odczytac z pliku", ERROR_FILE_LINE);
      return 0;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  delivered += done;
  return done;
}

std::size_t InputFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t capacity) {
  if (fd < 0) return 0;
  for (;;) {
    const ssize_t n = ::pread(fd, buffer, capacity, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? 0 : static_cast<std::size_t>(n);
  }
}

void AddCannotReadText(std::string_view path) {
  ErrorAdd("Nie mozna wczytac lancucha z pliku \"" + cp1250::PathText(path) + "\"", ERROR_FILE_LINE);
}

void ReadWholeFile(std::string_view path, std::string& out) {
  const std::string name(path);
  File file(std::fopen(name.c_str(), "rb"));
  // Opened by its own bytes, named in the message's code page.
  if (!file.file) ErrorRaise("Nie mozna otworzyc pliku \"" + cp1250::PathText(name) + "\"", ERROR_FILE_LINE);
  if (!ErrorPending()) file.ReadAll(out);
  if (ErrorPending())
    ErrorAdd("Nie mozna wczytac lancucha z pliku \"" + cp1250::PathText(name) + "\"", ERROR_FILE_LINE);
}

}  // namespace stream
