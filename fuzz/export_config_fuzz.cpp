// The export service's configuration text (command 110) and its ASSIGN / ADDONSELECT rows.
#include <cstdint>

#include "Exceptions.h"
#include "FuzzInput.h"
#include "qzExportConfig.h"
#include "qzExportService.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const UnicodeString text = qzfuzz::Wide(data, size);
  TExportModule module;
  UnicodeString error;
  try {
    if (TExportConfigText::Apply(module, text, error)) TExportConfigText::Get(module);
  } catch (const Exception&) {
  }
  try {
    TExportConfigText::ParseAssignRow(text);
    TExportConfigText::ParseAddonSelectRow(text);
  } catch (const Exception&) {
  }
  return 0;
}
