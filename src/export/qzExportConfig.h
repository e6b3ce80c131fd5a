// The configuration text of the export service: "<CONFIG>" and one "<KEY=value>" tag per
// setting, "ASSIGN" and "ADDONSELECT" rows repeatable, closed by "</CONFIG>". Applied by command
// 110, returned by command 850, written anew by the configuration dialog.
#pragma once

#include "qzExportService.h"

class TExportConfigText {
 public:
  // Command 110: resets the keys that every 110 resets, keeps the text as UTF-8 and applies its
  // tags. False (no key applied) when the text is not a valid tag list (`error` empty; the resets
  // have happened and the text is kept all the same) or when a configured database name holds
  // characters a name may not hold (`error` says which; nothing changes, not even the kept text).
  static bool Apply(TExportModule& module, const UnicodeString& text, UnicodeString& error);
  // Command 850: the kept text decoded from UTF-8.
  static UnicodeString Get(const TExportModule& module);
  // The text the dialog writes from its values, in the fixed key order, as UTF-8.
  static Utf8String Write(const TExportConfig& config, const std::vector<TAssignRow>& assignRows,
                          const std::vector<TAddonSelectRow>& addonRows);

  // An "ASSIGN" value split into its nine fields and normalised (switches "True"/"False",
  // "Length" as a number, an empty origin "Source").
  static TAssignRow ParseAssignRow(const UnicodeString& value);
  static TAddonSelectRow ParseAddonSelectRow(const UnicodeString& value);
  // True when a configured name may stand in a statement as an identifier: only letters, digits,
  // "_", "$", "#" and "." (command 110 refuses a text whose names hold anything else).
  static bool IsSafeIdentifier(const UnicodeString& name);
};
