#pragma once
// The console's input line: the working line, a history of submitted lines and an always
// empty line below the working one, a byte cursor, and the time of the last edit (which
// restarts the cursor's blink). Lines are Windows-1250 bytes. Main thread only.

#include <cstdint>
#include <deque>
#include <string>

struct LineEditor {
  static constexpr std::size_t kHistoryLimit = 129;

  std::string blank;                // always empty; selection -2
  std::deque<std::string> history;  // oldest first
  std::string working;              // selection -1
  std::uint32_t cursor = 0;         // 0 .. length of the selected line
  std::int32_t selection = -1;      // -1 working, -2 blank, 0.. a history entry
  float lastEdit = 0.0f;            // frame time of the last edit or cursor move

  const std::string& Selected() const;

  // Edits make the selected line the working one first (a history entry is copied, the
  // blank line starts a new working line).
  void Insert(char c, float now);
  void Backspace(float now);
  void Delete(float now);

  void Left(float now);
  void Right(float now);
  void Home(float now);
  void End(float now);
  void WordLeft(float now);
  void WordRight(float now);

  // History: older and newer; the cursor goes to the end of the newly selected line.
  void Up();
  void Down();

  // Pushes the selected line to the history and empties the input.
  void Submit(float now);
  void Clear(float now);

  // The blink: shown during the first half of each one-second period since the last edit.
  bool CursorShown(float now);

 private:
  void Materialise();
};
