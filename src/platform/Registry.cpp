#include "Registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "CaseMap.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "FileIo.h"
#include "SysUtils.h"
#include "TextFile.h"

namespace platform {

// ---------------------------------------------------------------------------------------------
// Keys

RegKey::RegKey(const RegKey& other) : Name(other.Name), Values(other.Values) {
  for (const auto& [folded, key] : other.SubKeys) SubKeys.emplace(folded, std::make_unique<RegKey>(*key));
}

const RegValue* RegKey::FindValue(std::u16string_view name) const {
  for (const RegValue& v : Values)
    if (v.Name.size() == name.size() && SameTextW(v.Name, name)) return &v;
  return nullptr;
}

RegValue* RegKey::FindValue(std::u16string_view name) {
  return const_cast<RegValue*>(static_cast<const RegKey*>(this)->FindValue(name));
}

const RegKey* RegKey::FindSubKey(std::u16string_view name) const {
  auto it = SubKeys.find(UpperW(name));
  return it == SubKeys.end() ? nullptr : it->second.get();
}

RegKey* RegKey::FindSubKey(std::u16string_view name) {
  return const_cast<RegKey*>(static_cast<const RegKey*>(this)->FindSubKey(name));
}

RegKey& RegKey::SubKey(std::u16string_view name) {
  auto& slot = SubKeys[UpperW(name)];
  if (!slot) slot = std::make_unique<RegKey>(UnicodeString(name));
  return *slot;
}

void RegKey::SetValue(RegValue value) {
  if (RegValue* existing = FindValue(value.Name)) {
    existing->Type = value.Type;
    existing->Data = std::move(value.Data);
  } else {
    Values.push_back(std::move(value));
  }
}

bool RegKey::DeleteValue(std::u16string_view name) {
  for (auto it = Values.begin(); it != Values.end(); ++it)
    if (it->Name.size() == name.size() && SameTextW(it->Name, name)) {
      Values.erase(it);
      return true;
    }
  return false;
}

bool RegKey::DeleteSubKey(std::u16string_view name) { return SubKeys.erase(UpperW(name)) > 0; }

std::vector<UnicodeString> SplitKeyPath(std::u16string_view path) {
  std::vector<UnicodeString> parts;
  UnicodeString cur;
  for (char16_t c : path) {
    if (c == u'\\' || c == u'/') {
      if (!cur.empty()) parts.push_back(std::move(cur));
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) parts.push_back(std::move(cur));
  return parts;
}

// ---------------------------------------------------------------------------------------------
// Hive files

UnicodeString RootKeyName(RootKey root) {
  switch (root) {
    case RootKey::ClassesRoot: return u"HKEY_CLASSES_ROOT";
    case RootKey::CurrentUser: return u"HKEY_CURRENT_USER";
    case RootKey::LocalMachine: return u"HKEY_LOCAL_MACHINE";
  }
  return u"";
}

namespace {

const char* HiveFileName(RootKey root) {
  switch (root) {
    case RootKey::ClassesRoot: return "HKCR.reg";
    case RootKey::CurrentUser: return "HKCU.reg";
    case RootKey::LocalMachine: return "HKLM.reg";
  }
  throw ERegistryException("unknown registry root key");
}

UnicodeString ShortRootName(RootKey root) {
  switch (root) {
    case RootKey::ClassesRoot: return u"HKCR";
    case RootKey::CurrentUser: return u"HKCU";
    case RootKey::LocalMachine: return u"HKLM";
  }
  return u"";
}

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::string(v) : fallback;
}

}  // namespace

std::string HiveFilePath(RootKey root) {
  std::string file = HiveFileName(root);
  if (const char* dir = std::getenv("KESTA_REGISTRY_DIR"); dir && *dir) return std::string(dir) + "/" + file;
  if (root == RootKey::CurrentUser) {
    std::string config = EnvOr("XDG_CONFIG_HOME", EnvOr("HOME", "") + "/.config");
    return config + "/kesta/registry/" + file;
  }
  return "/etc/kesta/registry/" + file;
}

// ---------------------------------------------------------------------------------------------
// Parsing

namespace {

bool StartsWithText(std::u16string_view line, std::u16string_view prefix) {
  return line.size() >= prefix.size() && SameTextW(line.substr(0, prefix.size()), prefix);
}

class RegParser {
 public:
  RegParser(RootKey hive, RegKey& root, const std::string& fileName) : hive_(hive), root_(root), file_(fileName) {}

