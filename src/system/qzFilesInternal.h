// Helpers shared by the TqzFiles sources (not part of the library's interface): path parsing,
// the native form of a path, name masks and the directory search with its entry filters.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "SysUtils.h"
#include "Text.h"

namespace qzfiles {

inline bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

// Position just after the last separator (0 when there is none).
size_t NameStart(std::u16string_view path);
// The folder part: everything up to and including the last separator.
inline UnicodeString FolderPart(std::u16string_view path) { return UnicodeString(path.substr(0, NameStart(path))); }
// The file name: what follows the folder part.
inline UnicodeString NamePart(std::u16string_view path) { return UnicodeString(path.substr(NameStart(path))); }
// The extension of the file name: its last "." and what follows; empty when the name has none.
UnicodeString NameExtension(std::u16string_view path);

// The path as the file system takes it: "\" written as "/", UTF-8.
std::string NativePath(std::u16string_view path);

// Whether a name matches a mask of "*" (any run) and "?" (one character), case-sensitively as
// the file system compares names (TqzStrings::EqualsExW); "*.*" stands for every name. Without oneCharSign "?" is an
// ordinary character.
bool MaskMatches(std::u16string_view name, std::u16string_view mask, bool oneCharSign = true);
inline bool HasWildcards(std::u16string_view mask) { return mask.find_first_of(u"*?") != std::u16string_view::npos; }

// A name beginning with "." is hidden.
inline bool IsHiddenName(std::string_view name) { return !name.empty() && name[0] == '.'; }

// Whether any directory entry of that name is there (links not followed): a hidden file, a
// folder or a dangling link all take a name.
bool NameTaken(const std::string& nativePath);

// Which entries a directory search returns.
enum class EntryFilter {
  Plain,            // no folders, no hidden entries
  PlainAndHidden,   // no folders (hidden and read-only files too)
  FoldersAndFiles,  // everything but hidden entries
  Any,              // every entry
};

struct FoundEntry {
  std::string Name;    // UTF-8 on-disk name
  UnicodeString WName;  // the same in UTF-16
  struct stat Stat {};  // of the entry itself (lstat), or of the link's target when it has one
  bool IsLink = false;
  bool IsFolder = false;      // a real folder (not a link to one)
  bool IsLinkToFolder = false;
};

// The entries of the folder part of `folderAndMask` whose names match its name part (a mask or
// a plain name), filtered, in byte order of their names. "." and ".." are never returned. A
// folder that cannot be read gives nothing.
std::vector<FoundEntry> FindEntries(std::u16string_view folderAndMask, EntryFilter filter);
// The same for a native folder (ending with "/" or empty for the current folder) and a mask.
std::vector<FoundEntry> FindEntriesIn(const std::string& nativeFolder, std::u16string_view mask, EntryFilter filter);

// Real sub-folders of a native folder (no hidden ones, no links), in byte order of their names.
std::vector<std::string> ListSubFolders(const std::string& nativeFolder);

// Real sub-folders of a native folder, hidden ones included (no links), in byte order.
std::vector<std::string> ListAllSubFolders(const std::string& nativeFolder);

// Local day numbers of file times; the file date is the last-write time cut to even seconds.
TDateTime LocalTime(const struct timespec& t);
TDateTime FileDate(const struct stat& st);
// The birth time where the file system keeps one, else the last-write time; false when the
// name cannot be looked at.
bool CreationTime(const std::string& nativePath, TDateTime& result);

// Writes all bytes to the descriptor; false with errno set on failure.
bool WriteAll(int fd, const char* data, size_t size);

}  // namespace qzfiles
