#pragma once
// The desktop's file-open dialog (GTK's file chooser, in process). Texts are
// Windows-1250; paths are the file system's own bytes, passed through unchanged so that
// any file the user picks can be opened. Main thread only, before or after the window's
// life (never while the main loop runs).

#include <string>
#include <string_view>

// The filter text of an open dialog: entries of description, zero byte, pattern, zero
// byte, ending with one more zero byte. With showPattern the description is followed by
// " (<pattern>)".
class FileFilter {
 public:
  FileFilter& Add(std::string_view description, std::string_view pattern, bool showPattern) {
    text += description;
    if (showPattern) {
      text += " (";
      text += pattern;
      text += ')';
    }
    text += '\0';
    text += pattern;
    text += '\0';
    return *this;
  }
  // The whole text with its final zero byte.
  std::string Text() const { return text + '\0'; }

 private:
  std::string text;
};

// Whether a file chooser can be shown at all (there is a display to show it on).
bool CanShowFileDialog();

// Shows the file chooser titled title with the filter's entries (filterIndex 1-based, or 0
// for the first). It opens in path's folder, or in the current directory when path is
// empty. Returns true and fills path when the user accepted a file; false for anything
// else (cancel, Escape, closing the dialog, no display).
bool ShowFileDialog(bool save, std::string_view title, const std::string& filter, std::string& path, int* filterIndex);
