#include "qem/QEM.h"

#include <sys/stat.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "Common_Code/Cp1250.h"
#include "Common_Code/Stream.h"
#include "config/Tvl.h"
#include "config/TvlError.h"
#include "qem/BigAlloc.h"
#include "qem/NumberText.h"

namespace qem {

namespace {

constexpr bool IsBlank(char c) { return c == ' ' || c == '\t'; }
constexpr bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }
constexpr bool IsWhite(char c) { return IsBlank(c) || IsLineBreak(c); }
constexpr bool IsSeparator(char c) { return c == ',' || c == ';'; }

// True when the text holds none of the bytes that start TVL's comments, escapes, quoted
// strings, "=" and braces. Such a text (every file the program and its tools write)
// tokenises by the simple rules of PlainTokens; anything else goes through tvl::Reader.
bool IsPlainText(std::string_view text) {
  const char* p = text.data();
  const char* end = p + text.size();
#if defined(__SSE2__)
  const __m128i brace = _mm_set1_epi8('{'), close = _mm_set1_epi8('}'), quote = _mm_set1_epi8('"'),
                equals = _mm_set1_epi8('=');
  for (; end - p >= 64; p += 64) {
    __m128i any = _mm_setzero_si128();
    for (int i = 0; i < 4; ++i) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
      any = _mm_or_si128(any, _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, brace), _mm_cmpeq_epi8(v, close)),
                                           _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, equals))));
    }
    if (_mm_movemask_epi8(any) != 0) return false;
  }
#endif
  for (; p != end; ++p) {
    const char c = *p;
    if (c == '{' || c == '}' || c == '"' || c == '=') return false;
  }
  return true;
}

// The TVL reader's tokens for a plain text: bare words separated by white space and at
// most one "," or ";" each; two separators in a row give an empty value. The positions
// and LineBreakAfter are exactly tvl::Reader's.
class PlainTokens {
 public:
  explicit PlainTokens(std::string_view source)
      : text(source.data()), size(static_cast<std::uint32_t>(source.size())) {
    bool sawBreak = false;
    current = SkipWhite(0, &sawBreak);
    lineBreakAfter = sawBreak;
  }

  bool Read(std::string_view& out) {
    std::uint32_t p = current;
    if (p < size && IsTokenByte(text[p])) {
      const std::uint32_t start = p;
      while (p < size && IsTokenByte(text[p])) ++p;
      out = std::string_view(text + start, p - start);
      AfterItem(p);
      return true;
    }
    if (p < size && IsSeparator(text[p])) {
      out = {};
      AfterItem(p);
      return true;
    }
    return false;
  }

  // A decimal vertex number or count, parsed while it is scanned. False for a missing
  // token as for one that does not convert (the caller reports both alike).
  bool ReadIndex(std::uint32_t& out) {
    std::uint32_t p = current;
    std::uint64_t value = 0;
    // Up to 7 digits (nearly every vertex number) at once, eight bytes at a time.
    if (std::endian::native == std::endian::little && std::size_t{p} + 8 <= size) {
      std::uint64_t chunk;
      std::memcpy(&chunk, text + p, 8);
      const std::uint64_t digits = chunk ^ 0x3030303030303030u;
      // A non-zero byte here marks a byte that is no digit; a carry can spoil only the
      // bytes after the first such byte, which are not looked at.
      const std::uint64_t other =
          (digits & 0xF0F0F0F0F0F0F0F0u) | ((digits + 0x0606060606060606u) & 0xF0F0F0F0F0F0F0F0u);
      const int count = other == 0 ? 8 : __builtin_ctzll(other) / 8;
      if (count > 0 && count < 8) {
        std::uint64_t v = digits << (8 * (8 - count));  // the digits at the top, zeros before
        v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FFu;
        v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFFu;
        v = (v * 10000 + (v >> 32)) & 0xFFFFFFFFu;
        const std::uint32_t stop = p + static_cast<std::uint32_t>(count);
        if (!IsTokenByte(text[stop])) {
          out = static_cast<std::uint32_t>(v);
          AfterItem(stop);
          return true;
        }
      }
    }
    while (p < size && static_cast<unsigned>(text[p] - '0') <= 9) {
      value = value * 10 + static_cast<unsigned>(text[p] - '0');
      if (value > 0xFFFFFFFFu) return false;
      ++p;
    }
    if (p == current || (p < size && IsTokenByte(text[p]))) {
      std::string_view token;
      return Read(token) && ParseIndexToken(token, out);
    }
    out = static_cast<std::uint32_t>(value);
    AfterItem(p);
    return true;
  }

