#include "qem/QEM.h"

#include <sys/resource.h>
#include <sys/sysinfo.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <type_traits>
#include <vector>

#include "Common_Code/Cp1250.h"
#include "Common_Code/Stream.h"
#include "config/Tvl.h"
#include "config/TvlError.h"
#include "qem/BigAlloc.h"
#include "qem/NumberText.h"
#include "qem/PageWarmer.h"

namespace qem {

namespace {

constexpr bool IsBlank(char c) { return c == ' ' || c == '\t'; }
constexpr bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }
constexpr bool IsWhite(char c) { return IsBlank(c) || IsLineBreak(c); }
constexpr bool IsSeparator(char c) { return c == ',' || c == ';'; }

constexpr auto kTokenByte = [] {
  std::array<bool, 256> table{};
  for (int c = 0; c < 256; ++c) table[c] = !IsWhite(static_cast<char>(c)) && !IsSeparator(static_cast<char>(c));
  return table;
}();

inline bool IsTokenByte(char c) { return kTokenByte[static_cast<unsigned char>(c)]; }

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

// Where the plain tokeniser's text comes from: one window of it at a time. A window ends
// at the end of the text or just before a token that follows white space, so no token,
// and no separator or line break after one, is ever split between two windows: the
// tokens, their positions and LineBreakAfter are those of the whole text. The whole text
// in memory is one window; a file is read through a bounded buffer, window by window.
class Window {
 public:
  const char* data = nullptr;
  std::uint32_t size = 0;
  std::uint64_t base = 0;      // position of data[0] in the text
  std::uint64_t textSize = 0;  // the whole text's size, as far as known
  bool last = true;            // nothing follows this window

  // Moves on to the window after this one (only while !last). A text that cannot go on
  // (a read failure, a byte that needs the full TVL reader) ends here: an empty last window.
  virtual void Next() {}

 protected:
  ~Window() = default;
};

class WholeText final : public Window {
 public:
  explicit WholeText(std::string_view text) {
    data = text.data();
    size = static_cast<std::uint32_t>(text.size());
    textSize = text.size();
  }
};

// The TVL reader's tokens for a plain text: bare words separated by white space and at
// most one "," or ";" each; two separators in a row give an empty value. The positions
// and LineBreakAfter are exactly tvl::Reader's.
class PlainTokens {
 public:
  explicit PlainTokens(Window& source) : window(source), text(source.data), size(source.size) {
    bool sawBreak = false;
    current = SkipWhite(0, &sawBreak);
    lineBreakAfter = sawBreak;
    Refill();
  }

