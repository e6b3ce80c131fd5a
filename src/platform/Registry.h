// The registry: file-backed hives in the Windows ".reg" text format.
//
// Each root key is one hive file: HKLM.reg (HKEY_LOCAL_MACHINE), HKCU.reg (HKEY_CURRENT_USER)
// and HKCR.reg (HKEY_CLASSES_ROOT). The folder is $KESTA_REGISTRY_DIR when that is set (tests),
// else /etc/kesta/registry for the machine and classes hives and $XDG_CONFIG_HOME/kesta/registry
// (default ~/.config/kesta/registry, the home folder taken from $HOME or, without it, from the
// user database) for the user hive. A hive file that does not exist is an empty hive; a
// malformed file raises ERegistryException naming the file and the line.
// HKEY_CLASSES_ROOT is a hive of its own here, not a merged view of the machine and user classes.
//
// Files are read in "Windows Registry Editor Version 5.00" (UTF-16 with byte-order mark, UTF-8,
// or ANSI) and "REGEDIT4" (Windows-1252) form. A new hive file is written as version 5.00 in
// UTF-8 with LF line ends. A write to an existing file changes only the lines of what changed:
// the file keeps its encoding, its line ends, its comments and the order of its keys and values;
// changed values are rewritten where they stand, new values follow the last value of their key,
// new keys follow the key before them in alphabetical order, deleted keys lose their section.
// Files that delete keys or values themselves ("[-key]", "name"=-) or name one key or value
// twice are written anew as a whole, still in their encoding and line ends.
// Every value keeps its registry type and its raw bytes as Windows keeps them: REG_SZ and
// REG_EXPAND_SZ as UTF-16LE with a terminating zero, REG_DWORD as 4 little-endian bytes,
// REG_MULTI_SZ as zero-terminated UTF-16LE texts ended by an empty one, and so on; types without
// a text form of their own are written as hex(N). Key and value names are compared ignoring case
// and keep the case they were created with. Subkeys enumerate in alphabetical order (ignoring
// case), values in the order they were created, as Windows does. A key or value name holding a
// line break or a zero character cannot be written in this format and is refused. Key paths
// deeper than 512 levels (Windows' own limit) are refused; trees are freed, copied and written
// without recursion, so no depth can exhaust the stack.
//
// Writers take an exclusive flock on "<hive file>.lock" (HKLM.reg.lock) beside the hive file, re-read the file when it
// changed since it was cached, apply the change, write a temporary file and rename it over the
// hive, so readers (which take no lock) always see a whole file, and two processes writing one
// hive lose nothing. A temporary file that a killed writer left behind is removed by the next
// write. Parsed hives are cached per process, keyed by the file's identity and time
// (device, inode, size, modification time), so a read parses only when the file changed.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Text.h"

namespace platform {

enum class RootKey : uint32_t {
  ClassesRoot = 0x80000000u,
  CurrentUser = 0x80000001u,
  LocalMachine = 0x80000002u,
};

// Registry value types.
enum : uint32_t {
  REG_NONE = 0,
  REG_SZ = 1,
  REG_EXPAND_SZ = 2,
  REG_BINARY = 3,
  REG_DWORD = 4,
  REG_DWORD_BIG_ENDIAN = 5,
  REG_LINK = 6,
  REG_MULTI_SZ = 7,
  REG_RESOURCE_LIST = 8,
  REG_FULL_RESOURCE_DESCRIPTOR = 9,
  REG_RESOURCE_REQUIREMENTS_LIST = 10,
  REG_QWORD = 11,
};

using RegBytes = std::vector<uint8_t>;

struct RegValue {
  UnicodeString Name;  // empty: the key's default value ("@" in .reg files)
  uint32_t Type = REG_NONE;
  RegBytes Data;
};

// One key with its values and subkeys.
class RegKey {
 public:
  UnicodeString Name;  // as created
  std::vector<RegValue> Values;
  // Subkeys by upper-cased name (enumeration order is alphabetical ignoring case).
  std::map<UnicodeString, std::unique_ptr<RegKey>> SubKeys;

  RegKey() = default;
  explicit RegKey(UnicodeString name) : Name(std::move(name)) {}
  RegKey(const RegKey& other);  // deep copy, without recursion
  RegKey& operator=(const RegKey&) = delete;
  ~RegKey();                     // frees the subtree without recursion