  // A coordinate, time or value: atof's float of the token; false when none stands here.
  bool ReadFloat(float& out) {
    const std::uint32_t p = current;
    if (p < size) {
      const char c = text[p];
      const bool numberStart = (c >= '0' && c <= '9') || c == '.' ||
                               (c == '-' && p + 1 < size && ((text[p + 1] >= '0' && text[p + 1] <= '9') || text[p + 1] == '.'));
      if (numberStart) {
        double value = 0;
        const auto result = fast_float::from_chars(text + p, text + size, value);
        const auto stop = static_cast<std::uint32_t>(result.ptr - text);
        if (result.ec == std::errc() && (stop == size || !IsTokenByte(text[stop]))) {
          out = static_cast<float>(value);
          AfterItem(stop);
          return true;
        }
      }
    }
    std::string_view token;
    if (!Read(token)) return false;
    out = ParseFloatToken(token);
    return true;
  }

  bool LineBreakAfter() const { return lineBreakAfter; }
  bool AtEnd() const { return current == size; }
  std::uint32_t Current() const { return current; }

 private:
  static bool IsTokenByte(char c) { return kTokenByte[static_cast<unsigned char>(c)]; }

  static constexpr auto kTokenByte = [] {
    std::array<bool, 256> table{};
    for (int c = 0; c < 256; ++c) table[c] = !IsWhite(static_cast<char>(c)) && !IsSeparator(static_cast<char>(c));
    return table;
  }();

  std::uint32_t SkipWhite(std::uint32_t p, bool* sawBreak) const {
    while (p < size && IsWhite(text[p])) {
      if (IsLineBreak(text[p])) *sawBreak = true;
      ++p;
    }
    return p;
  }

  void AfterItem(std::uint32_t p) {
    // The usual cases first: one space or one line feed, then the next token.
    if (std::size_t{p} + 1 < size && IsTokenByte(text[p + 1]) && (text[p] == ' ' || text[p] == '\n')) {
      lineBreakAfter = text[p] == '\n';
      current = p + 1;
      return;
    }
    std::uint32_t q = p;
    while (q < size && IsBlank(text[q])) ++q;
    std::uint32_t afterSeparator = p;
    bool sawBreak = false;
    if (q < size && IsSeparator(text[q])) {
      afterSeparator = q + 1;
    } else if (q < size && !IsLineBreak(text[q])) {
      // The usual case: blanks, then the next token on the same line.
      current = q;
      lineBreakAfter = false;
      return;
    }
    current = SkipWhite(afterSeparator, &sawBreak);
    lineBreakAfter = sawBreak;
  }

  const char* text;
  std::uint32_t size;
  std::uint32_t current = 0;
  bool lineBreakAfter = false;
};

// The same interface over tvl::Reader, for texts with comments, escapes or quotes.
class TvlTokens {
 public:
  explicit TvlTokens(std::string_view source) : reader(source) {}

  bool Read(std::string_view& out) {
    if (!reader.ReadValue(buffer)) return false;
    out = buffer;
    return true;
  }
  bool ReadIndex(std::uint32_t& out) {
    std::string_view token;
    return Read(token) && ParseIndexToken(token, out);
  }
  bool ReadFloat(float& out) {
    std::string_view token;
    if (!Read(token)) return false;
    out = ParseFloatToken(token);
    return true;
  }
  bool LineBreakAfter() const { return reader.LineBreakAfter(); }
  bool AtEnd() const { return reader.AtEnd(); }
  std::uint32_t Current() const { return reader.Current(); }

 private:
  tvl::Reader reader;
  std::string buffer;
};

template <class Tokens>
class Parser {
 public:
  Parser(std::string_view source, Document& document, LoadControl& loadControl)
      : text(source), tokens(source), doc(document), control(loadControl) {}

  void Run() {
    ExpectKeyword("QEM");
    if (control.Cancelled()) return;
    ReadVertices();
    if (control.Cancelled()) return;
    ReadElements();
    if (control.Cancelled()) return;
    ReadFrames();
    if (control.Cancelled()) return;
    if (!tokens.AtEnd()) Fail("Oczekiwany koniec"_cp, tokens.Current());
  }

 private:
  [[noreturn]] void Fail(std::string_view message, std::uint32_t at) const {
    throw tvl::Error(tvl::Error::kUser, text, at, std::string(message));
  }

  void ExpectKeyword(std::string_view keyword) {
    const std::uint32_t at = tokens.Current();
    std::string_view token;
    if (!tokens.Read(token) || token != keyword) Fail("Błędny nagłówek pliku"_cp, at);
  }