  bool Read(std::string_view& out) {
    Refill();
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
    Refill();
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
    Refill();
    const std::uint32_t p = current;
    if (p < size) {
      const char c = text[p];
      const bool numberStart =
          (c >= '0' && c <= '9') || c == '.' ||
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
  bool AtEnd() {
    Refill();
    return current == size;
  }
  std::uint64_t Current() {
    Refill();
    return window.base + current;
  }
  std::uint64_t Remaining() const { return window.textSize - std::min(window.textSize, window.base + current); }

  // The current window, for the parser's second thread: its text, where the tokens stand
  // in it, and whether another follows.
  const char* WindowText() const { return text; }
  std::uint32_t WindowSize() const { return size; }
  std::uint32_t WindowAt() const { return current; }
  std::uint64_t WindowBase() const { return window.base; }
  // Goes on from p in the current window: the start of a token, or the window's end.
  void SkipTo(std::uint32_t p) { current = p; }
  // Called before the window moves on (its text is overwritten then).
  void OnLeavingWindow(void (*call)(void*), void* context) {
    leaving = call;
    leavingContext = context;
  }

 private:
  // At the end of a window that is not the last, the next one; it starts with a token, so
  // LineBreakAfter stays as the white space before the cut gave it.
  void Refill() {
    while (current == size && !window.last) {
      if (leaving) leaving(leavingContext);
      window.Next();
      text = window.data;
      size = window.size;
      current = 0;
    }
  }

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

  Window& window;
  const char* text;
  std::uint32_t size;
  std::uint32_t current = 0;
  bool lineBreakAfter = false;
  void (*leaving)(void*) = nullptr;
  void* leavingContext = nullptr;
};

// The same interface over tvl::Reader, for texts with comments, escapes or quotes.
class TvlTokens {
 public:
  explicit TvlTokens(std::string_view source) : size(source.size()), reader(source) {}

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
  std::uint64_t Current() const { return reader.Current(); }
  std::uint64_t Remaining() const { return size - reader.Current(); }

 private:
  std::uint64_t size = 0;
  tvl::Reader reader;
  std::string buffer;
};

std::atomic<SideFailure> sideFailure{SideFailure::kNone};

// A part of a window, read as a text of its own that nothing follows.
class Slice final : public Window {
 public:
  Slice(const char* text, std::uint32_t bytes, std::uint64_t at) {
    data = text;
    size = bytes;
    base = at;
    textSize = at + bytes;
  }
};

// The second part of a window, read on a second thread while the parser reads the first
// part: elements, or the numbers of the vertices or the frames. The part starts at a line
// break, taken for the start of an element or a number; whether it is one shows only when
// the parser gets there (an element or a triangle may span lines), and only then is what
// was read here used, in file order, as if the parser had read it itself. Reading stops at
// the part's end, before an element the part does not hold whole, or at a token that is
// no vertex number (a coordinate or a frame's number is any token: only the part's end
// stops it).
class SideReader {
 public:
  enum class What { kElements, kNumbers };

  SideReader() = default;
  SideReader(const SideReader&) = delete;
  SideReader& operator=(const SideReader&) = delete;

  // Reads [at, at + bytes) of text on the reader's thread; false when no thread starts.
  // One thread serves every part: a thread started and ended per part costs the parser
  // milliseconds of waiting each time while memory is faulted in beside it.
  bool Start(What what, const char* text, std::uint32_t bytes, std::uint64_t at, const LoadControl& control) {
    Finish(true);
    triangles.clear();
    counts.clear();
    ends.clear();
    numbers.clear();
    stop = 0;
    seconds = 0;
    failed = outOfMemory = false;
    quit.store(false, std::memory_order_relaxed);
    if (sideFailure.load(std::memory_order_relaxed) == SideFailure::kNoThread) return false;
    if (!thread.joinable()) {
      try {
        thread = std::thread([this] { Serve(); });
      } catch (const std::system_error&) {
        return false;
      }
    }
    {
      std::lock_guard<std::mutex> lock(mutex);
      job = {what, text, bytes, at, &control, std::chrono::steady_clock::now()};
      state = State::kReading;
    }
    wake.notify_all();
    return true;
  }

  // Waits for the part to be read; with drop, tells the thread first that it is not wanted.
  void Finish(bool drop) {
    std::unique_lock<std::mutex> lock(mutex);
    if (state == State::kIdle) return;
    if (drop) quit.store(true, std::memory_order_relaxed);
    wake.wait(lock, [this] { return state == State::kRead; });
    state = State::kIdle;
  }

  ~SideReader() {
    Finish(true);
    if (!thread.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mutex);
      state = State::kEnd;
    }
    wake.notify_all();
    thread.join();
  }

  std::vector<Triangle> triangles;    // every element's, one after the other
  std::vector<std::uint32_t> counts;  // triangles per element
  std::vector<float> numbers;         // the vertices' or frames' numbers
  std::vector<std::uint32_t> ends;    // where the token after each element or number starts (part offset)
  std::uint32_t stop = 0;             // where reading stopped: an element's start or the part's end
  double seconds = 0;                 // from the part's handing over to the end of its reading
  bool failed = false;                // a token at stop's element that is no vertex number, at failedAt
  std::uint64_t failedAt = 0;
  bool outOfMemory = false;

 private:
  void ReadElements(const char* text, std::uint32_t bytes, std::uint64_t at, const LoadControl& control) {
    triangles.reserve(bytes / 16);
    counts.reserve(bytes / 64);
    ends.reserve(bytes / 64);
    Slice slice(text, bytes, at);
    PlainTokens tokens(slice);
    for (;;) {
      const std::uint32_t start = tokens.WindowAt();
      stop = start;
      if (start == bytes || quit.load(std::memory_order_relaxed) || control.Cancelled()) return;
      const std::size_t mark = triangles.size();
      do {
        Triangle t;
        std::uint64_t where = tokens.Current();
        bool ok = tokens.ReadIndex(t.a);
        if (ok) {
          where = tokens.Current();
          ok = tokens.ReadIndex(t.b);
        }
        if (ok) {
          where = tokens.Current();
          ok = tokens.ReadIndex(t.c);
        }
        if (!ok) {
          triangles.resize(mark);
          // A number missing at the part's end may follow in the next part: the parser reads
          // this element itself.
          failed = where != at + bytes;
          failedAt = where;
          return;
        }
        triangles.push_back(t);
      } while (!tokens.LineBreakAfter());
      counts.push_back(static_cast<std::uint32_t>(triangles.size() - mark));
      ends.push_back(tokens.WindowAt());
    }
  }

  void ReadNumbers(const char* text, std::uint32_t bytes, std::uint64_t at, const LoadControl& control) {
    numbers.reserve(bytes / 4);
    ends.reserve(bytes / 4);
    Slice slice(text, bytes, at);
    PlainTokens tokens(slice);
    for (std::uint32_t n = 0;; ++n) {
      stop = tokens.WindowAt();
      if (n % 4096 == 0 && (quit.load(std::memory_order_relaxed) || control.Cancelled())) return;
      float value;
      if (!tokens.ReadFloat(value)) return;
      numbers.push_back(value);
      ends.push_back(tokens.WindowAt());
    }
  }

  // The thread: reads each part it is given, until the reader ends.
  void Serve() {
    for (;;) {
      Job part;
      {
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait(lock, [this] { return state == State::kReading || state == State::kEnd; });
        if (state == State::kEnd) return;
        part = job;
      }
      try {
        if (sideFailure.load(std::memory_order_relaxed) == SideFailure::kOutOfMemory) throw std::bad_alloc();
        if (part.what == What::kElements) {
          ReadElements(part.text, part.bytes, part.at, *part.control);
        } else {
          ReadNumbers(part.text, part.bytes, part.at, *part.control);
        }
      } catch (const std::bad_alloc&) {
        outOfMemory = true;
      }
      seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - part.given).count();
      {
        std::lock_guard<std::mutex> lock(mutex);
        state = State::kRead;
      }
      wake.notify_all();
    }
  }

