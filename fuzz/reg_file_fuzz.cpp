// The .reg reader, and the writer on what it read: a hive written back (unchanged, and after a
// change) must read back as the same tree.
#include <cstdint>
#include <cstdlib>

#include "Exceptions.h"
#include "FuzzInput.h"
#include "Registry.h"

using namespace platform;

namespace {

bool SameTree(const RegKey& a, const RegKey& b) {
  std::vector<std::pair<const RegKey*, const RegKey*>> pending{{&a, &b}};
  while (!pending.empty()) {
    auto [x, y] = pending.back();
    pending.pop_back();
    if (x->Values.size() != y->Values.size() || x->SubKeys.size() != y->SubKeys.size()) return false;
    for (const RegValue& v : x->Values) {
      const RegValue* w = y->FindValue(v.Name);
      if (!w || w->Type != v.Type || w->Data != v.Data) return false;
    }
    for (const auto& [folded, sub] : x->SubKeys) {
      const RegKey* other = y->FindSubKey(sub->Name);
      if (!other) return false;
      pending.emplace_back(sub.get(), other);
    }
  }
  return true;
}

void RoundTrip(const RegFileLayout& layout, const RegKey& before, const RegKey& after, RootKey hive) {
  std::string text;
  try {
    text = RewriteRegFile(layout, before, after, hive);
  } catch (const ERegistryException&) {
    return;  // names the format cannot hold are refused
  }
  RegKey back(RootKeyName(hive));
  ParseRegFile(text, hive, back, "written");  // what we write must read
  if (!SameTree(after, back)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(qzfuzz::Bytes(data, size));
  const RootKey hive = RootKey::LocalMachine;
  RegKey tree(RootKeyName(hive));
  RegFileLayout layout;
  try {
    ParseRegFile(bytes, hive, tree, "fuzz.reg", &layout);
  } catch (const ERegistryException&) {
    return 0;
  }
  RoundTrip(layout, tree, tree, hive);
  // A change: one value set, one key added, the first subkey of the root removed.
  RegKey changed(tree);
  if (!changed.SubKeys.empty()) changed.SubKeys.erase(changed.SubKeys.begin());
  Registry::Create(changed, u"SOFTWARE\\fuzz").SetValue({u"v", REG_SZ, RegSzBytes(u"x")});
  RoundTrip(layout, tree, changed, hive);
  return 0;
}
