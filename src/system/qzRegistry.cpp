#include "qzRegistry.h"


#include "CodePage.h"
#include "Exceptions.h"
#include "FormatSettings.h"
#include "SysUtils.h"
#include "qzConversion.h"
#include "qzDateTime.h"

using platform::RegBytes;
using platform::RegKey;
using platform::Registry;
using platform::RegValue;

namespace {

// The registry text of a date: the day, and its time of day when it has one.
UnicodeString DateToRegistryText(TDateTime value) {
  int64_t days = 0;
  int32_t ms = 0;
  platform::SplitDateTime(value, days, ms);
  if (ms == 0) return platform::FormatDateTime(u"yyyy-mm-dd", value);
  if (ms % 1000 == 0) return platform::FormatDateTime(u"yyyy-mm-dd hh:nn:ss", value);
  return platform::FormatDateTime(u"yyyy-mm-dd hh:nn:ss.zzz", value);
}

TDateTime RegistryTextToDate(const UnicodeString& text) {
  std::vector<UnicodeString> dateFormats = {u"yyyy-mm-dd", u"dd.mm.yyyy",
                                            platform::GetFormatSettings().ShortDateFormat};
  std::vector<UnicodeString> timeFormats = {u"hh:nn:ss"};
  return TqzDateTime::StrToDateTimeExt(text, dateFormats, timeFormats, 0);
}

UnicodeString TextUpToZero(const RegBytes& data) {
  UnicodeString out;
  for (size_t i = 0; i + 1 < data.size(); i += 2) {
    char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (c == 0) break;
    out.push_back(c);
  }
  return out;
}

uint32_t DwordOf(const RegBytes& data, bool bigEndian) {
  if (data.size() != 4) throw ERegistryException("invalid registry data size");
  if (bigEndian)
    return (static_cast<uint32_t>(data[0]) << 24) | (static_cast<uint32_t>(data[1]) << 16) |
           (static_cast<uint32_t>(data[2]) << 8) | data[3];
  return static_cast<uint32_t>(data[0]) | (static_cast<uint32_t>(data[1]) << 8) |
         (static_cast<uint32_t>(data[2]) << 16) | (static_cast<uint32_t>(data[3]) << 24);
}

// The value as GetValue types it; nullopt when the default is the answer.
std::optional<Variant> Typed(const RegValue& value, const Variant& def) {
  uint16_t defType = def.VarType();
  switch (value.Type) {
    case platform::REG_SZ:
    case platform::REG_EXPAND_SZ: {
      UnicodeString text = TextUpToZero(value.Data);
      if (defType == varSingle || defType == varDouble || defType == varCurrency) {
        try {
          return Variant(TqzConversion::StrToReal(platform::AnsiToWide(platform::WideToAnsi(text)), true, 0));
        } catch (const Exception&) {
          return std::nullopt;
        }
      }
      if (defType == varDate) return Variant::FromDate(RegistryTextToDate(platform::AnsiToWide(platform::WideToAnsi(text))));
      return Variant(text);
    }
    // A big-endian DWORD and a QWORD are numbers: read as the run of texts that every other
    // type takes they would give control characters, so they are read as the numbers they are.
    case platform::REG_DWORD:
    case platform::REG_DWORD_BIG_ENDIAN: {
      uint32_t d = DwordOf(value.Data, value.Type == platform::REG_DWORD_BIG_ENDIAN);
      if (defType == varBoolean) return Variant(d != 0);
      return Variant(static_cast<int32_t>(d));
    }
    case platform::REG_BINARY:
      return Variant::FromAnsi(AnsiString(value.Data.begin(), value.Data.end()));
    case platform::REG_QWORD: {
      if (value.Data.size() != 8) throw ERegistryException("invalid registry data size");
      uint64_t q = 0;
      for (int i = 7; i >= 0; --i) q = (q << 8) | value.Data[static_cast<size_t>(i)];
      return Variant(static_cast<int64_t>(q));
    }
    default: {
      if (value.Data.empty()) return std::nullopt;
      UnicodeString out, cur;
      for (size_t i = 0; i + 1 < value.Data.size(); i += 2) {
        char16_t c = static_cast<char16_t>(value.Data[i] | (value.Data[i + 1] << 8));
        if (c != 0) {
          cur.push_back(c);
          continue;
        }
        if (cur.empty()) break;
        out += cur + u"\r\n";
        cur.clear();
      }
      if (!cur.empty()) out += cur + u"\r\n";
      return Variant(out);
    }
  }
}

// The registry type and bytes SetValue stores for a Variant; raises when it cannot be stored.
RegValue Encode(const UnicodeString& name, const Variant& v) {
  RegValue out;
  out.Name = name;
  switch (v.VarType()) {
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64: {
      int64_t n = v.AsInt64();
      if (n < INT32_MIN || n > INT32_MAX) throw ERegistryException("value out of the 32-bit range");
      out.Type = platform::REG_DWORD;
      out.Data = platform::RegDwordBytes(static_cast<uint32_t>(static_cast<int32_t>(n)));
      return out;
    }
    case varSingle:
    case varDouble:
    case varCurrency:
      out.Type = platform::REG_SZ;
      out.Data = platform::RegSzBytes(platform::AnsiToWide(TqzConversion::RealToStr(v.AsDouble(), -1)));
      return out;
    case varDate:
      out.Type = platform::REG_SZ;
      out.Data = platform::RegSzBytes(DateToRegistryText(v.AsDateTime()));
      return out;
    case varBoolean:
      out.Type = platform::REG_DWORD;
      out.Data = platform::RegDwordBytes(v.AsBool() ? 1 : 0);
      return out;
    case varNull:
      throw ERegistryException("a Null value cannot be stored");
    default:
      out.Type = platform::REG_SZ;
      out.Data = platform::RegSzBytes(v.IsEmpty() ? UnicodeString() : v.AsString());
      return out;
  }
}

}  // namespace