  const RegValue* FindValue(std::u16string_view name) const;
  RegValue* FindValue(std::u16string_view name);
  const RegKey* FindSubKey(std::u16string_view name) const;
  RegKey* FindSubKey(std::u16string_view name);
  // The subkey, created when missing.
  RegKey& SubKey(std::u16string_view name);
  void SetValue(RegValue value);
  bool DeleteValue(std::u16string_view name);
  bool DeleteSubKey(std::u16string_view name);  // with its whole subtree
};

// A key path split into its names: only backslashes separate ("/" is an ordinary character of
// a key name, as in "application/pdf"), empty names are dropped ("SOFTWARE\kesta\System\"
// gives SOFTWARE, kesta, System).
std::vector<UnicodeString> SplitKeyPath(std::u16string_view path);

// ---------------------------------------------------------------------------------------------
// Hive files.

// "HKEY_LOCAL_MACHINE" and so on.
UnicodeString RootKeyName(RootKey root);
// The file that holds a hive, as the environment says at this moment.
std::string HiveFilePath(RootKey root);

// The deepest key path below a root that the registry holds.
inline constexpr size_t kMaxKeyDepth = 512;

// How a hive file is laid out, so that a write can keep every line it does not change.
struct RegFileLayout {
  enum class Encoding { Utf8, Utf8Bom, Utf16Le, Utf16Be, Ansi };
  Encoding TextEncoding = Encoding::Utf8;
  UnicodeString LineEnd = u"\n";  // the file's first line end
  bool EndsWithLineEnd = true;
  bool Regedit4 = false;
  // False when the file deletes keys or values or names one key or value twice: its lines do not
  // map one to one onto the tree, and a write writes the hive anew.
  bool Preservable = true;
  std::vector<UnicodeString> Lines;
  struct ValueLines {
    UnicodeString Name;
    size_t First = 0, Last = 0;  // line indexes, continuation lines included
  };
  struct Section {
    UnicodeString Path;  // upper-cased names below the root joined by "\"; empty for the root
    size_t Header = 0;   // the "[...]" line
    size_t End = 0;      // one past the section's last line (the next header or the end)
    std::vector<ValueLines> Values;
  };
  std::vector<Section> Sections;
};

// Parses the text of a .reg file into `root` (the hive's root key), and its layout into `layout`
// when given. `fileName` names the file in messages. Raises
// ERegistryException("<file> line <n>: <reason>") for malformed input.
void ParseRegFile(const std::string& bytes, RootKey hive, RegKey& root, const std::string& fileName,
                  RegFileLayout* layout = nullptr);
// The version 5.00 text (UTF-8, LF) of a hive.
std::string WriteRegFile(const RegKey& root, RootKey hive);
// The text of a hive file laid out as `layout` (parsed into `before`) after the tree became
// `after`: unchanged lines stay as they are, in the file's encoding and line ends.
std::string RewriteRegFile(const RegFileLayout& layout, const RegKey& before, const RegKey& after, RootKey hive);

// ---------------------------------------------------------------------------------------------
// Access. Reads see a snapshot of the hive; writes run `change` on the current tree under the
// hive's lock and store the result. `change` returns false to leave the hive untouched (nothing
// is written). Both raise ERegistryException for unreadable or malformed hive files and for
// files that cannot be written.

class Registry {
 public:
  static std::shared_ptr<const RegKey> Read(RootKey root);
  static bool Modify(RootKey root, const std::function<bool(RegKey& hiveRoot)>& change);

  // The key at `path` in a tree, or nullptr.
  static const RegKey* Find(const RegKey& hiveRoot, std::u16string_view path);
  static RegKey* Find(RegKey& hiveRoot, std::u16string_view path);
  // The key at `path`, created with every missing key on its way. Raises ERegistryException
  // for a path deeper than kMaxKeyDepth.
  static RegKey& Create(RegKey& hiveRoot, std::u16string_view path);

  // Forgets every cached hive (tests that switch KESTA_REGISTRY_DIR need not call it: the cache
  // is keyed by the file path too).
  static void ClearCache();
};

// Value data helpers.
RegBytes RegSzBytes(std::u16string_view text);            // UTF-16LE with terminating zero
RegBytes RegDwordBytes(uint32_t value);
RegBytes RegQwordBytes(uint64_t value);
RegBytes RegMultiSzBytes(const std::vector<UnicodeString>& texts);

}  // namespace platform
