// The XML configuration text: any document parsed; what parses is written again (plain, and
// compressed when short) and must parse back to as many parts.
#include <cstdint>
#include <cstdlib>

#include "Exceptions.h"
#include "FuzzInput.h"
#include "qzConfigTools.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const AnsiString text(qzfuzz::Bytes(data, size));
  TqzConfigTools tools;
  UnicodeString root;
  try {
    if (!tools.ParseConfigString(text, root, false)) return 0;
  } catch (const Exception&) {
    std::abort();  // asked not to raise
  }
  for (bool compress : {false, true}) {
    // Every compressed value sets up a deflate stream of its own: costly under the sanitizers,
    // and long lists find nothing short ones do not.
    if (compress && tools.GetListSize() > 64) continue;
    AnsiString written;
    try {
      written = tools.BuiltConfigString(root.empty() ? UnicodeString(u"Settings") : root, compress, true, false);
    } catch (const Exception&) {
      continue;  // names that are no XML names are refused
    }
    TqzConfigTools back;
    UnicodeString backRoot;
    if (!back.ParseConfigString(written, backRoot, false)) std::abort();
    if (back.GetListSize() != tools.GetListSize()) std::abort();
  }
  return 0;
}