Variant TqzRegistry::GetValue(HKEY MyRootKey, const UnicodeString& Key, const UnicodeString& Attribute,
                              const Variant& Default, bool CanCreate) {
  try {
    auto hive = Registry::Read(MyRootKey);
    const RegKey* key = Registry::Find(*hive, Key);
    if (!key) return Default;
    if (const RegValue* value = key->FindValue(Attribute)) {
      if (auto typed = Typed(*value, Default)) return *typed;
      return Default;
    }
    if (CanCreate) SetValue(MyRootKey, Key, Attribute, Default, false);
    return Default;
  } catch (...) {
    return Default;
  }
}

bool TqzRegistry::SetValue(HKEY MyRootKey, const UnicodeString& Key, const UnicodeString& Attribute,
                           const Variant& Value, bool Verify) {
  try {
    RegValue encoded = Encode(Attribute, Value);
    Registry::Modify(MyRootKey, [&](RegKey& root) {
      Registry::Create(root, Key).SetValue(encoded);
      return true;
    });
    if (Verify) {
      auto hive = Registry::Read(MyRootKey);
      const RegKey* key = Registry::Find(*hive, Key);
      const RegValue* back = key ? key->FindValue(Attribute) : nullptr;
      if (!back || back->Type != encoded.Type || back->Data != encoded.Data) throw Exception("verify exception");
    }
    return true;
  } catch (...) {
    return false;
  }
}

bool TqzRegistry::ValueExists(HKEY MyRootKey, const UnicodeString& Key, const UnicodeString& Attribute) {
  try {
    auto hive = Registry::Read(MyRootKey);
    const RegKey* key = Registry::Find(*hive, Key);
    return key && key->FindValue(Attribute);
  } catch (...) {
    return false;
  }
}

bool TqzRegistry::KeyExists(HKEY MyRootKey, const UnicodeString& Key) {
  try {
    auto hive = Registry::Read(MyRootKey);
    return Registry::Find(*hive, Key) != nullptr;
  } catch (...) {
    return false;
  }
}

