// TqzRegistry: single named registry values read and written as Variants, existence tests,
// deletion, renaming and listing of keys. Every call opens its own access to the registry
// (src/platform/Registry.h: file-backed hives) and keeps nothing; no operation raises.
//
// Reading (GetValue) types the result by the value found, and for texts and 32-bit numbers by
// the default's type: a text read with a Single/Double/Currency default becomes a Double, with a
// Date default a Date (formats "yyyy-mm-dd", "dd.mm.yyyy" and the process's short date format,
// each optionally followed by a time "hh:nn:ss[.zzz]"), otherwise a UTF-16 string; a DWORD is an
// Integer, or a Boolean with a Boolean default (a big-endian DWORD too); binary data an 8-bit
// string; a QWORD an Int64 (numbers are not read as texts);
// every other type the run of zero-terminated texts, each followed by CR LF.
//
// Writing (SetValue) stores integers as REG_DWORD (signed 32-bit range only), reals as REG_SZ in
// the 23-character scientific form, dates as REG_SZ "yyyy-mm-dd" with " hh:nn:ss" (and ".zzz")
// appended when the date has a time of day, Booleans as REG_DWORD 1/0 and everything else as
// REG_SZ text. With Verify the stored type and bytes are read back from the hive file and compared.
//
// Operations report False when nothing happened: RenameKey onto an existing key or from a missing
// one, GetAttributes/GetSubKeys on a missing key without CanCreate.
#pragma once

#include <cstdint>

#include "Guid.h"
#include "Registry.h"
#include "StringList.h"
#include "Text.h"
#include "Variant.h"

using HKEY = platform::RootKey;
inline constexpr HKEY HKEY_CLASSES_ROOT = platform::RootKey::ClassesRoot;
inline constexpr HKEY HKEY_CURRENT_USER = platform::RootKey::CurrentUser;
inline constexpr HKEY HKEY_LOCAL_MACHINE = platform::RootKey::LocalMachine;

class TqzRegistry {
 public:
  TqzRegistry() = delete;

  static Variant GetValue(HKEY MyRootKey, const UnicodeString& Key, const UnicodeString& Attribute,
                          const Variant& Default, bool CanCreate);
  static bool SetValue(HKEY MyRootKey, const UnicodeString& Key, const UnicodeString& Attribute,
                       const Variant& Value, bool Verify);
  static bool ValueExists(HKEY MyRootKey, const UnicodeString& Key, const UnicodeString& Attribute);
  static bool KeyExists(HKEY MyRootKey, const UnicodeString& Key);
  static bool DeleteValue(HKEY MyRootKey, const UnicodeString& Key, const UnicodeString& Attribute, bool Verify);
  static bool DeleteKey(HKEY MyRootKey, const UnicodeString& Key);
  static bool RenameKey(HKEY MyRootKey, const UnicodeString& OldKey, const UnicodeString& NewKey);
  static bool GetAttributes(HKEY MyRootKey, const UnicodeString& Key, TStrings& List, bool CanCreate);
  static bool GetSubKeys(HKEY MyRootKey, const UnicodeString& Key, TStrings& List, bool CanCreate);
  static bool ClassIDAvailable(const AnsiString& CLSID);
  static bool ClassIDAvailable(const TGUID& CLSID);
};