  struct Job {
    What what = What::kElements;
    const char* text = nullptr;
    std::uint32_t bytes = 0;
    std::uint64_t at = 0;
    const LoadControl* control = nullptr;
    std::chrono::steady_clock::time_point given;
  };
  // kIdle: no part given; kReading: a part given and not yet taken back by Finish; kRead:
  // read, waiting for Finish; kEnd: the thread is to end.
  enum class State { kIdle, kReading, kRead, kEnd };

  std::mutex mutex;
  std::condition_variable wake;
  State state = State::kIdle;
  Job job;
  std::atomic<bool> quit{false};
  std::thread thread;
};

// The elements are read on two threads where a window holds at least this much of them
// (kNoSplit: never), in stretches of at most kLargestStretch.
constexpr std::size_t kNoSplit = std::numeric_limits<std::size_t>::max();
constexpr std::uint32_t kLargestStretch = std::uint32_t{8} << 20;

// While the elements are read, a warmer faults in the memory their records and triangles
// are to take, as many as the text's count promises and the text can hold (a valid
// element has at least four triangles, of at least 24 bytes of text together). From
// kWarmFrom elements; at most kWarmLead bytes ahead of the reading.
constexpr std::size_t kWarmFrom = 65536;
std::atomic<std::size_t> warmFrom{kWarmFrom};
constexpr std::size_t kWarmLead = std::size_t{64} << 20;
constexpr std::size_t kLeastElementBytes = 24;

class ElementWarming {
 public:
  ElementWarming(Document& document, std::size_t expected) : doc(document), warmer(kWarmLead) {
    if (expected < warmFrom.load(std::memory_order_relaxed) || !PageWarmer::Supported()) return;
    elementsFrom = doc.elements.size();
    doc.elements.Reserve(expected);
    const std::size_t end = std::min(doc.elements.Capacity(), elementsFrom + expected);
    for (std::size_t i = elementsFrom; i < end;) {
      const std::size_t blockEnd = std::min(end, (i / ElementList::kBlock + 1) * ElementList::kBlock);
      elements.Add(&doc.elements[i], (blockEnd - i) * sizeof(Element));
      i = blockEnd;
    }
    if (Triangle* t = doc.triangleStore.Reserve(expected * 4)) triangles.Add(t, expected * 4 * sizeof(Triangle));
    active = warmer.Start({&elements, &triangles});
  }
  ~ElementWarming() {
    warmer.Stop();
    doc.elements.ReleaseUnused();
  }

  // The reading has `elementCount` elements and `triangleCount` triangles in the document.
  void Filled(std::size_t elementCount, std::uint64_t triangleCount) {
    if (!active) return;
    elements.Filled((elementCount - elementsFrom) * sizeof(Element));
    triangles.Filled(static_cast<std::size_t>(triangleCount - trianglesFrom) * sizeof(Triangle));
  }
  void StartCounting(std::uint64_t triangleCount) { trianglesFrom = triangleCount; }

 private:
  Document& doc;
  PageWarmer::Track elements, triangles;  // before the warmer, which stops before they go
  PageWarmer warmer;
  std::size_t elementsFrom = 0;
  std::uint64_t trianglesFrom = 0;
  bool active = false;
};

// While the frames are read, a warmer faults in the memory of each frame's values and, for
// a mesh of tetrahedra only (four triangles each), of the vertex sets that preparation is
// to store: four numbers an element.
class FrameWarming {
 public:
  FrameWarming(Document& document, std::uint64_t triangleCount) : warmer(kWarmLead) {
    if (!PageWarmer::Supported()) return;
    const std::size_t elements = document.elements.size();
    if (elements >= warmFrom.load(std::memory_order_relaxed) && triangleCount == 4 * std::uint64_t{elements}) {
      if (std::uint32_t* store = document.indexStore.Reserve(4 * elements)) {
        indices.Add(store, 4 * elements * sizeof(std::uint32_t));
        indices.Filled(4 * elements * sizeof(std::uint32_t));
      }
    }
    if (!indices.Empty() || document.VertexCount() * sizeof(float) >= kHugePage) {
      active = warmer.Start({&indices, &values});
    }
  }

  // A frame's values are about to be read into `frame`, reserved for `count`.
  void Frame(std::vector<float>& frame, std::size_t count) {
    done += current;
    current = 0;
    if (frame.capacity() != count) return;  // the text holds fewer: the values may move
    AdviseHugePages(frame.data(), count * sizeof(float));
    if (!active) return;
    current = count * sizeof(float);
    warmer.Add(values, frame.data(), current);
  }
  // Before a frame being read is dropped (a failed read): its memory is warmed no more.
  void Stop() { warmer.Stop(); }
  // The current frame holds `count` values.
  void Filled(std::size_t count) {
    if (current) values.Filled(done + count * sizeof(float));
  }

