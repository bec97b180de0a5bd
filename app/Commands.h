#pragma once
// The command interpreter: every line finished in the console is one command. The line is
// split with the TVL reader (words, quoted strings and escapes as in Config.tvl); the
// application's own commands ("exit", "echo", "mode", "modes", "profile", "saveprofile")
// run here, every other word goes to the engine's handler. Replies go to the console; a
// badly typed command prints one red line and never stops the program. Main thread only.

#include <functional>
#include <string>
#include <string_view>

#include "app/CommandArguments.h"
#include "config/Tvl.h"

class Console;

// The engine's command handler: the lower-cased command word and the reader just after it;
// true when it knew the command (it reads its own arguments with the readers of
// app/CommandArguments.h, prints its own replies and may Fail on the reader).
using EngineCommandHandler = std::function<bool(const std::string& name, tvl::Reader& reader)>;

// Runs one trimmed, non-empty console line.
void ExecuteCommand(std::string_view line, Console& console, const EngineCommandHandler& engine);
