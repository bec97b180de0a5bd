#pragma once
// tvl::Reader: the tokeniser of the program's TVL notation, used for Config.tvl, mesh files
// and console command lines. It knows white space, comments ({/ ... /}), escapes
// ({\41}, {\"}), quoted strings, the separators "," and ";", "=" and the braces of
// sections; it builds no tree, each user drives it token by token. Syntax errors are
// thrown as tvl::Error (codes 0..2; Fail throws code 3); nothing is recorded in the error
// trace here. The caller owns the text and keeps it alive and unchanged while the reader
// works on it. Offsets are bytes from the start of the text.

#include <cstdint>
#include <string>
#include <string_view>

#include "config/TvlError.h"

namespace tvl {

class Reader {
 public:
  // The reader's place, kept by a user to report an error where a value started.
  struct Mark {
    std::uint32_t tokenEnd = 0;
    std::uint32_t afterSeparator = 0;
    std::uint32_t current = 0;
  };

  // Skips the white space and comments at the start of text (no separator).
  explicit Reader(std::string_view text);

  // The next bare word or quoted string, escapes resolved; an empty value when a
  // separator stands next. False (nothing moved, out unchanged) when neither.
  bool ReadValue(std::string& out);
  bool ReadEquals();
  bool OpenSection();
  bool CloseSection();

  // Raw text from the end of the last item (fromTokenEnd) or after its separator, up to
  // a section-opening "{", a "}" or the end; escapes resolved, comments dropped.
  void ReadRaw(std::string& out, bool fromTokenEnd);

  bool AtEnd() const { return current == text.size(); }
  bool LineBreakAfter() const { return lineBreakAfter; }
  std::uint32_t Current() const { return current; }
  Mark Position() const { return {tokenEnd, afterSeparator, current}; }

  // Throw code 3 with message at the current offset, or at a kept position's.
  [[noreturn]] void Fail(std::string message) const;
  [[noreturn]] void Fail(std::string message, const Mark& position) const;

 private:
  // One character at p with comments skipped: false at the end of the text; else c is the
  // byte and next the offset after it.
  bool Peek(std::uint32_t p, unsigned char& c, std::uint32_t& next) const {
    if (p < size && (text[p] != '{' || p + 1 == size || text[p + 1] != '/')) {
      c = static_cast<unsigned char>(text[p]);
      next = p + 1;
      return true;
    }
    return PeekSlow(p, c, next);
  }
  bool PeekSlow(std::uint32_t p, unsigned char& c, std::uint32_t& next) const;
  // Whether the "{" just before afterBrace starts an escape rather than a section.
  bool StartsEscape(std::uint32_t afterBrace) const;
  // An escape at p: false when none starts there; else byte and next.
  bool Escape(std::uint32_t p, unsigned char& byte, std::uint32_t& next) const;
  std::uint32_t SkipBlanks(std::uint32_t p, bool lineBreaks, bool* sawBreak) const;
  void AfterItem(std::uint32_t p);
  [[noreturn]] void Throw(std::int32_t code, std::uint32_t offset) const;

  std::string_view text;
  std::uint32_t size = 0;
  std::uint32_t tokenEnd = 0;
  std::uint32_t afterSeparator = 0;
  std::uint32_t current = 0;
  bool lineBreakAfter = false;
};

}  // namespace tvl
