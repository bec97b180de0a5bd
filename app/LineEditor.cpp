#include "app/LineEditor.h"

#include <cmath>

#include "Common_Code/Conversions.h"

const std::string& LineEditor::Selected() const {
  if (selection == -1) return working;
  if (selection == -2) return blank;
  return history[static_cast<std::size_t>(selection)];
}

void LineEditor::Materialise() {
  if (selection == -2) {
    working.clear();
  } else if (selection >= 0) {
    working = history[static_cast<std::size_t>(selection)];
  }
  selection = -1;
}

void LineEditor::Insert(char c, float now) {
  Materialise();
  working.insert(working.begin() + cursor, c);
  ++cursor;
  lastEdit = now;
}

void LineEditor::Backspace(float now) {
  Materialise();
  if (cursor > 0) {
    working.erase(cursor - 1, 1);
    --cursor;
  }
  lastEdit = now;
}

void LineEditor::Delete(float now) {
  Materialise();
  if (cursor < working.size()) working.erase(cursor, 1);
  lastEdit = now;
}

void LineEditor::Left(float now) {
  if (cursor > 0) --cursor;
  lastEdit = now;
}

void LineEditor::Right(float now) {
  if (cursor < Selected().size()) ++cursor;
  lastEdit = now;
}

void LineEditor::Home(float now) {
  cursor = 0;
  lastEdit = now;
}

void LineEditor::End(float now) {
  cursor = static_cast<std::uint32_t>(Selected().size());
  lastEdit = now;
}

void LineEditor::WordLeft(float now) {
  const std::string& line = Selected();
  while (cursor > 0 && IsSpace(line[cursor - 1])) --cursor;
  while (cursor > 0 && !IsSpace(line[cursor - 1])) --cursor;
  lastEdit = now;
}

void LineEditor::WordRight(float now) {
  const std::string& line = Selected();
  while (cursor < line.size() && !IsSpace(line[cursor])) ++cursor;
  while (cursor < line.size() && IsSpace(line[cursor])) ++cursor;
  lastEdit = now;
}

void LineEditor::Up() {
  if (selection == -2) {
    selection = -1;
  } else if (selection == -1) {
    selection = static_cast<std::int32_t>(history.size()) - 1;
  } else if (selection > 0) {
    --selection;
  }
  cursor = static_cast<std::uint32_t>(Selected().size());
}

void LineEditor::Down() {
  if (selection == -1) {
    if (!working.empty()) selection = -2;
  } else if (selection >= 0) {
    selection = selection + 1 == static_cast<std::int32_t>(history.size()) ? -1 : selection + 1;
  }
  cursor = static_cast<std::uint32_t>(Selected().size());
}

void LineEditor::Submit(float now) {
  // The copy is taken before the oldest entry is dropped: the selected line may be that
  // entry, or the newest one, whose index would be past the end after the drop.
  std::string line = Selected();
  if (history.size() > kHistoryLimit - 1) history.pop_front();
  history.push_back(std::move(line));
  selection = -1;
  working.clear();
  cursor = 0;
  lastEdit = now;
}

void LineEditor::Clear(float now) {
  selection = -1;
  working.clear();
  cursor = 0;
  lastEdit = now;
}

bool LineEditor::CursorShown(float now) {
  // Whole periods at once (a long-idle console would otherwise loop once per second
  // passed, and for ever once a float can no longer add 1 to the time).
  if (now > lastEdit + 1.0f) lastEdit += std::ceil(now - lastEdit - 1.0f);
  return now <= lastEdit + 0.5f;
}
