#include "Batch.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include <unistd.h>

#include "CodePage.h"
#include "FileIo.h"
#include "SysUtils.h"
#include "TextFile.h"

namespace fs = std::filesystem;

namespace kqfexport {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string AsciiLower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The entries of a folder; false with `error` when it cannot be read.
bool ListFolder(const fs::path& folder, std::vector<fs::directory_entry>& entries, std::string& error) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec), end;
  for (; !ec && it != end; it.increment(ec)) entries.push_back(*it);
  if (ec) {
    error = "cannot read the folder " + folder.string() + ": " + ec.message();
    return false;
  }
  return true;
}

void SortNatural(std::vector<fs::path>& paths) {
  std::sort(paths.begin(), paths.end(), [](const fs::path& a, const fs::path& b) {
    return NaturalLess(a.filename().string(), b.filename().string());
  });
}

// The lines of UTF-8 bytes; a line ends at CR, LF or CR LF.
std::vector<std::string> SplitByteLines(const std::string& bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\r' && bytes[i] != '\n') continue;
    lines.push_back(bytes.substr(start, i - start));
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < bytes.size()) lines.push_back(bytes.substr(start));
  return lines;
}

bool HasUnpairedSurrogate(const std::u16string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] >= 0xD800 && s[i] <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      ++i;
    } else if (s[i] >= 0xD800 && s[i] <= 0xDFFF) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool ReadBytes(const fs::path& path, std::string& bytes, std::string& error) {
  platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  bytes.clear();
  if (fd.ok()) {
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
      if (n > 0) {
        bytes.append(buffer, static_cast<size_t>(n));
      } else if (n == 0) {
        return true;
      } else if (errno != EINTR) {
        break;
      }
    }
  }
  error = "cannot read " + path.string() + ": " + std::strerror(errno);
  return false;
}

bool NaturalLess(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      size_t ie = i, je = j;
      while (ie < a.size() && IsDigit(a[ie])) ++ie;
      while (je < b.size() && IsDigit(b[je])) ++je;
      // The numbers without leading zeros: the longer one is the greater, equal lengths compare
      // digit by digit (no overflow however long the run).
      size_t is = i, js = j;
      while (is + 1 < ie && a[is] == '0') ++is;
      while (js + 1 < je && b[js] == '0') ++js;
      if (ie - is != je - js) return ie - is < je - js;
      const int c = a.compare(is, ie - is, b, js, je - js);
      if (c != 0) return c < 0;
      i = ie;
      j = je;
    } else {
      if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
      ++i;
      ++j;
    }
  }
  if (i < a.size() || j < b.size()) return j < b.size();
  return a < b;
}

bool IsIgnoredFile(const std::string& name) {
  if (name.empty() || name[0] == '.' || name == "index.txt") return true;
  const std::string lower = AsciiLower(name);
  return lower == "thumbs.db" || lower == "desktop.ini";
}

bool ListDocumentFolders(const fs::path& batch, std::vector<fs::path>& folders, std::string& error) {
  std::vector<fs::directory_entry> entries;
  if (!ListFolder(batch, entries, error)) return false;
  for (const auto& e : entries) {
    const std::string name = e.path().filename().string();
    std::error_code ec;
    if (name[0] == '.' || name == kDoneFolder || !e.is_directory(ec)) continue;
    folders.push_back(e.path());
  }
  SortNatural(folders);
  return true;
}

