#include "qem/QEM.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "Common_Code/Cp1250.h"
#include "Common_Code/Stream.h"
#include "config/Tvl.h"
#include "config/TvlError.h"
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
  for (const char c : text) {
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
    if (p < size && !IsWhite(text[p]) && !IsSeparator(text[p])) {
      const std::uint32_t start = p;
      while (p < size && !IsWhite(text[p]) && !IsSeparator(text[p])) ++p;
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

  bool LineBreakAfter() const { return lineBreakAfter; }
  bool AtEnd() const { return current == size; }
  std::uint32_t Current() const { return current; }

 private:
  std::uint32_t SkipWhite(std::uint32_t p, bool* sawBreak) const {
    while (p < size && IsWhite(text[p])) {
      if (IsLineBreak(text[p])) *sawBreak = true;
      ++p;
    }
    return p;
  }

  void AfterItem(std::uint32_t p) {
    std::uint32_t q = p;
    while (q < size && IsBlank(text[q])) ++q;
    const std::uint32_t afterSeparator = q < size && IsSeparator(text[q]) ? q + 1 : p;
    bool sawBreak = false;
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
    std::string_view token;
    std::uint32_t value = 0;
    if (!tokens.Read(token) || !ParseIndexToken(token, value)) Fail(message, at);
    return value;
  }

  std::uint32_t ReadIndex() {
    const std::uint32_t at = tokens.Current();
    std::string_view token;
    std::uint32_t value = 0;
    if (!tokens.Read(token) || !ParseIndexToken(token, value)) Fail("Oczekiwana liczba"_cp, at);
    return value;
  }

  float ReadNumber() {
    std::string_view token;
    if (!tokens.Read(token)) Fail("Oczekiwana liczba"_cp, tokens.Current());
    return ParseFloatToken(token);
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
    if (IsPlainText(text)) {
      Parser<PlainTokens>(text, document, control).Run();
    } else {
      Parser<TvlTokens>(text, document, control).Run();
    }
  } catch (const tvl::Error& error) {
    std::string wrapper = "Nie można wczytać pliku: "_cp;
    wrapper += path;
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
    }
    ReadWholeFile(path, text);
    if (!ErrorPending()) ParseDocumentText(text, path, *document, control);
  }
  if (control.trace.IsPending()) control.trace.Add(ERROR_LOCATION);
}

}  // namespace qem