 private:
  PageWarmer::Track indices, values;  // before the warmer, which stops before they go
  PageWarmer warmer;
  std::size_t done = 0, current = 0;  // bytes of the frames before the current one, of that one
  bool active = false;
};

// Where a parse failed, for the root line: the reader's own error, or the parser's
// message at a position of the text (64 bits: a text may pass 4 GiB).
struct Failure {
  tvl::Error error;
  std::uint64_t at = 0;
  bool atPosition = false;
};

template <class Tokens>
class Parser {
 public:
  template <class Source>
  Parser(Source& source, Document& document, LoadControl& loadControl, Failure& failure, std::size_t split)
      : tokens(source), doc(document), control(loadControl), failed(failure), splitBytes(split) {}

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
  [[noreturn]] void Fail(std::string_view message, std::uint64_t at) const {
    failed.at = at;
    failed.atPosition = true;
    throw tvl::Error(tvl::Error::kUser, {}, 0, std::string(message));
  }

  void ExpectKeyword(std::string_view keyword) {
    const std::uint64_t at = tokens.Current();
    std::string_view token;
    if (!tokens.Read(token) || token != keyword) Fail("Błędny nagłówek pliku"_cp, at);
  }

  std::uint32_t ReadCount(std::string_view message) {
    const std::uint64_t at = tokens.Current();
    std::uint32_t value = 0;
    if (!tokens.ReadIndex(value)) Fail(message, at);
    return value;
  }

  std::uint32_t ReadIndex() {
    const std::uint64_t at = tokens.Current();
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
    const std::uint64_t left = tokens.Remaining() / minBytes + 1;
    return static_cast<std::size_t>(std::min<std::uint64_t>(count, left));
  }

  void ReadVertices() {
    ExpectKeyword("VERTICES");
    const std::uint32_t count = ReadCount("Błędna liczba wierzchołków"_cp);
    doc.vertices.reserve(Room(count, 6));
    WithNumbersOnTwoThreads([&] {
      for (std::uint32_t i = 0; i < count; ++i) {
        Vertex v;
        v.x = Number();
        v.y = Number();
        v.z = Number();
        doc.vertices.push_back(v);
        control.Advance();
        if (control.Cancelled()) return;
      }
    });
  }

  void ReadElements() {
    ExpectKeyword("ELEMENTS");
    const std::uint32_t count = ReadCount("Błędna liczba elementów"_cp);
    ElementWarming warmingNow(doc, Room(count, kLeastElementBytes));
    warmingNow.StartCounting(triangleTotal);
    warming = &warmingNow;
    struct Unhook {
      ElementWarming*& warming;
      ~Unhook() { warming = nullptr; }
    } unhookWarming{warming};
    if constexpr (std::is_same_v<Tokens, PlainTokens>) {
      if (splitBytes != kNoSplit) return ReadElementsOnTwoThreads(count);
    }
    for (std::uint32_t i = 0; i < count; ++i) {
      ReadElement();
      control.Advance();
      if (control.Cancelled()) return;
    }
  }

  // One element: triangles up to the line break after one of them.
  void ReadElement() {
    const std::uint64_t at = tokens.Current();
    scratch.clear();
    do {
      Triangle t;
      t.a = ReadIndex();
      t.b = ReadIndex();
      t.c = ReadIndex();
      scratch.push_back(t);
    } while (!tokens.LineBreakAfter());
    AddElement(scratch.data(), scratch.size(), at);
  }

  // The element that starts at `at`, into the document.
  void AddElement(const Triangle* triangles, std::size_t n, std::uint64_t at) {
    // The boundary search counts faces in 32 bits.
    triangleTotal += n;
    if (triangleTotal > 0xFFFFFFFFu) Fail("Liczba trójkątów siatki przekracza 4294967295"_cp, at);
    Element& element = doc.elements.emplace_back();
    element.triangles.data = doc.triangleStore.Allocate(n);
    element.triangles.count = static_cast<std::uint32_t>(n);
    std::memcpy(element.triangles.data, triangles, n * sizeof(Triangle));
    if (warming) warming->Filled(doc.elements.size(), triangleTotal);
  }

  // The side's text is the window's: the side stops before the window moves on, and when
  // its section ends.
  struct SideHook {
    PlainTokens& tokens;
    SideReader& side;
    SideHook(PlainTokens& t, SideReader& s) : tokens(t), side(s) {
      tokens.OnLeavingWindow([](void* p) { static_cast<SideReader*>(p)->Finish(true); }, &side);
    }
    SideHook(const SideHook&) = delete;
    SideHook& operator=(const SideHook&) = delete;
    ~SideHook() {
      side.Finish(true);
      tokens.OnLeavingWindow(nullptr, nullptr);
    }
  };

