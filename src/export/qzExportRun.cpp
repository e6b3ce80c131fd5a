#include "qzExportService.h"

int32_t RunExport(TExportModule& module, UnicodeString& message, bool& hasMessage) {
  (void)module;
  message = u"The export run is not available in this build";
  hasMessage = true;
  return -1;
}
