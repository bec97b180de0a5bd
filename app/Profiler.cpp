#include "app/Profiler.h"

#include <cstdio>

#include "Common_Code/Conversions.h"
#include "app/Console.h"
#include "config/Config.h"
#include "framework/Timer.h"

namespace {

struct State {
  ProfileNode root;
  std::vector<ProfileNode*> stack{&root};
};

State& Instance() {
  static State state;
  return state;
}

void Collect(const ProfileNode& node, int level, std::vector<std::string>& lines) {
  for (const auto& child : node.children) {
    lines.push_back(std::string(static_cast<std::size_t>(level) * 2, ' ') + child->Format());
    Collect(*child, level + 1, lines);
  }
}

}  // namespace

std::string ProfileNode::Format() const {
  const double average = count == 0 ? 0.0 : total / count * 1000.0;
  return name + " : " + FormatFloat(average, 'f', 6) + " ms (" + ToText(count) + ")";
}

void Profiler::Begin(std::string_view name) {
  State& state = Instance();
  ProfileNode* parent = state.stack.back();
  const std::uint32_t hash = Config::Hash(name);
  ProfileNode* child = nullptr;
  for (const auto& existing : parent->children) {
    if (existing->hash == hash) {
      child = existing.get();
      break;
    }
  }
  if (!child) {
    parent->children.push_back(std::make_unique<ProfileNode>());
    child = parent->children.back().get();
    child->name = std::string(name);
    child->hash = hash;
  }
  child->start = timer::SecondsPrecise();
  state.stack.push_back(child);
}

void Profiler::End() {
  State& state = Instance();
  if (state.stack.size() <= 1) return;
  ProfileNode* node = state.stack.back();
  node->total += timer::SecondsPrecise() - node->start;
  node->count += 1;
  state.stack.pop_back();
}

std::vector<std::string> Profiler::Lines() {
  std::vector<std::string> lines;
  Collect(Instance().root, 0, lines);
  return lines;
}

bool Profiler::Save(const std::string& fileName) {
  std::FILE* file = std::fopen(fileName.c_str(), "w");
  if (!file) return false;
  for (const std::string& line : Lines()) {
    std::fwrite(line.data(), 1, line.size(), file);
    std::fputc('\n', file);
  }
  // A full disk shows only when the buffered lines go out: at the latest when closing.
  const bool written = !std::ferror(file);
  return std::fclose(file) == 0 && written;
}

const ProfileNode& Profiler::Root() { return Instance().root; }

void Profiler::Reset() {
  State& state = Instance();
  state.root.children.clear();
  state.stack.assign(1, &state.root);
}

void Profiler::Print() {
  if (!g_console) return;
  for (const std::string& line : Lines()) g_console->Print(line, kConsoleNormal);
}