  // The same as the loop of ReadElements, with the second part of each stretch of the
  // text read on a second thread (SideReader) while this one reads the first.
  void ReadElementsOnTwoThreads(std::uint32_t count) {
    if (!side) side = std::make_unique<SideReader>();
    SideHook hook(tokens, *side);
    bool sideActive = false;
    std::uint64_t splitAt = 0;        // where the side's part starts
    std::uint32_t splitInWindow = 0;  // the same in the window
    std::uint64_t noSplitBefore = 0;
    for (std::uint32_t i = 0; i < count;) {
      const std::uint64_t at = tokens.Current();
      if (sideActive && at >= splitAt) {
        // Here the side's guess shows: an element starts at its part's start, or not.
        sideActive = false;
        const auto reached = std::chrono::steady_clock::now();
        side->Finish(at != splitAt);
        if (at == splitAt) {
          Rebalance(SideReader::What::kElements, reached);
          if (!TakeSide(i, count, splitAt, splitInWindow)) return;
          continue;
        }
      } else if (!sideActive && at >= noSplitBefore) {
        sideActive = StartSide(SideReader::What::kElements, splitAt, splitInWindow, noSplitBefore);
      }
      ReadElement();
      ++i;
      control.Advance();
      if (control.Cancelled()) return;
    }
  }

  // Hands the second part of the stretch of the window from the current token on to the
  // side. False when there is none worth the thread: too short, no line break in it.
  bool StartSide(SideReader::What what, std::uint64_t& splitAt, std::uint32_t& splitInWindow,
                 std::uint64_t& noSplitBefore) {
    const char* text = tokens.WindowText();
    const std::uint32_t from = tokens.WindowAt(), size = tokens.WindowSize();
    const std::uint64_t base = tokens.WindowBase();
    if (size - from < std::max<std::size_t>(splitBytes, 2)) {
      noSplitBefore = base + size;
      return false;
    }
    // The stretch ends where a token follows white space, as a window does.
    std::uint32_t end = size;
    if (size - from > kLargestStretch) {
      for (std::uint32_t c = from + kLargestStretch; c > from + 1; --c) {
        if (IsTokenByte(text[c]) && IsWhite(text[c - 1])) {
          end = c;
          break;
        }
      }
    }
    Balance& balance = balances[static_cast<int>(what)];
    const double mainPart = static_cast<double>(end - from - 1) * (1 - balance.share);
    const std::uint32_t middle = from + 1 + static_cast<std::uint32_t>(mainPart);
    auto startsLine = [&](std::uint32_t c) { return text[c - 1] == '\n' && IsTokenByte(text[c]); };
    std::uint32_t split = middle;
    while (split < end && !startsLine(split)) ++split;
    if (split == end) {
      split = middle;
      while (split > from + 1 && !startsLine(split)) --split;
      if (!startsLine(split)) {
        noSplitBefore = base + end;
        return false;
      }
    }
    if (!side->Start(what, text + split, end - split, base + split, control)) {
      noSplitBefore = kNoSplit;
      return false;
    }
    splitAt = base + split;
    splitInWindow = split;
    balance.started = std::chrono::steady_clock::now();
    balance.mainBytes = split - from;
    return true;
  }

  // The share of each stretch the side reads. The bytes per second each thread read in the
  // last stretch set the next split, so that both end together: the side's speed varies
  // with the text and with what else shares its core (the page warmer, a side thread that
  // is slow to start).
  struct Balance {
    double share = 0.55;  // at first a little more than half: what the side reads is copied once more
    std::chrono::steady_clock::time_point started;
    std::uint32_t mainBytes = 0;
  };

  // This thread has reached the side's part (at `reached`), and the side has ended.
  void Rebalance(SideReader::What what, std::chrono::steady_clock::time_point reached) {
    Balance& balance = balances[static_cast<int>(what)];
    const double mainSeconds = std::chrono::duration<double>(reached - balance.started).count();
    if (mainSeconds <= 0 || side->seconds <= 0 || side->stop == 0) return;
    // The side may have stopped early, where its section ended.
    const double mainRate = balance.mainBytes / mainSeconds, sideRate = side->stop / side->seconds;
    balance.share = std::clamp(0.5 * balance.share + 0.5 * sideRate / (sideRate + mainRate), 0.1, 0.9);
  }

  // The side's elements, as far as the section goes, and its failure where the section
  // reaches it; the tokens go on after the last element taken. False on a cancellation.
  bool TakeSide(std::uint32_t& i, std::uint32_t count, std::uint64_t splitAt, std::uint32_t splitInWindow) {
    if (side->outOfMemory) throw std::bad_alloc();
    std::size_t k = 0, offset = 0;
    for (; k < side->counts.size() && i < count; ++k) {
      AddElement(side->triangles.data() + offset, side->counts[k], k == 0 ? splitAt : splitAt + side->ends[k - 1]);
      offset += side->counts[k];
      ++i;
      control.Advance();
      if (control.Cancelled()) return false;
    }
    if (k < side->counts.size()) {
      tokens.SkipTo(splitInWindow + side->ends[k - 1]);
      return true;
    }
    if (side->failed && i < count) Fail("Oczekiwana liczba"_cp, side->failedAt);
    tokens.SkipTo(splitInWindow + side->stop);
    return true;
  }