  std::uint32_t ReadCount(std::string_view message) {
    const std::uint32_t at = tokens.Current();
    std::uint32_t value = 0;
    if (!tokens.ReadIndex(value)) Fail(message, at);
    return value;
  }

  std::uint32_t ReadIndex() {
    const std::uint32_t at = tokens.Current();
    std::uint32_t value = 0;
    if (!tokens.ReadIndex(value)) Fail("Oczekiwana liczba"_cp, at);
    return value;
  }

  float ReadNumber() {
    float value = 0;
    if (!tokens.ReadFloat(value)) Fail("Oczekiwana liczba"_cp, tokens.Current());
    return value;
  }

  // An upper bound on how many more items of at least minBytes each the text can hold:
  // the file's counts are never trusted with memory.
  std::size_t Room(std::uint32_t count, std::size_t minBytes) const {
    const std::size_t left = (text.size() - tokens.Current()) / minBytes + 1;
    return std::min<std::size_t>(count, left);
  }

  void ReadVertices() {
    ExpectKeyword("VERTICES");
    const std::uint32_t count = ReadCount("Błędna liczba wierzchołków"_cp);
    doc.vertices.reserve(Room(count, 6));
    for (std::uint32_t i = 0; i < count; ++i) {
      Vertex v;
      v.x = ReadNumber();
      v.y = ReadNumber();
      v.z = ReadNumber();
      doc.vertices.push_back(v);
      control.Advance();
      if (control.Cancelled()) return;
    }
  }

  void ReadElements() {
    ExpectKeyword("ELEMENTS");
    const std::uint32_t count = ReadCount("Błędna liczba elementów"_cp);
    for (std::uint32_t i = 0; i < count; ++i) {
      scratch.clear();
      do {
        Triangle t;
        t.a = ReadIndex();
        t.b = ReadIndex();
        t.c = ReadIndex();
        scratch.push_back(t);
      } while (!tokens.LineBreakAfter());
      Element& element = doc.elements.emplace_back();
      element.triangles.data = doc.triangleStore.Allocate(scratch.size());
      element.triangles.count = static_cast<std::uint32_t>(scratch.size());
      std::memcpy(element.triangles.data, scratch.data(), scratch.size() * sizeof(Triangle));
      control.Advance();
      if (control.Cancelled()) return;
    }
  }

  void ReadFrames() {
    ExpectKeyword("FRAMES");
    const std::uint32_t count = ReadCount("Błędna liczba klatek"_cp);
    const std::uint32_t vertexCount = doc.VertexCount();
    doc.frames.reserve(Room(count, 2));
    for (std::uint32_t i = 0; i < count; ++i) {
      TimeFrame frame;
      frame.time = ReadNumber();
      frame.values.reserve(Room(vertexCount, 2));
      for (std::uint32_t v = 0; v < vertexCount; ++v) frame.values.push_back(ReadNumber());
      doc.frames.push_back(std::move(frame));
      control.Advance();
      if (control.Cancelled()) return;
    }
  }

  std::string_view text;
  Tokens tokens;
  Document& doc;
  LoadControl& control;
  std::vector<Triangle> scratch;
};

}  // namespace

void ParseDocumentText(std::string_view text, std::string_view path, Document& document,
                       LoadControl& control) {
  if (control.Cancelled()) return;
  try {
    // Positions are 32-bit, as in tvl::Reader: a larger text would be read only in part.
    if (text.size() > 0xFFFFFFFFu) throw tvl::Error(tvl::Error::kUser, {}, 0, "Plik jest zbyt duży"_cp);
    if (IsPlainText(text)) {
      Parser<PlainTokens>(text, document, control).Run();
    } else {
      Parser<TvlTokens>(text, document, control).Run();
    }
  } catch (const tvl::Error& error) {
    std::string wrapper = "Nie można wczytać pliku: "_cp;
    wrapper += cp1250::PathText(path);
    control.trace.RaiseParse(error, wrapper, "", 0);
  }
}

void LoadDocument(const std::string& path, Document* document, LoadControl& control) {
  control.ResetProgress();
  {
    std::string text;
    // The whole text is needed at once; reserving its size up front saves the copies of
    // a growing string (ReadWholeFile empties the string but keeps its capacity).
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
      text.reserve(static_cast<std::size_t>(info.st_size));
      AdviseHugePages(text.data(), text.capacity());
    }
    ReadWholeFile(path, text);
    if (!ErrorPending()) ParseDocumentText(text, path, *document, control);
  }
  if (control.trace.IsPending()) control.trace.Add(ERROR_LOCATION);
}

}  // namespace qem