bool TqzRegistry::DeleteValue(HKEY MyRootKey, const UnicodeString& Key, const UnicodeString& Attribute, bool Verify) {
  try {
    if (!KeyExists(MyRootKey, Key)) return true;
    bool deleted = Registry::Modify(MyRootKey, [&](RegKey& root) {
      RegKey* key = Registry::Find(root, Key);
      return key && key->DeleteValue(Attribute);
    });
    if (Verify) return !ValueExists(MyRootKey, Key, Attribute);
    return deleted;
  } catch (...) {
    return false;
  }
}

bool TqzRegistry::DeleteKey(HKEY MyRootKey, const UnicodeString& Key) {
  try {
    std::vector<UnicodeString> parts = platform::SplitKeyPath(Key);
    if (parts.empty()) return false;  // a root key cannot be deleted
    return Registry::Modify(MyRootKey, [&](RegKey& root) {
      RegKey* parent = &root;
      for (size_t i = 0; i + 1 < parts.size() && parent; ++i) parent = parent->FindSubKey(parts[i]);
      return parent && parent->DeleteSubKey(parts.back());
    });
  } catch (...) {
    return false;
  }
}

bool TqzRegistry::RenameKey(HKEY MyRootKey, const UnicodeString& OldKey, const UnicodeString& NewKey) {
  try {
    std::vector<UnicodeString> from = platform::SplitKeyPath(OldKey);
    std::vector<UnicodeString> to = platform::SplitKeyPath(NewKey);
    if (from.empty() || to.empty()) return false;
    // A key cannot move into its own subtree.
    if (to.size() >= from.size()) {
      bool inside = true;
      for (size_t i = 0; i < from.size() && inside; ++i) inside = platform::SameTextW(from[i], to[i]);
      if (inside) return false;
    }
    return Registry::Modify(MyRootKey, [&](RegKey& root) {
      RegKey* oldParent = &root;
      for (size_t i = 0; i + 1 < from.size() && oldParent; ++i) oldParent = oldParent->FindSubKey(from[i]);
      RegKey* old = oldParent ? oldParent->FindSubKey(from.back()) : nullptr;
      if (!old || Registry::Find(root, NewKey)) return false;
      auto copy = std::make_unique<RegKey>(*old);
      copy->Name = to.back();
      oldParent->DeleteSubKey(from.back());
      RegKey* newParent = &root;
      for (size_t i = 0; i + 1 < to.size(); ++i) newParent = &newParent->SubKey(to[i]);
      newParent->SubKeys[platform::UpperW(to.back())] = std::move(copy);
      return true;
    });
  } catch (...) {
    return false;
  }
}

namespace {

bool ListKey(HKEY root, const UnicodeString& Key, TStrings& List, bool CanCreate, bool values) {
  try {
    auto hive = Registry::Read(root);
    if (const RegKey* key = Registry::Find(*hive, Key)) {
      List.Clear();
      if (values) {
        for (const RegValue& v : key->Values) List.Add(v.Name);
      } else {
        for (const auto& [folded, sub] : key->SubKeys) List.Add(sub->Name);
      }
      return true;
    }
    if (!CanCreate) return false;
    Registry::Modify(root, [&](RegKey& r) {
      Registry::Create(r, Key);
      return true;
    });
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace

bool TqzRegistry::GetAttributes(HKEY MyRootKey, const UnicodeString& Key, TStrings& List, bool CanCreate) {
  return ListKey(MyRootKey, Key, List, CanCreate, true);
}

bool TqzRegistry::GetSubKeys(HKEY MyRootKey, const UnicodeString& Key, TStrings& List, bool CanCreate) {
  return ListKey(MyRootKey, Key, List, CanCreate, false);
}

bool TqzRegistry::ClassIDAvailable(const AnsiString& CLSID) {
  return KeyExists(HKEY_CLASSES_ROOT, u"CLSID\\" + platform::AnsiToWide(CLSID));
}

bool TqzRegistry::ClassIDAvailable(const TGUID& CLSID) {
  return ClassIDAvailable(AnsiString(platform::GuidToString(CLSID)));
}