  void ReadFrames() {
    ExpectKeyword("FRAMES");
    const std::uint32_t count = ReadCount("Błędna liczba klatek"_cp);
    WithNumbersOnTwoThreads([&] { ReadFrameList(count); });
  }

  // Runs read, which takes its numbers from Number(): on two threads where the text is
  // split, else here.
  template <class Read>
  void WithNumbersOnTwoThreads(const Read& read) {
    if constexpr (std::is_same_v<Tokens, PlainTokens>) {
      if (splitBytes != kNoSplit) {
        if (!side) side = std::make_unique<SideReader>();
        SideHook hook(tokens, *side);
        numbers = {};
        numbers.twoThreads = true;
        read();
        // The tokens go on after the last number taken.
        if (numbers.taking) {
          tokens.SkipTo(numbers.splitInWindow + (numbers.next == 0 ? 0 : side->ends[numbers.next - 1]));
        }
        numbers = {};
        return;
      }
    }
    read();
  }

  void ReadFrameList(std::uint32_t count) {
    const std::uint32_t vertexCount = doc.VertexCount();
    doc.frames.reserve(Room(count, 2));
    FrameWarming warming(doc, triangleTotal);
    for (std::uint32_t i = 0; i < count; ++i) {
      TimeFrame frame;
      frame.time = Number();
      frame.values.reserve(Room(vertexCount, 2));
      warming.Frame(frame.values, vertexCount);
      struct StopUnlessKept {
        FrameWarming& warming;
        bool kept = false;
        ~StopUnlessKept() {
          if (!kept) warming.Stop();
        }
      } keep{warming};
      for (std::uint32_t v = 0; v < vertexCount; ++v) {
        frame.values.push_back(Number());
        warming.Filled(frame.values.size());
      }
      doc.frames.push_back(std::move(frame));
      keep.kept = true;
      control.Advance();
      if (control.Cancelled()) return;
    }
  }

  // A vertex's coordinate, a frame's time or value: read here, or on two threads the side's
  // where the parser has reached its part (any token is a number, so a part that starts at
  // a token always fits).
  float Number() {
    if constexpr (std::is_same_v<Tokens, PlainTokens>) {
      if (numbers.twoThreads) {
        if (numbers.taking) {
          if (numbers.next < side->numbers.size()) return side->numbers[numbers.next++];
          numbers.taking = false;
          tokens.SkipTo(numbers.splitInWindow + side->stop);
        }
        const std::uint64_t at = tokens.Current();
        if (numbers.active && at >= numbers.splitAt) {
          numbers.active = false;
          const auto reached = std::chrono::steady_clock::now();
          side->Finish(at != numbers.splitAt);
          if (at == numbers.splitAt) {
            Rebalance(SideReader::What::kNumbers, reached);
            if (side->outOfMemory) throw std::bad_alloc();
            numbers.taking = true;
            numbers.next = 0;
            return Number();
          }
        } else if (!numbers.active && at >= numbers.noSplitBefore) {
          numbers.active =
              StartSide(SideReader::What::kNumbers, numbers.splitAt, numbers.splitInWindow, numbers.noSplitBefore);
        }
      }
    }
    return ReadNumber();
  }

  Tokens tokens;
  Document& doc;
  LoadControl& control;
  Failure& failed;
  std::size_t splitBytes;
  std::vector<Triangle> scratch;
  std::uint64_t triangleTotal = 0;
  ElementWarming* warming = nullptr;
  std::unique_ptr<SideReader> side;
  Balance balances[2];  // for the elements and the numbers
  // The vertices' and frames' numbers on two threads: the side reads from splitAt; once
  // the parser gets there it takes the side's numbers, numbers.next the next one.
  struct {
    bool twoThreads = false, active = false, taking = false;
    std::size_t next = 0;
    std::uint64_t splitAt = 0, noSplitBefore = 0;
    std::uint32_t splitInWindow = 0;
  } numbers;
};

// ---- Texts in pieces -------------------------------------------------------------------

// The bytes of a text: a file, or (tests) a text in memory handed out in pieces.
class TextSource {
 public:
  // Up to n bytes from where the last call ended; fewer only at the end or on a failure.
  virtual std::size_t Pull(char* to, std::size_t n) = 0;
  // Up to n bytes at offset, for a second look at the text's start (error positions).
  virtual std::size_t PullAt(std::uint64_t offset, char* to, std::size_t n) = 0;
  virtual bool Failed() const = 0;
  virtual std::uint64_t Size() const = 0;

 protected:
  ~TextSource() = default;
};

class FileSource final : public TextSource {
 public:
  explicit FileSource(stream::InputFile& input) : file(input) {}
  std::size_t Pull(char* to, std::size_t n) override {
    const std::size_t got = file.Read(to, n);
    failed = failed || ErrorPending();
    return got;
  }
  std::size_t PullAt(std::uint64_t offset, char* to, std::size_t n) override { return file.ReadAt(offset, to, n); }
  bool Failed() const override { return failed; }
  std::uint64_t Size() const override { return file.Size(); }

