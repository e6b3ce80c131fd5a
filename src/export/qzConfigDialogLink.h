// Command 800: the configuration dialog lives in a library of its own (libqzkqfexportdlg.so, next
// to the plug-in), loaded with dlopen on the first command 800 and kept loaded, so the plug-in
// never links a GUI toolkit. The settings in force travel to it in a lossless text form (below);
// it answers with the configuration text its writer produced from the dialog's values.
#pragma once

#include <vector>

#include "qzExportService.h"

// The settings the dialog shows: the values of the configuration text and both row tables.
struct TDialogSettings {
  TExportConfig Config;
  std::vector<TAssignRow> AssignRows;
  std::vector<TAddonSelectRow> AddonRows;
};

// The settings in force as zero-terminated "KEY=value" entries in the writer's key order, one
// entry per table row (its fields joined by U+001F), ended by an empty entry. Values cannot hold
// a zero (they come from zero-terminated host texts), so nothing is lost.
UnicodeString EncodeDialogSettings(const TDialogSettings& settings);
// The reverse; unknown keys are skipped, missing fields are empty.
TDialogSettings DecodeDialogSettings(const char16_t* encoded);

// Shows the dialog on the settings of `module`. Ok: true with `text` the new configuration text.
// Cancel: false with `reason` empty. The dialog cannot be shown (its library, Qt or a display
// is missing): false with `reason` saying why.
bool ShowConfigDialog(const TExportModule& module, UnicodeString& text, UnicodeString& reason);
