#include "Registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
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

// Copying and freeing walk the tree with a stack of their own: a chain of keys as deep as a file
// can describe must not exhaust the call stack.
RegKey::RegKey(const RegKey& other) : Name(other.Name), Values(other.Values) {
  std::vector<std::pair<const RegKey*, RegKey*>> pending{{&other, this}};
  while (!pending.empty()) {
    auto [from, to] = pending.back();
    pending.pop_back();
    for (const auto& [folded, key] : from->SubKeys) {
      auto copy = std::make_unique<RegKey>(key->Name);
      copy->Values = key->Values;
      pending.emplace_back(key.get(), copy.get());
      to->SubKeys.emplace(folded, std::move(copy));
    }
  }
}

RegKey::~RegKey() {
  std::vector<std::unique_ptr<RegKey>> pending;
  for (auto& [folded, key] : SubKeys) pending.push_back(std::move(key));
  while (!pending.empty()) {
    std::unique_ptr<RegKey> key = std::move(pending.back());
    pending.pop_back();
    for (auto& [folded, sub] : key->SubKeys) pending.push_back(std::move(sub));
    key->SubKeys.clear();  // only empty slots left: the key dies without recursing
  }
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
    if (c == u'\\') {
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

// $HOME, else the home folder the user database names for this user.
std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  std::vector<char> buf(16384);
  struct passwd pw {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir && *found->pw_dir)
    return found->pw_dir;
  throw ERegistryException("cannot find the home folder for the user hive: HOME is not set and the user database has none");
}

}  // namespace

std::string HiveFilePath(RootKey root) {
  std::string file = HiveFileName(root);
  if (const char* dir = std::getenv("KESTA_REGISTRY_DIR"); dir && *dir) return std::string(dir) + "/" + file;
  if (root == RootKey::CurrentUser) {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string config = xdg && *xdg ? std::string(xdg) : HomeFolder() + "/.config";
    return config + "/kesta/registry/" + file;
  }
  return "/etc/kesta/registry/" + file;
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
  std::shared_ptr<const RegFileLayout> Layout;  // how the file is laid out; empty when missing
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

// Parses a hive file's bytes into a cache entry.
CacheEntry ParseHive(RootKey root, const std::string& path, const std::string& bytes, const FileIdentity& id) {
  auto tree = std::make_shared<RegKey>(RootKeyName(root));
  auto layout = std::make_shared<RegFileLayout>();
  ParseRegFile(bytes, root, *tree, path, layout.get());
  return CacheEntry{false, id, std::move(tree), std::move(layout)};
}

// The hive as it is in its file now (from the cache when the file did not change).
CacheEntry LoadHive(RootKey root, const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      std::lock_guard lock(CacheMutex());
      CacheEntry& e = Cache()[path];
      if (!e.Missing || !e.Tree) e = CacheEntry{true, {}, std::make_shared<const RegKey>(RootKeyName(root)),
                                                std::make_shared<const RegFileLayout>()};
      return e;
    }
    FailIo("cannot open registry file", path);
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) FailIo("cannot read registry file", path);
  FileIdentity id = IdentityOf(st);
  {
    std::lock_guard lock(CacheMutex());
    auto it = Cache().find(path);
    if (it != Cache().end() && !it->second.Missing && it->second.Id == id && it->second.Tree) return it->second;
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
  CacheEntry entry = ParseHive(root, path, bytes, id);
  std::lock_guard lock(CacheMutex());
  Cache()[path] = entry;
  return entry;
}

// Removes the temporary files ("HKLM.reg.tmp<pid>-<n>") that writers killed between writing and
// renaming left beside the hive. Runs under the hive's lock, so no live writer owns one.
void RemoveStaleTemporaries(const std::string& path) {
  const std::filesystem::path hive(path);
  const std::string prefix = hive.filename().string() + ".tmp";
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(hive.parent_path(), ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string rest = name.substr(prefix.size());
    if (rest.find_first_not_of("0123456789-") != std::string::npos) continue;
    std::error_code ignored;
    std::filesystem::remove(entry.path(), ignored);
  }
}

}  // namespace

std::shared_ptr<const RegKey> Registry::Read(RootKey root) { return LoadHive(root, HiveFilePath(root)).Tree; }

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
  RemoveStaleTemporaries(path);
  // Under the lock the file on disk is the truth: a cached tree is used only when it is current.
  CacheEntry current = LoadHive(root, path);
  auto work = std::make_shared<RegKey>(*current.Tree);
  if (!change(*work)) return false;

  std::string text = RewriteRegFile(*current.Layout, *current.Tree, *work, root);
  mode_t mode = 0644;
  struct stat old {};
  if (::stat(path.c_str(), &old) == 0) mode = old.st_mode & 07777;
  struct stat st {};
  if (int err = ReplaceFileContent(path, text, mode, false, &st)) {
    errno = err;
    FailIo("cannot write registry file", path);
  }
  // The renamed file keeps its inode, size and times: cache what we wrote under them.
  CacheEntry written = ParseHive(root, path, text, IdentityOf(st));
  std::lock_guard lock(CacheMutex());
  Cache()[path] = std::move(written);
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
  std::vector<UnicodeString> parts = SplitKeyPath(path);
  if (parts.size() > kMaxKeyDepth)
    throw ERegistryException(u"key path deeper than " + ToU16(std::to_string(kMaxKeyDepth)) + u" levels");
  RegKey* key = &hiveRoot;
  for (const UnicodeString& part : parts) key = &key->SubKey(part);
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