 private:
  stream::InputFile& file;
  bool failed = false;
};

class MemorySource final : public TextSource {
 public:
  explicit MemorySource(std::string_view bytes) : text(bytes) {}
  std::size_t Pull(char* to, std::size_t n) override {
    n = std::min(n, text.size() - done);
    std::memcpy(to, text.data() + done, n);
    done += n;
    return n;
  }
  std::size_t PullAt(std::uint64_t offset, char* to, std::size_t n) override {
    if (offset >= text.size()) return 0;
    n = static_cast<std::size_t>(std::min<std::uint64_t>(n, text.size() - offset));
    std::memcpy(to, text.data() + offset, n);
    return n;
  }
  bool Failed() const override { return false; }
  std::uint64_t Size() const override { return text.size(); }

 private:
  std::string_view text;
  std::size_t done = 0;
};

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// A text read window by window through one buffer, reused from window to window. The
// buffer grows only for a token (or a run of white space) longer than itself. A leading
// UTF-8 byte-order mark is skipped; positions count from the byte after it.
class Pieces final : public Window {
 public:
  Pieces(TextSource& from, std::size_t bytes) : source(from), capacity(std::max<std::size_t>(bytes, 16)) {
    buffer = std::make_unique<char[]>(capacity);
    filled = source.Pull(buffer.get(), capacity);
    eof = filled < capacity;
    if (std::string_view(buffer.get(), filled).starts_with(kByteOrderMark)) {
      skipped = kByteOrderMark.size();
      std::memmove(buffer.get(), buffer.get() + skipped, filled - skipped);
      filled -= skipped;
    }
    textSize = source.Size() - std::min<std::uint64_t>(source.Size(), skipped);
    Settle(0);
  }

  void Next() override {
    const std::size_t keep = filled - size;
    std::memmove(buffer.get(), buffer.get() + size, keep);
    base += size;
    filled = keep;
    Settle(keep);
  }

  // A byte of comments, escapes, quotes or braces came: the text needs the full TVL reader.
  bool NeedsFullReader() const { return notPlain; }
  std::uint64_t Skipped() const { return skipped; }

 private:
  // Reads until the buffer holds a window; the bytes before `checked` are known plain.
  void Settle(std::size_t checked) {
    for (;;) {
      if (!eof && filled < capacity) {
        const std::size_t got = source.Pull(buffer.get() + filled, capacity - filled);
        eof = got < capacity - filled;
        filled += got;
      }
      data = buffer.get();
      if (source.Failed() || !IsPlainText(std::string_view(buffer.get() + checked, filled - checked))) {
        notPlain = !source.Failed();
        size = 0;
        last = true;
        return;
      }
      checked = filled;
      if (eof) {
        size = static_cast<std::uint32_t>(filled);
        last = true;
        return;
      }
      for (std::size_t c = filled - 1; c > 0; --c) {
        if (IsTokenByte(buffer[c]) && IsWhite(buffer[c - 1])) {
          size = static_cast<std::uint32_t>(c);
          last = false;
          return;
        }
      }
      // No place to cut: one token or run of white space fills the buffer. Windows keep
      // 32-bit positions.
      if (capacity > 0x7FFFFFFFu) throw std::bad_alloc();
      auto larger = std::make_unique<char[]>(capacity * 2);
      std::memcpy(larger.get(), buffer.get(), filled);
      buffer = std::move(larger);
      capacity *= 2;
    }
  }

  TextSource& source;
  std::unique_ptr<char[]> buffer;
  std::size_t capacity;
  std::size_t filled = 0;
  std::uint64_t skipped = 0;
  bool eof = false;
  bool notPlain = false;
};

using tvl::TextPosition;

template <class Tokens, class Source>
bool RunParser(Source& source, Document& doc, LoadControl& control, Failure& failure,
               std::size_t splitBytes = kNoSplit) {
  try {
    Parser<Tokens>(source, doc, control, failure, splitBytes).Run();
    return true;
  } catch (const tvl::Error& error) {
    failure.error = error;
    return false;
  }
}

// Records a failed parse on control.trace: the root line with its position, then
// "Nie można wczytać pliku: " + path. position(at) gives line and column of a position.
template <class Position>
void Report(const Failure& failure, const Position& position, std::string_view path, LoadControl& control) {
  std::uint64_t offset = failure.error.offset, line = failure.error.line, column = failure.error.column;
  if (failure.atPosition) {
    offset = failure.at;
    const TextPosition p = position(failure.at);
    line = p.line;
    column = p.column;
  }
  std::string root = "(tvl2," + std::to_string(failure.error.code) + ") znak " + std::to_string(offset) + " wiersz " +
                     std::to_string(line) + " kolumna " + std::to_string(column) + ": " + failure.error.Message();
  control.trace.Raise(root, "", 0);
  control.trace.Add("Nie można wczytać pliku: "_cp + cp1250::PathText(path), "", 0);
}

std::string_view WithoutByteOrderMark(std::string_view text) {
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  return text;
}

void ParseWhole(std::string_view text, std::string_view path, Document& document, LoadControl& control);

// The plain-text parse of a source in pieces. False when the text needs the full TVL
// reader instead (nothing is reported then; the caller starts again).
bool ParsePieces(TextSource& source, std::size_t bufferBytes, std::size_t splitBytes, std::string_view path,
                 Document& document, LoadControl& control) {
  Pieces pieces(source, bufferBytes);
  Failure failure;
  const bool ok = RunParser<PlainTokens>(pieces, document, control, failure, splitBytes);
  if (pieces.NeedsFullReader()) return false;
  if (!ok && !source.Failed()) {
    Report(
        failure,
        [&](std::uint64_t at) {
          TextPosition p;
          const std::size_t kBlock = std::size_t{1} << 16;
          const auto block = std::make_unique<char[]>(kBlock);
          for (std::uint64_t done = 0; done < at;) {
            const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, at - done));
            const std::size_t got = source.PullAt(pieces.Skipped() + done, block.get(), want);
            if (got == 0) break;
            p.Over(block.get(), got);
            done += got;
          }
          return p;
        },
        path, control);
  }
  return true;
}