bool ParseIndexText(const std::string& bytes, std::vector<std::u16string>& entries, std::string& error) {
  std::vector<std::u16string> lines;
  const bool le = bytes.rfind("\xFF\xFE", 0) == 0, be = bytes.rfind("\xFE\xFF", 0) == 0;
  if (le || be) {
    if (bytes.size() % 2 != 0) {
      error = "index.txt: the UTF-16 text ends in half a character";
      return false;
    }
    lines = platform::SplitTextLines(platform::Utf16BytesToWide(std::string_view(bytes).substr(2), be));
    for (size_t n = 0; n < lines.size(); ++n) {
      if (HasUnpairedSurrogate(lines[n])) {
        error = "index.txt line " + std::to_string(n + 1) + " is not valid UTF-16";
        return false;
      }
    }
  } else {
    const size_t bom = bytes.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
    const auto raw = SplitByteLines(bytes.substr(bom));
    for (size_t n = 0; n < raw.size(); ++n) {
      if (!platform::IsValidUtf8(raw[n])) {
        error = "index.txt line " + std::to_string(n + 1) +
                " is not valid UTF-8 (save the file as UTF-8, or as UTF-16 with a byte-order mark)";
        return false;
      }
      lines.push_back(platform::Utf8ToWide(raw[n]));
    }
  }
  for (size_t n = 0; n < lines.size(); ++n) {
    const std::u16string& line = lines[n];
    const std::u16string trimmed = platform::Trim(line);
    if (trimmed.empty() || line[0] == u'#') continue;
    const size_t eq = line.find(u'=');
    const std::string where = "index.txt line " + std::to_string(n + 1);
    if (eq == std::u16string::npos || platform::Trim(std::u16string_view(line).substr(0, eq)).empty()) {
      error = where + ": expected NAME=VALUE";
      return false;
    }
    if (line.find(u'\0') != std::u16string::npos) {
      error = where + " holds a NUL character";
      return false;
    }
    entries.push_back(line);
  }
  return true;
}

Document ReadDocumentFolder(const fs::path& folder) {
  Document d;
  d.name = folder.filename().string();
  d.folder = folder;
  std::vector<std::string> problems;

  const fs::path indexFile = folder / "index.txt";
  std::error_code ec;
  if (!fs::exists(indexFile, ec)) {
    problems.push_back("no index.txt in the document folder");
  } else {
    std::string bytes, error;
    if (!ReadBytes(indexFile, bytes, error)) {
      problems.push_back(error);
    } else if (!ParseIndexText(bytes, d.index, error)) {
      problems.push_back(error);
    }
  }

  std::vector<fs::directory_entry> entries;
  std::string error;
  if (!ListFolder(folder, entries, error)) problems.push_back(error);
  for (const auto& e : entries) {
    const std::string name = e.path().filename().string();
    if (IsIgnoredFile(name)) continue;
    const fs::file_status target = fs::status(e.path(), ec);
    if (fs::is_regular_file(target)) {
      d.pages.push_back(e.path());
    } else if (fs::is_directory(target)) {
      problems.push_back("\"" + name + "\" is a folder, not a page file");
    } else if (fs::is_symlink(fs::symlink_status(e.path(), ec)) && !fs::exists(target)) {
      problems.push_back("\"" + name + "\" is a broken link");
    } else {
      problems.push_back("\"" + name + "\" is not a regular file");
    }
  }
  SortNatural(d.pages);
  for (const auto& p : problems) d.error += (d.error.empty() ? "" : "; ") + p;
  return d;
}

fs::path MoveToDone(const fs::path& folder, std::string& error) {
  const fs::path done = folder.parent_path() / kDoneFolder;
  std::error_code ec;
  fs::create_directories(done, ec);
  if (ec) {
    error = "cannot create " + done.string() + ": " + ec.message();
    return {};
  }
  const std::string name = folder.filename().string();
  constexpr int kMaxNames = 10000;
  for (int n = 1; n <= kMaxNames; ++n) {
    const fs::path target = done / (n == 1 ? name : name + "-" + std::to_string(n));
    // RENAME_NOREPLACE: a folder of that name (even an empty one) is never replaced.
    if (::renameat2(AT_FDCWD, folder.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return target;
    int err = errno;
    if (err == EINVAL || err == ENOSYS) {
      // A file system without RENAME_NOREPLACE: check, then rename.
      if (fs::exists(fs::symlink_status(target, ec))) continue;
      if (::rename(folder.c_str(), target.c_str()) == 0) return target;
      err = errno;
    }
    if (err == EEXIST || err == ENOTEMPTY) continue;
    error = "cannot move " + folder.string() + " to " + target.string() + ": " + std::strerror(err);
    return {};
  }
  error = "no free name for " + name + " in " + done.string();
  return {};
}

}  // namespace kqfexport
