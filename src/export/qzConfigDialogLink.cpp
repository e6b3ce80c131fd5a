#include "qzConfigDialogLink.h"

#include <dlfcn.h>

#include <mutex>

#include "CodePage.h"
#include "Module.h"
#include "dialog/qzConfigDialogApi.h"
#include "qzExportConfigKeys.h"

namespace {

// Row fields never hold ";" (the configuration text splits rows there), so it joins them losslessly.
constexpr char16_t kFieldSeparator = u';';

template <size_t N>
UnicodeString JoinFields(const std::array<UnicodeString, N>& row) {
  UnicodeString out;
  for (size_t i = 0; i < N; ++i) {
    if (i) out.push_back(kFieldSeparator);
    out += row[i];
  }
  return out;
}

template <size_t N>
std::array<UnicodeString, N> SplitFields(const UnicodeString& value) {
  std::array<UnicodeString, N> out;
  size_t start = 0;
  for (size_t i = 0; i < N; ++i) {
    const size_t p = value.find(kFieldSeparator, start);
    out[i] = value.substr(start, p == UnicodeString::npos ? UnicodeString::npos : p - start);
    if (p == UnicodeString::npos) break;
    start = p + 1;
  }
  return out;
}

UnicodeString Flag(bool v) { return v ? u"1" : u"0"; }

// The text fields of TExportConfig by key.
UnicodeString* TextField(TExportConfig& c, std::u16string_view key) {
  if (key == u"DOCSERVER") return &c.DocServer;
  if (key == u"DOCSERVERPORT") return &c.DocServerPort;
  if (key == u"LINKCONSTR") return &c.LinkConStr;
  if (key == u"KQFDBCONSTR") return &c.KqfDbConStr;
  if (key == u"KQFDBNAME") return &c.KqfDbName;
  if (key == u"KQFTABLENAME") return &c.KqfTableName;
  if (key == u"KQFKEYFIELD") return &c.KqfKeyField;
  if (key == u"KQFBCFIELD") return &c.KqfBcField;
  if (key == u"BCPREFIX") return &c.BcPrefix;
  if (key == u"CLIENT") return &c.Client;
  if (key == u"DOCTYPE") return &c.DocType;
  if (key == u"AODBCONSTR") return &c.AoDbConStr;
  if (key == u"AOTABLE") return &c.AoTable;
  return nullptr;
}

bool* FlagField(TExportConfig& c, std::u16string_view key) {
  if (key == u"CHKPAGECOUNT") return &c.ChkPageCount;
  if (key == u"ALLOWDOUBLPC") return &c.AllowDoublPc;
  if (key == u"CREATELINK") return &c.CreateLink;
  if (key == u"UNSHARP") return &c.Unsharp;
  if (key == u"TESTMODE") return &c.TestMode;
  if (key == u"AOENABLED") return &c.AoEnabled;
  return nullptr;
}

}  // namespace

UnicodeString EncodeDialogSettings(const TDialogSettings& s) {
  TExportConfig c = s.Config;
  UnicodeString out;
  auto entry = [&](std::u16string_view key, const UnicodeString& value) {
    out += key;
    out.push_back(u'=');
    out += value;
    out.push_back(u'\0');
  };
  for (const TExportConfigKey& key : ExportConfigKeys) {
    if (UnicodeString* text = TextField(c, key.Name)) entry(key.Name, *text);
    else if (bool* flag = FlagField(c, key.Name)) entry(key.Name, Flag(*flag));
    else if (key.Name == u"ASSIGN")
      for (const auto& row : s.AssignRows) entry(key.Name, JoinFields(row));
    else if (key.Name == u"ADDONSELECT")
      for (const auto& row : s.AddonRows) entry(key.Name, JoinFields(row));
  }
  out.push_back(u'\0');
  return out;
}

TDialogSettings DecodeDialogSettings(const char16_t* encoded) {
  TDialogSettings s;
  if (!encoded) return s;
  // The defaults of a text without the key are those of the configuration.
  for (const char16_t* p = encoded; *p;) {
    const UnicodeString item(p);
    p += item.size() + 1;
    const size_t eq = item.find(u'=');
    if (eq == UnicodeString::npos) continue;
    const std::u16string_view key(item.data(), eq);
    const UnicodeString value = item.substr(eq + 1);
    if (UnicodeString* text = TextField(s.Config, key)) *text = value;
    else if (bool* flag = FlagField(s.Config, key)) *flag = value == u"1";
    else if (key == u"ASSIGN") s.AssignRows.push_back(SplitFields<9>(value));
    else if (key == u"ADDONSELECT") s.AddonRows.push_back(SplitFields<2>(value));
  }
  return s;
}

namespace {

struct DialogLibrary {
  QzShowConfigDialogFn show = nullptr;
  QzFreeConfigDialogTextFn release = nullptr;
  UnicodeString error;
};

// Loads the dialog library once per process and keeps it: a toolkit that has started its
// application object must not be unloaded under it.
const DialogLibrary& LoadDialogLibrary() {
  static DialogLibrary lib;
  static std::once_flag once;
  std::call_once(once, [] {
    std::string dir = platform::ThisModuleFileName();
    const size_t slash = dir.rfind('/');
    dir = slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
    const std::string path = dir + QZ_CONFIG_DIALOG_LIBRARY;
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      const char* why = ::dlerror();
      lib.error = u"The configuration dialog cannot be loaded (" + platform::Utf8ToWide(why ? why : path) + u")";
      return;
    }
    lib.show = reinterpret_cast<QzShowConfigDialogFn>(::dlsym(handle, "qzShowConfigDialog"));
    lib.release = reinterpret_cast<QzFreeConfigDialogTextFn>(::dlsym(handle, "qzFreeConfigDialogText"));
    if (!lib.show || !lib.release) {
      lib.error = u"The configuration dialog library " + platform::Utf8ToWide(path) + u" lacks its entry points";
      lib.show = nullptr;
    }
  });
  return lib;
}

}  // namespace

bool ShowConfigDialog(const TExportModule& module, UnicodeString& text, UnicodeString& reason) {
  text.clear();
  reason.clear();
  const DialogLibrary& lib = LoadDialogLibrary();
  if (!lib.show) {
    reason = lib.error;
    return false;
  }
  TDialogSettings settings;
  settings.Config = module.Config;
  settings.AssignRows = module.AssignTable;
  settings.AddonRows = module.AddonSelectTable;
  const UnicodeString encoded = EncodeDialogSettings(settings);
  char16_t* answer = nullptr;
  char16_t message[1024] = {0};
  const int32_t result = lib.show(encoded.c_str(), &answer, message, 1024);
  if (result == 1 && answer) {
    text = answer;
    lib.release(answer);
    return true;
  }
  if (answer) lib.release(answer);
  if (result < 0) reason = message[0] ? UnicodeString(message) : UnicodeString(u"The configuration dialog failed");
  return false;
}