  void Parse(const std::string& bytes) {
    UnicodeString text = DecodeTextFileBytes(bytes, &hadBom_);
    std::vector<UnicodeString> lines = SplitTextLines(text);
    size_t i = 0;
    // The header is the first line that is not blank.
    while (i < lines.size() && Trim(lines[i]).empty()) ++i;
    if (i == lines.size()) {
      if (bytes.empty()) return;  // an empty file is an empty hive
      Fail(1, u"missing header");
    }
    UnicodeString header = Trim(lines[i]);
    if (header == u"Windows Registry Editor Version 5.00") {
      regedit4_ = false;
    } else if (header == u"REGEDIT4") {
      regedit4_ = true;
      if (!hadBom_) {  // REGEDIT4 files are in the ANSI code page
        text = AnsiToWide(bytes);
        lines = SplitTextLines(text);
      }
    } else {
      Fail(i + 1, u"unknown header \"" + header + u"\"");
    }
    ++i;
    for (; i < lines.size(); ++i) {
      size_t lineNo = i + 1;
      UnicodeString line = TrimLeft(lines[i]);
      if (line.empty() || line[0] == u';') continue;
      if (line[0] == u'[') {
        KeyLine(TrimRight(line), lineNo);
        continue;
      }
      // A value; hex data may continue on the following lines after a trailing backslash.
      UnicodeString logical = TrimRight(line);
      while (!logical.empty() && logical.back() == u'\\' && i + 1 < lines.size() && IsHexContinuation(logical)) {
        logical.pop_back();
        ++i;
        logical += Trim(lines[i]);
      }
      ValueLine(logical, lineNo);
    }
  }

 private:
  [[noreturn]] void Fail(size_t line, const UnicodeString& reason) {
    throw ERegistryException(Utf8ToWide(file_) + u" line " + ToU16(std::to_string(line)) + u": " + reason);
  }

  // A trailing backslash continues the line only in hex data ("...=hex:01,02,\").
  static bool IsHexContinuation(const UnicodeString& logical) {
    size_t eq = logical.find(u"=hex");
    if (eq == UnicodeString::npos) eq = logical.find(u"= hex");
    return eq != UnicodeString::npos;
  }

  void KeyLine(const UnicodeString& line, size_t lineNo) {
    if (line.size() < 2 || line.back() != u']') Fail(lineNo, u"key line without closing \"]\"");
    UnicodeString body = line.substr(1, line.size() - 2);
    bool remove = !body.empty() && body[0] == u'-';
    if (remove) body.erase(0, 1);
    std::vector<UnicodeString> parts = SplitKeyPath(body);
    if (parts.empty()) Fail(lineNo, u"empty key name");
    if (!SameTextW(parts[0], RootKeyName(hive_)) && !SameTextW(parts[0], ShortRootName(hive_)))
      Fail(lineNo, u"key \"" + body + u"\" does not belong to " + RootKeyName(hive_));
    if (remove) {
      current_ = nullptr;
      if (parts.size() == 1) {
        root_.Values.clear();
        root_.SubKeys.clear();
        return;
      }
      RegKey* parent = &root_;
      for (size_t k = 1; k + 1 < parts.size() && parent; ++k) parent = parent->FindSubKey(parts[k]);
      if (parent) parent->DeleteSubKey(parts.back());
      return;
    }
    RegKey* key = &root_;
    for (size_t k = 1; k < parts.size(); ++k) key = &key->SubKey(parts[k]);
    current_ = key;
  }

  // Reads a quoted text starting at pos (on the opening quote); pos ends after the closing quote.
  UnicodeString Quoted(const UnicodeString& line, size_t& pos, size_t lineNo) {
    UnicodeString out;
    ++pos;
    while (pos < line.size()) {
      char16_t c = line[pos++];
      if (c == u'"') return out;
      if (c == u'\\' && pos < line.size() && (line[pos] == u'\\' || line[pos] == u'"')) {
        out.push_back(line[pos++]);
        continue;
      }
      out.push_back(c);
    }
    Fail(lineNo, u"missing closing quote");
  }

  static void SkipBlanks(const UnicodeString& line, size_t& pos) {
    while (pos < line.size() && (line[pos] == u' ' || line[pos] == u'\t')) ++pos;
  }

  RegBytes HexList(std::u16string_view s, size_t lineNo) {
    RegBytes out;
    size_t i = 0;
    auto blanks = [&] {
      while (i < s.size() && (s[i] == u' ' || s[i] == u'\t')) ++i;
    };
    blanks();
    while (i < s.size()) {
      int value = 0, digits = 0;
      while (i < s.size() && HexDigitValue(s[i]) >= 0) {
        value = value * 16 + HexDigitValue(s[i++]);
        if (++digits > 2) Fail(lineNo, u"hex byte with more than two digits");
      }
      if (digits == 0) Fail(lineNo, u"invalid hex data");
      out.push_back(static_cast<uint8_t>(value));
      blanks();
      if (i == s.size()) break;
      if (s[i] != u',') Fail(lineNo, u"invalid hex data");
      ++i;
      blanks();
    }
    return out;
  }