void ParseWhole(std::string_view text, std::string_view path, Document& document, LoadControl& control) {
  text = WithoutByteOrderMark(text);
  Failure failure;
  bool ok;
  if (!IsPlainText(text)) {
    // tvl::Reader's positions are 32-bit.
    if (text.size() > 0xFFFFFFFFu) {
      failure.error = tvl::Error(tvl::Error::kUser, {}, 0, "Plik jest zbyt duży"_cp);
      ok = false;
    } else {
      ok = RunParser<TvlTokens>(text, document, control, failure);
    }
  } else if (text.size() > 0xFFFFFFFFu) {
    MemorySource source(text);
    ParsePieces(source, std::size_t{1} << 24, kSplitBytes, path, document, control);
    return;
  } else {
    WholeText window(text);
    ok = RunParser<PlainTokens>(window, document, control, failure);
  }
  if (!ok) {
    Report(
        failure,
        [&](std::uint64_t at) {
          TextPosition p;
          p.Over(text.data(), static_cast<std::size_t>(std::min<std::uint64_t>(at, text.size())));
          return p;
        },
        path, control);
  }
}

// Whether a text of this many bytes could become a document in the memory this process
// may have: every value of a text takes at least two bytes there and four in the
// document, so a text 16 times larger than that memory is refused before any reading.
bool MayFitInMemory(std::uint64_t bytes) {
  std::uint64_t memory = std::numeric_limits<std::uint64_t>::max();
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) memory = limit.rlim_cur;
  struct sysinfo info {};
  if (sysinfo(&info) == 0) {
    memory = std::min<std::uint64_t>(memory, (std::uint64_t{info.totalram} + info.totalswap) * info.mem_unit);
  }
  return bytes / 16 <= memory;
}

constexpr std::size_t kReadBuffer = std::size_t{8} << 20;

}  // namespace

void FailSecondReaderForTesting(SideFailure failure) { sideFailure.store(failure, std::memory_order_relaxed); }

void WarmPagesFromForTesting(std::size_t elements) { warmFrom.store(elements, std::memory_order_relaxed); }

void ParseDocumentText(std::string_view text, std::string_view path, Document& document, LoadControl& control) {
  if (control.Cancelled()) return;
  ParseWhole(text, path, document, control);
}

void ParseDocumentTextInPieces(std::string_view text, std::size_t bufferBytes, std::string_view path,
                               Document& document, LoadControl& control, std::size_t splitBytes) {
  if (control.Cancelled()) return;
  MemorySource source(text);
  if (ParsePieces(source, bufferBytes, splitBytes, path, document, control)) return;
  document.Clear();
  control.ResetProgress();
  ParseWhole(text, path, document, control);
}

namespace {

void LoadFile(const std::string& path, Document& document, LoadControl& control) {
  stream::InputFile file;
  if (!file.Open(path)) {
    stream::AddCannotReadText(path);
    return;
  }
  if (!MayFitInMemory(file.Size())) throw std::bad_alloc();
  FileSource source(file);
  if (ParsePieces(source, kReadBuffer, kSplitBytes, path, document, control)) {
    if (source.Failed()) {
      // As when nothing could be read: no document, no parse error, the read failure on
      // the stream layer's trace.
      document.Clear();
      control.trace.Clear();
      stream::AddCannotReadText(path);
    }
    return;
  }
  // Comments, escapes or quotes: the full TVL reader needs the whole text at once.
  document.Clear();
  control.ResetProgress();
  std::string text;
  text.resize(static_cast<std::size_t>(file.Size()));
  std::size_t got = 0;
  while (got < text.size()) {
    const std::size_t n = file.ReadAt(got, text.data() + got, text.size() - got);
    if (n == 0) break;
    got += n;
  }
  if (got < text.size()) {
    ErrorRaise("Nie mozna odczytac z pliku", ERROR_FILE_LINE);
    stream::AddCannotReadText(path);
    return;
  }
  ParseWhole(text, path, document, control);
}

}  // namespace

void LoadDocument(const std::string& path, Document* document, LoadControl& control) {
  control.ResetProgress();
  LoadFile(path, *document, control);
  if (control.trace.IsPending()) control.trace.Add(ERROR_LOCATION);
}

}  // namespace qem
