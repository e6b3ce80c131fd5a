// TqzFiles: the file and folder toolbox, one class of static operations. This file holds the
// operations the installation environment, the archive client and the export stand on: path
// normalising and parsing, folder existence and creation, the temporary folder, file sizes,
// whole-file loading, the retrying delete and MIME types.
//
// Paths on this system:
//  * Folders end with "/" where the system says a folder ends with a backslash. Path parsing
//    accepts both "/" and "\" as separators (a trailing "\" counts as a folder end as well).
//  * Names are UTF-16 at the interface and UTF-8 on disk; file names are case-sensitive. A "\"
//    in a path always separates folders (it is written as "/" on disk), so one path text means
//    the same folders to every operation here.
//  * A file "exists" when a directory entry of that name is there and is no folder. A name
//    beginning with "." counts as hidden; there is no system attribute.
//  * Masks use "*" and "?" in the last path element only ("*.*" matches every name); matches are
//    taken in byte order of their names, so "the first entry found" is stable.
//
// No operation here raises unless its comment says so.
#pragma once

#include <cstdint>

#include "Text.h"

class TqzFiles {
 public:
  TqzFiles() = delete;

  // ---- Paths and names ----------------------------------------------------------------------
  // The path trimmed (codes 0..32 at both ends), with "/" appended unless it is empty or already
  // ends with "/" or "\".
  static UnicodeString CheckPathExt(const UnicodeString& Path);
  // The file name without its folder and without its last extension (the text before the last
  // "." of the name); the whole name when it holds no "." ("archive.tar.gz" -> "archive.tar",
  // ".profile" -> "").
  static UnicodeString ExtractPureFileName(const UnicodeString& Path);

  // ---- Existence and folders ----------------------------------------------------------------
  // Whether the folder part of Path (up to its last separator, passed through CheckPathExt) is
  // an existing folder (links followed). "/data/file.txt" and "/data/" both test "/data/"; a path
  // without a folder part gives false.
  static bool PathExists(const UnicodeString& Path);
  // Creates every missing level of the folder part of Path. With CheckExistence an existing
  // folder is success at once. Otherwise the result is that of creating the deepest level only:
  // true when it was created now, false when it failed or already existed. Never raises.
  static bool CreatePath(const UnicodeString& Path, bool CheckExistence);
  // The calling user's temporary folder ($TMPDIR when set and not blank, else /tmp), ending
  // with "/". As the system's own call, it names the folder without testing it; nothing here can
  // fail to read it, so it never raises.
  static UnicodeString GetTempPath();

  // ---- Sizes --------------------------------------------------------------------------------
  // The size in bytes of the first entry that the name or mask finds (any entry; a folder has
  // size 0); 0 for an empty name or when nothing is found.
  static int64_t GetSizeOfFile(const UnicodeString& Name);

  // ---- File contents ------------------------------------------------------------------------
  // Access modes of LoadFileToString: the open mode in the low four bits (0 read, 1 write,
  // 2 read and write) and a share mode in bits 4..6 (16 exclusive, 32 deny write, 48 deny read,
  // 64 deny none). Linux has no share modes, so only the open mode counts: a mode that cannot
  // read (1) fails.
  static constexpr uint16_t fmOpenRead = 0x0000;
  static constexpr uint16_t fmOpenWrite = 0x0001;
  static constexpr uint16_t fmOpenReadWrite = 0x0002;
  static constexpr uint16_t fmShareExclusive = 0x0010;
  static constexpr uint16_t fmShareDenyWrite = 0x0020;
  static constexpr uint16_t fmShareDenyRead = 0x0030;
  static constexpr uint16_t fmShareDenyNone = 0x0040;
  // Files of this size or more cannot be held in one string and are refused.
  static constexpr int64_t MaxLoadSize = 0x7FFFFFFF;

  // Reads the whole file into Data. False, with Data left as it was, when the file cannot be
  // opened, is not a regular file, is too large (MaxLoadSize) or yields fewer bytes than its
  // size. Never raises.
  static bool LoadFileToString(const UnicodeString& FileName, AnsiString& Data);
  static bool LoadFileToString(const UnicodeString& FileName, AnsiString& Data, uint16_t AccessMode);
  // The first MaxSize bytes (the whole file when it is shorter); a negative MaxSize gives false.
  static bool LoadFileToString(const UnicodeString& FileName, AnsiString& Data, int32_t MaxSize);

  // ---- Deleting -----------------------------------------------------------------------------
  // Deletes the file: up to 10 attempts, each first giving the owner write permission (the
  // read-only flag cleared) and then removing the name, with a pause of 100 ms after a failed
  // delete. True when no file of that name remains afterwards (also when there was none); a
  // folder of that name is never removed. Never raises.
  static bool ForceDeleteFile(const UnicodeString& Filename);

  // ---- MIME types ---------------------------------------------------------------------------
  // The MIME type of a file name: its extension (lower-cased, without the dot) looked up in the
  // library's table (a name without extension finds the first row, "application/octet-stream");
  // then the value "Content Type" of the key "." + extension under HKEY_CLASSES_ROOT; then
  // Default. Never raises.
  static UnicodeString GetMIMEType(const UnicodeString& FileName, const UnicodeString& Default);
};
