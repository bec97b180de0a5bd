#pragma once
// The command interpreter: every line finished in the console is one command. The line is
// split with the TVL reader (words, quoted strings and escapes as in Config.tvl); the
// application's own commands ("exit", "echo", "mode", "modes", "profile", "saveprofile")
// run here, every other word goes to the engine's handler. Replies go to the console; a
// badly typed command prints one red line and never stops the program. Main thread only.

#include <functional>
#include <string>
#include <string_view>

#include "config/Tvl.h"

class Console;

// The engine's command handler: the lower-cased command word and the reader just after it;
// true when it knew the command (it reads its own arguments, prints its own replies and
// may Fail on the reader).
using EngineCommandHandler = std::function<bool(const std::string& name, tvl::Reader& reader)>;

// Runs one trimmed, non-empty console line.
void ExecuteCommand(std::string_view line, Console& console, const EngineCommandHandler& engine);

// Argument readers shared with the engine's commands; each throws tvl::Error (through
// Fail) with the command line's messages.
namespace command {
// "Za dużo parametrów" unless the reader is at its end.
void ExpectEnd(tvl::Reader& reader);
// A value; "Ogólny błąd składni" when there is none.
std::string ReadValue(tvl::Reader& reader);
// A decimal unsigned number; "Błąd podczas konwersji" at the value's start.
std::uint32_t ReadUnsigned(tvl::Reader& reader);
// A boolean ("0", "f", "false", "1", "t", "true" in any case); the same failure.
bool ReadBool(tvl::Reader& reader);
}  // namespace command
