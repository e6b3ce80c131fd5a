// The plug-in's one exported entry: every command goes to the library's export module.
#include "qzExportService.h"
#include "qzkqfexport.h"

extern "C" int32_t qzWideExport(int32_t Command, char16_t* Param, int32_t Reserved, char16_t* Msg) {
  return TExportModule::Global().Execute(Command, Param, Reserved, Msg);
}