  void ValueLine(const UnicodeString& line, size_t lineNo) {
    if (!current_) Fail(lineNo, u"value outside a key");
    size_t pos = 0;
    UnicodeString name;
    if (line[0] == u'@') {
      pos = 1;
    } else if (line[0] == u'"') {
      name = Quoted(line, pos, lineNo);
    } else {
      Fail(lineNo, u"unexpected text \"" + line + u"\"");
    }
    SkipBlanks(line, pos);
    if (pos >= line.size() || line[pos] != u'=') Fail(lineNo, u"missing \"=\"");
    ++pos;
    SkipBlanks(line, pos);
    std::u16string_view data = std::u16string_view(line).substr(pos);
    RegValue value;
    value.Name = name;
    if (data == u"-") {
      current_->DeleteValue(name);
      return;
    }
    if (!data.empty() && data[0] == u'"') {
      UnicodeString text = Quoted(line, pos, lineNo);
      SkipBlanks(line, pos);
      if (pos != line.size()) Fail(lineNo, u"text after the closing quote");
      value.Type = REG_SZ;
      value.Data = RegSzBytes(text);
    } else if (StartsWithText(data, u"dword:")) {
      std::u16string_view digits = data.substr(6);
      while (!digits.empty() && (digits.back() == u' ' || digits.back() == u'\t')) digits.remove_suffix(1);
      if (digits.empty() || digits.size() > 8) Fail(lineNo, u"invalid dword value");
      uint32_t v = 0;
      for (char16_t c : digits) {
        int d = HexDigitValue(c);
        if (d < 0) Fail(lineNo, u"invalid dword value");
        v = v * 16 + static_cast<uint32_t>(d);
      }
      value.Type = REG_DWORD;
      value.Data = RegDwordBytes(v);
    } else if (StartsWithText(data, u"hex:")) {
      value.Type = REG_BINARY;
      value.Data = HexList(data.substr(4), lineNo);
    } else if (StartsWithText(data, u"hex(")) {
      size_t close = data.find(u')');
      if (close == std::u16string_view::npos || close == 4 || close > 12 || close + 1 >= data.size() ||
          data[close + 1] != u':')
        Fail(lineNo, u"invalid hex(N) type");
      uint64_t type = 0;
      for (char16_t c : data.substr(4, close - 4)) {
        int d = HexDigitValue(c);
        if (d < 0) Fail(lineNo, u"invalid hex(N) type");
        type = type * 16 + static_cast<uint64_t>(d);
      }
      if (type > 0xFFFFFFFFu) Fail(lineNo, u"invalid hex(N) type");
      value.Type = static_cast<uint32_t>(type);
      value.Data = HexList(data.substr(close + 2), lineNo);
      // REGEDIT4 keeps the texts of these types as 8-bit characters; Windows keeps UTF-16.
      if (regedit4_ && (value.Type == REG_SZ || value.Type == REG_EXPAND_SZ || value.Type == REG_MULTI_SZ)) {
        UnicodeString wide = AnsiToWide(std::string(value.Data.begin(), value.Data.end()));
        value.Data.clear();
        for (char16_t c : wide) {
          value.Data.push_back(static_cast<uint8_t>(c & 0xFF));
          value.Data.push_back(static_cast<uint8_t>(c >> 8));
        }
      }
    } else {
      Fail(lineNo, u"unknown value data \"" + UnicodeString(data) + u"\"");
    }
    current_->SetValue(std::move(value));
  }

