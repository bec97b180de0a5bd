#pragma once
// Reading a console command's arguments, for the application's commands and the engine's
// alike, so every command answers a badly typed argument with the same red line.
//
// A command gets the tvl::Reader positioned just after its word. It takes its arguments in
// order with the readers below and ends with ExpectEnd. Each reader throws tvl::Error
// (through Reader::Fail) with the message given here; the command interpreter catches it
// and prints "Błąd składni przy "<the line from the offset>": <message>". The offset is
// where the offending value starts, or the end of the line when a value is missing.
//
// A new command, for example one that takes a number and a switch:
//   const std::uint32_t count = command::ReadUnsigned(reader);
//   const bool on = command::ReadBool(reader);
//   command::ExpectEnd(reader);

#include <cstdint>
#include <string>
#include <string_view>

#include "config/Tvl.h"

namespace command {

// "Za dużo parametrów" (at the first unread token) unless the line has ended.
void ExpectEnd(tvl::Reader& reader);

// The next value (a word or a quoted string, escapes resolved). When there is none:
// missing, or "Ogólny błąd składni" when no message is given.
std::string ReadValue(tvl::Reader& reader);
std::string ReadValue(tvl::Reader& reader, std::string_view missing);

// A decimal number from 0 to 4294967295; anything else (a sign, a letter, a larger
// number) is "Błąd podczas konwersji" at the value's start.
std::uint32_t ReadUnsigned(tvl::Reader& reader);

// A boolean: "0", "f", "false", "1", "t", "true" in any case; anything else is "Błąd
// podczas konwersji" at the value's start.
bool ReadBool(tvl::Reader& reader);

}  // namespace command
