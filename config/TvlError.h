#pragma once
// tvl::Error: the syntax error of the TVL reader, the one exception type of the program.
// It is thrown inside TVL parsing only and turned into an error-trace entry by the
// reader's user (ErrorTrace::RaiseParse). Header-only so that the foundation can print it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "Common_Code/Cp1250.h"

namespace tvl {

// Line and column as the reader counts them: CR, LF and CR LF each end one line. Over()
// moves across more text, so a reader of a text in pieces counts as it goes.
struct TextPosition {
  std::uint64_t line = 1, column = 1;
  bool afterCr = false;

  void Over(const char* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      const char c = p[i];
      if (c == '\r') {
        ++line;
        column = 1;
        afterCr = true;
      } else if (c == '\n') {
        if (!afterCr) {
          ++line;
          column = 1;
        }
        afterCr = false;
      } else {
        ++column;
        afterCr = false;
      }
    }
  }
};

struct Error {
  enum Code : std::int32_t {
    kUnexpectedEnd = 0,   // the text ended inside a comment or a quoted string
    kBadEscape = 1,       // malformed escape
    kJoinedElements = 2,  // a quoted string joined to something, or a quote inside a word
    kUser = 3,            // raised by the reader's user through Fail
  };

  std::int32_t code = 0;
  std::uint32_t offset = 0;
  std::uint32_t line = 1;
  std::uint32_t column = 1;
  std::string text;  // the user's message (code 3 only)

  Error() = default;

  // Computes line and column of offset in source.
  Error(std::int32_t errorCode, std::string_view source, std::uint32_t errorOffset, std::string message = {})
      : code(errorCode), offset(errorOffset), text(std::move(message)) {
    TextPosition at;
    at.Over(source.data(), errorOffset < source.size() ? errorOffset : source.size());
    line = static_cast<std::uint32_t>(at.line);
    column = static_cast<std::uint32_t>(at.column);
  }

  std::string Message() const {
    switch (code) {
      case kUnexpectedEnd:
        return "Niespodziewany koniec dokumentu";
      case kBadEscape:
        return "Blad skladni znaku specjalnego";
      case kJoinedElements:
        return "Polaczone elementy";
      case kUser:
        return text;
      default:
        return "Nieznany blad";
    }
  }
};

}  // namespace tvl