  RootKey hive_;
  RegKey& root_;
  std::string file_;
  RegKey* current_ = nullptr;
  bool regedit4_ = false;
  bool hadBom_ = false;
};

// ---------------------------------------------------------------------------------------------
// Writing

std::string EscapeQuoted(std::u16string_view text) {
  UnicodeString out;
  out.reserve(text.size() + 2);
  out.push_back(u'"');
  for (char16_t c : text) {
    if (c == u'\\' || c == u'"') out.push_back(u'\\');
    out.push_back(c);
  }
  out.push_back(u'"');
  return WideToUtf8(out);
}

// REG_SZ data that regedit can write as a quoted text: UTF-16 with exactly one terminating zero
// at the end and no control characters (line breaks would break the line format).
bool PlainText(const RegBytes& data, UnicodeString& text) {
  if (data.size() < 2 || data.size() % 2 != 0) return false;
  size_t n = data.size() / 2 - 1;
  if (data[2 * n] != 0 || data[2 * n + 1] != 0) return false;
  text.clear();
  for (size_t i = 0; i < n; ++i) {
    char16_t c = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    if (c < 0x20 || c == 0x7F) return false;
    text.push_back(c);
  }
  // Unpaired surrogates would not survive UTF-8.
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

void WriteHex(std::string& out, std::string prefix, const RegBytes& data) {
  static const char* digits = "0123456789abcdef";
  std::string line = std::move(prefix);
  for (size_t i = 0; i < data.size(); ++i) {
    line.push_back(digits[data[i] >> 4]);
    line.push_back(digits[data[i] & 15]);
    if (i + 1 < data.size()) {
      line.push_back(',');
      if (line.size() > 76) {
        out += line;
        out += "\\\n";
        line = "  ";
      }
    }
  }
  out += line;
  out += "\n";
}

// Names are written on one line: a line break in one cannot be stored in the file format.
void CheckName(std::u16string_view name) {
  for (char16_t c : name)
    if (c == u'\r' || c == u'\n' || c == 0)
      throw ERegistryException(u"a registry name cannot hold line breaks or zero characters: \"" + UnicodeString(name) + u"\"");
}

void WriteValue(std::string& out, const RegValue& v) {
  CheckName(v.Name);
  std::string name = v.Name.empty() ? std::string("@") : EscapeQuoted(v.Name);
  UnicodeString text;
  if (v.Type == REG_SZ && PlainText(v.Data, text)) {
    out += name + "=" + EscapeQuoted(text) + "\n";
  } else if (v.Type == REG_DWORD && v.Data.size() == 4) {
    uint32_t d = static_cast<uint32_t>(v.Data[0]) | (static_cast<uint32_t>(v.Data[1]) << 8) |
                 (static_cast<uint32_t>(v.Data[2]) << 16) | (static_cast<uint32_t>(v.Data[3]) << 24);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08x", d);
    out += name + "=dword:" + buf + "\n";
  } else if (v.Type == REG_BINARY) {
    WriteHex(out, name + "=hex:", v.Data);
  } else {
    char buf[24];
    std::snprintf(buf, sizeof buf, "=hex(%x):", v.Type);
    WriteHex(out, name + buf, v.Data);
  }
}

void WriteKey(std::string& out, const RegKey& key, const UnicodeString& path, bool isRoot) {
  if (!isRoot || !key.Values.empty()) {
    out += "[" + WideToUtf8(path) + "]\n";
    for (const RegValue& v : key.Values) WriteValue(out, v);
    out += "\n";
  }
  for (const auto& [folded, sub] : key.SubKeys) {
    CheckName(sub->Name);
    WriteKey(out, *sub, path + u"\\" + sub->Name, false);
  }
}

}  // namespace

void ParseRegFile(const std::string& bytes, RootKey hive, RegKey& root, const std::string& fileName) {
  RegParser(hive, root, fileName).Parse(bytes);
}

std::string WriteRegFile(const RegKey& root, RootKey hive) {
  std::string out = "Windows Registry Editor Version 5.00\n\n";
  WriteKey(out, root, RootKeyName(hive), true);
  return out;
}

// ---------------------------------------------------------------------------------------------
// Cache and file access

namespace {

struct FileIdentity {
  dev_t Dev = 0;
  ino_t Ino = 0;
  off_t Size = 0;
  timespec MTime{};
  timespec CTime{};
  bool operator==(const FileIdentity& o) const {
    return Dev == o.Dev && Ino == o.Ino && Size == o.Size && MTime.tv_sec == o.MTime.tv_sec &&
           MTime.tv_nsec == o.MTime.tv_nsec && CTime.tv_sec == o.CTime.tv_sec && CTime.tv_nsec == o.CTime.tv_nsec;
  }
};

FileIdentity IdentityOf(const struct stat& st) {
  return FileIdentity{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

struct CacheEntry {
  bool Missing = false;
  FileIdentity Id;
  std::shared_ptr<const RegKey> Tree;
};

std::mutex& CacheMutex() {
  static std::mutex m;
  return m;
}

std::map<std::string, CacheEntry>& Cache() {
  static std::map<std::string, CacheEntry> c;
  return c;
}

[[noreturn]] void FailIo(const std::string& what, const std::string& path) {
  int err = errno;
  throw ERegistryException(Utf8ToWide(what + " \"" + path + "\": " + std::strerror(err)));
}

// The hive as it is in its file now (from the cache when the file did not change).
std::shared_ptr<const RegKey> LoadHive(RootKey root, const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      std::lock_guard lock(CacheMutex());
      CacheEntry& e = Cache()[path];
      if (!e.Missing || !e.Tree) {
        e.Missing = true;
        e.Tree = std::make_shared<const RegKey>(RootKeyName(root));
      }
      return e.Tree;
    }
    FailIo("cannot open registry file", path);
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) FailIo("cannot read registry file", path);
  FileIdentity id = IdentityOf(st);
  {
    std::lock_guard lock(CacheMutex());
    auto it = Cache().find(path);
    if (it != Cache().end() && !it->second.Missing && it->second.Id == id && it->second.Tree) return it->second.Tree;
  }
  std::string bytes;
  bytes.resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t r = ::pread(fd.get(), bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (r < 0) {
      if (errno == EINTR) continue;
      FailIo("cannot read registry file", path);
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  bytes.resize(done);
  auto tree = std::make_shared<RegKey>(RootKeyName(root));
  ParseRegFile(bytes, root, *tree, path);
  std::lock_guard lock(CacheMutex());
  Cache()[path] = CacheEntry{false, id, tree};
  return tree;
}

}  // namespace

std::shared_ptr<const RegKey> Registry::Read(RootKey root) { return LoadHive(root, HiveFilePath(root)); }

bool Registry::Modify(RootKey root, const std::function<bool(RegKey&)>& change) {
  std::string path = HiveFilePath(root);
  std::filesystem::path dir = std::filesystem::path(path).parent_path();
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) throw ERegistryException(Utf8ToWide("cannot create registry folder \"" + dir.string() + "\": " + ec.message()));

  std::string lockPath = path + ".lock";
  UniqueFd lockFd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (lockFd.get() < 0) FailIo("cannot open registry lock", lockPath);
  while (::flock(lockFd.get(), LOCK_EX) != 0) {
    if (errno != EINTR) FailIo("cannot lock registry", lockPath);
  }
  // Under the lock the file on disk is the truth: a cached tree is used only when it is current.
  std::shared_ptr<const RegKey> current = LoadHive(root, path);
  auto work = std::make_shared<RegKey>(*current);
  if (!change(*work)) return false;

  std::string text = WriteRegFile(*work, root);
  mode_t mode = 0644;
  struct stat old {};
  if (::stat(path.c_str(), &old) == 0) mode = old.st_mode & 07777;
  struct stat st {};
  if (int err = ReplaceFileContent(path, text, mode, false, &st)) {
    errno = err;
    FailIo("cannot write registry file", path);
  }
  // The renamed file keeps its inode, size and times: cache the tree we wrote under them.
  std::lock_guard lock(CacheMutex());
  Cache()[path] = CacheEntry{false, IdentityOf(st), work};
  return true;
}

const RegKey* Registry::Find(const RegKey& hiveRoot, std::u16string_view path) {
  const RegKey* key = &hiveRoot;
  for (const UnicodeString& part : SplitKeyPath(path)) {
    key = key->FindSubKey(part);
    if (!key) return nullptr;
  }
  return key;
}

RegKey* Registry::Find(RegKey& hiveRoot, std::u16string_view path) {
  return const_cast<RegKey*>(Find(static_cast<const RegKey&>(hiveRoot), path));
}

RegKey& Registry::Create(RegKey& hiveRoot, std::u16string_view path) {
  RegKey* key = &hiveRoot;
  for (const UnicodeString& part : SplitKeyPath(path)) key = &key->SubKey(part);
  return *key;
}

void Registry::ClearCache() {
  std::lock_guard lock(CacheMutex());
  Cache().clear();
}

// ---------------------------------------------------------------------------------------------

RegBytes RegSzBytes(std::u16string_view text) {
  RegBytes out;
  out.reserve(text.size() * 2 + 2);
  for (char16_t c : text) {
    out.push_back(static_cast<uint8_t>(c & 0xFF));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

RegBytes RegDwordBytes(uint32_t value) {
  return RegBytes{static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
                  static_cast<uint8_t>(value >> 24)};
}

RegBytes RegQwordBytes(uint64_t value) {
  RegBytes out(8);
  for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
  return out;
}

RegBytes RegMultiSzBytes(const std::vector<UnicodeString>& texts) {
  RegBytes out;
  for (const UnicodeString& t : texts) {
    RegBytes one = RegSzBytes(t);
    out.insert(out.end(), one.begin(), one.end());
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

}  // namespace platform
