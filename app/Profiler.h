#pragma once
// The always-on profiler: named sections opened and closed around work; a section opened
// while another is open becomes its child, so the per-frame tree builds itself ("Update",
// "Draw", and "Console", "Engine", "Stat" below them). Each node sums its time and counts
// its runs; nodes are never removed. One profiler for the program, main thread only.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct ProfileNode {
  double total = 0.0;       // seconds over all closed runs
  std::uint32_t count = 0;  // closed runs
  double start = 0.0;       // start of the current run
  std::string name;
  std::uint32_t hash = 0;
  // Children in the order of their first opening; on the heap, so an open node never moves.
  std::vector<std::unique_ptr<ProfileNode>> children;

  // "<name> : <average ms, six decimals> ms (<count>)".
  std::string Format() const;
};

class Profiler {
 public:
  // Opens a section below the innermost open one (siblings are told apart by the hash of
  // their names, as the configuration hashes keys, without lower-casing).
  static void Begin(std::string_view name);
  // Closes the innermost open section; with none open it does nothing.
  static void End();
  // Writes the tree to the console, two spaces of indent per level.
  static void Print();
  // Writes the same lines to a text file. False when the file could not be opened or
  // written; nothing is recorded on the error trace (the caller tells the user).
  static bool Save(const std::string& fileName);

  // The printed lines, depth first, parents before children.
  static std::vector<std::string> Lines();
  // The root node (empty name, never closed, never printed).
  static const ProfileNode& Root();
  // Forgets every node (tests only).
  static void Reset();
};
