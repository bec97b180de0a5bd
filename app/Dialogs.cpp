#include "app/Dialogs.h"

#include <gtk/gtk.h>

#include <vector>

#include "Common_Code/Cp1250.h"

namespace {

// Splits the filter text into (description, pattern) pairs.
std::vector<std::pair<std::string, std::string>> FilterEntries(const std::string& filter) {
  std::vector<std::pair<std::string, std::string>> entries;
  std::size_t position = 0;
  while (position < filter.size() && filter[position] != '\0') {
    const std::size_t descriptionEnd = filter.find('\0', position);
    if (descriptionEnd == std::string::npos) break;
    const std::size_t patternEnd = filter.find('\0', descriptionEnd + 1);
    if (patternEnd == std::string::npos) break;
    entries.emplace_back(filter.substr(position, descriptionEnd - position),
                         filter.substr(descriptionEnd + 1, patternEnd - descriptionEnd - 1));
    position = patternEnd + 1;
  }
  return entries;
}

void AddPatterns(GtkFileFilter* gtkFilter, const std::string& patterns) {
  std::size_t from = 0;
  while (from <= patterns.size()) {
    std::size_t to = patterns.find(';', from);
    if (to == std::string::npos) to = patterns.size();
    const std::string pattern = patterns.substr(from, to - from);
    // "*.*" means every file, with or without a dot in its name.
    if (!pattern.empty()) gtk_file_filter_add_pattern(gtkFilter, pattern == "*.*" ? "*" : pattern.c_str());
    from = to + 1;
  }
}

void PumpGtk() {
  while (gtk_events_pending()) gtk_main_iteration();
}

}  // namespace

bool CanShowFileDialog() {
  // GTK starts once per process (a second start would only warn).
  static const bool available = [] {
    // GTK would otherwise switch the process to the user's locale, and number reading
    // (atof in the mesh and configuration readers) would then expect a decimal comma.
    gtk_disable_setlocale();
    return gtk_init_check(nullptr, nullptr) != FALSE;
  }();
  return available;
}

bool ShowFileDialog(bool save, std::string_view title, const std::string& filter, std::string& path, int* filterIndex) {
  if (!CanShowFileDialog()) return false;
  const std::string titleUtf8 = cp1250::ToUtf8(title);
  GtkWidget* dialog = gtk_file_chooser_dialog_new(
      titleUtf8.c_str(), nullptr, save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN,
      cp1250::ToUtf8("_Anuluj").c_str(), GTK_RESPONSE_CANCEL,
      cp1250::ToUtf8(save ? std::string_view("_Zapisz") : std::string_view("_Otwórz"_cp)).c_str(), GTK_RESPONSE_ACCEPT,
      nullptr);
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
  if (save) gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);

  const auto entries = FilterEntries(filter);
  const int selected = filterIndex && *filterIndex > 0 ? *filterIndex - 1 : 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    GtkFileFilter* gtkFilter = gtk_file_filter_new();
    gtk_file_filter_set_name(gtkFilter, cp1250::ToUtf8(entries[i].first).c_str());
    AddPatterns(gtkFilter, entries[i].second);
    gtk_file_chooser_add_filter(chooser, gtkFilter);
    if (static_cast<int>(i) == selected) gtk_file_chooser_set_filter(chooser, gtkFilter);
  }
  if (!path.empty()) {
    gtk_file_chooser_set_filename(chooser, path.c_str());
  } else if (gchar* current = g_get_current_dir()) {
    // Otherwise GTK opens on its "Recent" list, empty on a fresh account.
    gtk_file_chooser_set_current_folder(chooser, current);
    g_free(current);
  }

  // Escape answers GTK_RESPONSE_DELETE_EVENT, not CANCEL: only ACCEPT is a choice.
  const bool accepted = gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT;
  if (accepted) {
    if (gchar* name = gtk_file_chooser_get_filename(chooser)) {
      path = name;
      g_free(name);
    }
    if (filterIndex) {
      GtkFileFilter* current = gtk_file_chooser_get_filter(chooser);
      GSList* all = gtk_file_chooser_list_filters(chooser);
      const int index = g_slist_index(all, current);
      g_slist_free(all);
      if (index >= 0) *filterIndex = index + 1;
    }
  }
  gtk_widget_destroy(dialog);
  PumpGtk();
  return accepted;
}
