// TqzFiles: the file and folder toolbox, one class of static operations: path texts, existence,
// folders and listings, system folders, deleting and the recycle bin, free names, whole-file
// contents, zip archives, MIME types and file-type lists; copying, moving and mirroring; file
// times, ages, owners, locks, sizes and the secure wipe. The definitions are split by concern
// (qzFilesPaths.cpp, qzFilesFolders.cpp, qzFilesContent.cpp, qzFilesZip.cpp, qzFilesMime.cpp,
// qzFilesCopy.cpp, qzFilesTimes.cpp, qzFilesWipe.cpp).
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
//    taken in byte order of their names, so "the first entry found" is stable, and listings come
//    in that order too.
//  * Listings never enter symbolic links: a link to a folder is no folder of the tree (so it is
//    neither listed nor descended into), and deleting a tree removes such a link as a link.
//  * A name is "taken" for the free-name operations and for zip extraction when any directory
//    entry of that name is there (a hidden file, a folder, a dangling link).
//
// No operation here raises unless its comment says so.
#pragma once

#include <cstdint>

#include <memory>

#include "StringList.h"
#include "SysUtils.h"
#include "Text.h"
#include "qzTypes.h"

// What a copy or move does when its target exists (see the operations for each family). Two
// files are "the same" when their MD5 digests are equal (for the stream copies, when their file
// names are equal too, case ignored).
enum TqzEXISTS_MODE { IF_SAME_DO_NOTHING, OVERWRITE, UNIQE_FILENAME, IF_NOT_SAME_USE_UNIQUE_FILE_NAME };

class TqzFiles {
 public:
  TqzFiles() = delete;

  // ---- Paths and names ----------------------------------------------------------------------
  // The path trimmed (codes 0..32 at both ends), with "/" appended unless it is empty or already
  // ends with "/" or "\".
  static UnicodeString CheckPathExt(const UnicodeString& Path);
  // The trimmed path without one trailing separator.
  static UnicodeString ErasePathExt(const UnicodeString& Path);
  // The trimmed extension with a leading "." added unless it is empty or has one; lower-cased
  // (LowerCaseStr) with ToLowercase.
  static UnicodeString CheckFileExtension(const UnicodeString& Extension, bool ToLowercase);
  // The file name without its folder and without its last extension (the text before the last
  // "." of the name); the whole name when it holds no "." ("archive.tar.gz" -> "archive.tar",
  // ".profile" -> "").
  static UnicodeString ExtractPureFileName(const UnicodeString& Path);
  // The text from the last "." of the whole path to its end, dot included; the whole path when
  // it holds no ".".
  static UnicodeString GetFileExtention(const UnicodeString& FilePath);
  // Whether the file name of the first path matches the file name of the second as a mask ("*"
  // any run, "?" one character), both trimmed, case ignored.
  static bool EqualsFileName(const UnicodeString& PathWithoutMask, const UnicodeString& PathPossibleWithMask);
  // A text usable as a file name: the characters 0..31, " * / : < > ? \ | and 127 removed; a
  // result longer than the file system's 255 bytes of UTF-8 is cut, its extension kept (the
  // name part becomes "_" when it is empty). Characters are never split.
  static UnicodeString ConvertToFileName(const UnicodeString& Str);
  // A path shortened for display: the leading folders that fit, ".../" (or "...\" in a path
  // written with backslashes) and the file name; unchanged when it has at most Maxlen characters.
  static UnicodeString ShortPath(const UnicodeString& Path, int32_t Maxlen);
  // There are no short (8.3) names here: an existing path comes back unchanged. Raises
  // Exception "unable to determine short path name from <path>" when nothing of that name exists.
  static UnicodeString GetShortDOSPath(const UnicodeString& SLongName);
  // InPath with its placeholders expanded (TqzStrings::CheckDefaultPlaceHolders) for the user
  // and host names, passed through CheckPathExt with CheckPathSuffix.
  static UnicodeString BuildPathStr(const UnicodeString& InPath, bool CheckPathSuffix, const UnicodeString& UserName,
                                    const UnicodeString& HostName);

  // ---- Existence and folders ----------------------------------------------------------------
  // Whether the name or mask finds an entry that is neither a folder (nor a link to one) nor
  // hidden.
  static bool FileExists(const UnicodeString& Path);
  // Whether the folder part of Path (up to its last separator, passed through CheckPathExt) is
  // an existing folder (links followed). "/data/file.txt" and "/data/" both test "/data/"; a path
  // without a folder part gives false.
  static bool PathExists(const UnicodeString& Path);
  // Creates every missing level of the folder part of Path. With CheckExistence an existing
  // folder is success at once. Otherwise the result is that of creating the deepest level only:
  // true when it was created now, false when it failed or already existed. Never raises.
  static bool CreatePath(const UnicodeString& Path, bool CheckExistence);
  // Whether Path is a folder that can be read and holds no entry at all (hidden ones count).
  static bool DirectoryIsEmpty(const UnicodeString& Path);
  // Removes Path when it is an existing, empty folder; true when it was removed.
  static bool DeleteDirectoryIsEmpty(const UnicodeString& Path);
  // Removes the folder part of Path; with Recursive, every folder below it first (children
  // before parents). Files are never deleted, so a tree holding a file stays in part and the
  // result is false. Symbolic links to folders inside the tree are removed as links (their
  // targets are never entered).
  static bool DeletePath(const UnicodeString& Path, bool Recursive);
  // Appends the folder part of Root (with AddRoot) and the folders inside it (with Recursive,
  // every folder below, depth-first, a parent before its children), each ending with "/".
  // Hidden folders and links are not listed; a path the list already holds exactly is not added
  // again. Always true.
  static bool GetPathList(const UnicodeString& Root, TStrings& PathList, bool AddRoot, bool Recursive);
  // Appends the bare names of the folders directly inside Root. Always true.
  static bool GetFlatPathList(const UnicodeString& Root, TStrings& PathList);
  // Lists level by level: SSearchPath (with AddRoot), then its folders, then, with Recusive, the
  // folders below each of them in turn. A folder whose path contains an entry of IgnorePathes
  // (case ignored) is skipped with everything below it; when SSearchPath itself contains one,
  // nothing is added and the result is false. True when ResultList is not empty afterwards.
  static bool GetSubDirs(const UnicodeString& SSearchPath, TStrings& ResultList, const TStrings* IgnorePathes,
                         bool Recusive, bool AddRoot);

  // ---- System folders -----------------------------------------------------------------------
  // The calling user's temporary folder ($TMPDIR when set and not blank, else /tmp), ending
  // with "/". As the system's own call, it names the folder without testing it; nothing here can
  // fail to read it, so it never raises.
  static UnicodeString GetTempPath();
  // The user's local application-data folder (XDG data home) + "Temp/"; "Temp/" alone when
  // there is none.
  static UnicodeString GetUserTempPath();
  // The system folder that stands in for the Windows folder ("/"), for the user or shared alike.
  static UnicodeString GetWinPath(bool UserSpecific);
  // The folder of a shell folder number (the XDG table of TqzTools::GetSpecialFolderPath)
  // without a trailing "/"; the empty text for an unknown number. The folder is not created.
  static UnicodeString GetSpecialFolder(int32_t Folder);

  // ---- Deleting -----------------------------------------------------------------------------
  // Deletes the file: up to 10 attempts, each first giving the owner write permission (the
  // read-only flag cleared) and then removing the name, with a pause of 100 ms after a failed
  // delete. True when no file of that name remains afterwards (also when there was none); a
  // folder of that name is never removed. Never raises.
  static bool ForceDeleteFile(const UnicodeString& Filename);
  // Moves a file or folder to the user's trash in the freedesktop.org trash layout:
  // $XDG_DATA_HOME/Trash (default ~/.local/share/Trash), the item under files/ and its
  // info/<name>.trashinfo with the original absolute path and the deletion date. A name already
  // in the trash gets a number before its extension ("f.2.txt"). Across file systems a regular
  // file or link is copied and then removed. True on success; nothing is left half-done on
  // failure.
  static bool MoveFileToRecycleBin(const UnicodeString& SFileName);

  // ---- Free names ---------------------------------------------------------------------------
  // The first free name of Destination, Base-N.ext (N from 2, or from 1 with AlwaysAddId; six
  // digits with WithLeadingZero) up to N = MaxRetry, then Base-<yyyymmddhhnnsszzz>.ext with
  // fresh times. Nothing is created. The empty text when even the time-stamped names stay taken
  // (a bounded number of attempts).
  static UnicodeString GetFreeFileName(const UnicodeString& Destination, uint32_t MaxRetry = 99999999,
                                       const UnicodeString& Separator = u"-", bool AlwaysAddId = false,
                                       bool WithLeadingZero = false);
  // A free name for a file that combines the listed files: the names (without extensions) of
  // the files whose extension is in ValidExtensions ("pdf, .TIF"; "*" takes every file), joined
  // with ", " and shortened, else "Document", in the folder of Destination with NewExtension.
  static UnicodeString DetermineNewFilename(const UnicodeString& Destination, TStrings& FileList,
                                            const UnicodeString& ValidExtensions, const UnicodeString& NewExtension,
                                            int32_t MaxFilenameLength, int32_t MaxFinalLength);
  // A new, empty file "~XXXX000.<Ext>" (XXXX four random upper-case hexadecimal digits) in
  // TempDirectory, created exclusively so that no other caller gets the same name; nothing else
  // is left behind. Raises Exception with the system's error text when no such file can be made.
  static UnicodeString CreateUniqueFilename(const UnicodeString& TempDirectory, const UnicodeString& Ext);

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
  // opened, is not a regular file, is too large (MaxLoadSize; checked before anything is
  // allocated) or yields fewer bytes than its size. Never raises.
  static bool LoadFileToString(const UnicodeString& FileName, AnsiString& Data);
  static bool LoadFileToString(const UnicodeString& FileName, AnsiString& Data, uint16_t AccessMode);
  // The first MaxSize bytes (the whole file when it is shorter); only those are read, whatever
  // the file's size. A negative MaxSize gives false.
  static bool LoadFileToString(const UnicodeString& FileName, AnsiString& Data, int32_t MaxSize);
  // Writes Data as the file's content. Without Append the data goes to a temporary file in the
  // same folder, is flushed to disk and renamed over the old file (whose permissions it keeps),
  // so a failure never destroys the previous content; a link is replaced at its target. With
  // Append the data is added at the end (the file is created when missing). With MD5Check the
  // whole file is digested afterwards and compared exactly (case included) with MD5; on a
  // difference the result is false, the data stays written. Never raises.
  static bool SaveStringToFile(const UnicodeString& FileName, const AnsiString& Data, bool Append = false,
                               bool MD5Check = false, const AnsiString& MD5 = "");
  // Appends the content of the first file to the second. False, touching nothing, when either
  // does not exist; raises EInOutError when an existing file cannot be opened.
  static bool MergeFiles(const UnicodeString& FirstFileName, const UnicodeString& SecondFileName);
  // Creates an empty file; false when any entry of that name is already there (it is never
  // touched) or the file cannot be created.
  static bool CreateBlankFile(const UnicodeString& Filename);

  // ---- Zip archives -------------------------------------------------------------------------
  // Archives are read and written with libzip (see Zip.h: methods, extraction limits). Items
  // added here carry the file name only and are deflated; an item of the same name is replaced.
  // The archive is written to a temporary file and renamed, so a failure leaves it as it was.
  //
  // Adds InFile under its file name, with Data as the content when Data is not empty (InFile
  // need not exist then). False on any failure.
  static bool AddFileToZip(const UnicodeString& InFile, const UnicodeString& ZipFile, const AnsiString& Data = "");
  // Adds every listed file under its file name, in list order; one write at the end. False, the
  // archive unchanged, when any file cannot be read.
  static bool AddFilesToZip(const TStrings& InFiles, const UnicodeString& ZipFile);
  // Extracts the archive's first item to Outfile (replacing it). False on any failure.
  static bool GetFileFromZip(const UnicodeString& Outfile, const UnicodeString& ZipFile);
  // Extracts every item below TargetPath (created when missing), each at the next free name of
  // its path, and lists the paths written (ContentFiles is cleared first; a new list is made
  // when it is empty). Items whose names are absolute, carry a drive letter or a ".." segment
  // fail the extraction; nothing is written outside TargetPath or through a symbolic link, and
  // an existing entry is never overwritten. False on failure; the files extracted so far stay
  // and stay listed.
  static bool GetFilesFromZip(const UnicodeString& ZipFile, const UnicodeString& TargetPath,
                              std::unique_ptr<TStringList>& ContentFiles);
  static bool GetFilesFromZip(const UnicodeString& ZipFile, const UnicodeString& TargetPath, TStrings& ContentFiles);

  // ---- MIME types ---------------------------------------------------------------------------
  // The MIME type of a file name: its extension (lower-cased, without the dot) looked up in the
  // library's table (a name without extension finds the first row, "application/octet-stream");
  // then the value "Content Type" of the key "." + extension under HKEY_CLASSES_ROOT; then
  // Default. Never raises.
  static UnicodeString GetMIMEType(const UnicodeString& FileName, const UnicodeString& Default);
  // The extension (without dot) of the first table row of the lower-cased MIME type; else the
  // value named by the lower-cased type under HKLM "SOFTWARE\kesta\System\ContentTypes"; else
  // the empty text.
  static UnicodeString GetExtensionFromMimeType(const UnicodeString& MimeType);

  // ---- File-type lists ----------------------------------------------------------------------
  // Whether any entry of the list (a path or mask) finds any directory entry.
  static bool FileTypeExists(const TStrings& FileList);
  // The same for Path + each entry of FileNameList.
  static bool FileTypeExists(const UnicodeString& Path, const TStrings& FileNameList);
  // For a path whose extension is a mask (such as "scan.*"): the path with that extension
  // replaced by each allowed extension (entries without dot) that the mask matches, appended to
  // FilePathesResult. True when at least one was appended and every replaced path ends with its
  // extension.
  static bool GetFilePathesWithTypesInList(const UnicodeString& AFilePath, const TStrings& AllowedList,
                                           TStrings& FilePathesResult, bool IsStarReplacerAllowed);
  // Appends the extension (GetFileExtention) of every path, with duplicates ignored when
  // ResultList is sorted; the number of entries of ResultList afterwards.
  static int32_t GetFileTypesFromPathList(const TStrings& PathList, TStrings& ResultList);
  // Appends the entries of AllowedList (written with their dot) equal to the extension of
  // AFileName (trimmed, case ignored); with IsStarReplacerAllowed a name that is a single "*"
  // takes every entry. True when at least one was taken.
  static bool GetValidFileTypesInList(const UnicodeString& AFileName, const TStrings& AllowedList,
                                      TStrings& IncludedFileTypes, bool IsStarReplacerAllowed);
  // ---- Copying and moving -------------------------------------------------------------------
  // Whether the two files have the same content (MD5 digests, read as streams). Raises when a
  // file is missing ("file <name> not found") or cannot be read: unreadable files are never the
  // same.
  static bool CompareFile(const UnicodeString& FileOne, const UnicodeString& FileTwo);
  // With the checks, raises "File 1 not exists" / "File 2 not exists" for a missing file. With
  // CompareFileName the file names must be equal (case ignored) before the contents are
  // compared; without it only the contents count.
  static bool CompareFile(const UnicodeString& FileOne, const UnicodeString& FileTwo, bool CheckFileExistsOne,
                          bool CheckFileExistsTwo, bool CompareFileName);
  // Moves a file or folder; fails when any entry of the target name exists. Across file systems
  // a file is copied (content, mode, times) and its source removed.
  static bool MoveFile32(const UnicodeString& Source, const UnicodeString& Destination);
  // Moves the files matching the mask of Source (a folder and a mask), with SubFolders from every
  // folder below too, into the same folders below the folder part of Destination; with
  // IgnoreFileAttributes hidden files too. With DeleteSourcePaths the source folders left empty
  // are removed, the root included. The number of files moved.
  static int32_t MoveFile32(const UnicodeString& Source, const UnicodeString& Destination, bool SubFolders,
                            bool IgnoreFileAttributes, bool DeleteSourcePaths);
  // Moves the file to the next free name of Destination (Destination itself when free) and
  // gives it owner write permission there.
  static bool ForceMoveFile32(const UnicodeString& Source, const UnicodeString& Destination);
  // Moves by the exist mode: IF_SAME_DO_NOTHING: nothing when the destination has the same
  // content, else to the next free name; OVERWRITE: to Destination, replacing it;
  // UNIQE_FILENAME: to the next free name; IF_NOT_SAME_USE_UNIQUE_FILE_NAME: when the
  // destination has the same content the source is deleted and Destination is the result, else
  // to the next free name. The moved file keeps the source's last-write time. The path moved to;
  // the empty text when nothing was moved (nothing to do, or the move failed). Raises "FileTime
  // Convert Error" for a missing source, and when a file to compare cannot be read.
  static UnicodeString ForceMoveFile32(const UnicodeString& Source, const UnicodeString& Destination,
                                       TqzEXISTS_MODE ExistMode);
  // Copies content, mode and access and modification times; fails when any entry of the target
  // name exists (the target is created exclusively). A failed copy leaves no target behind.
  static bool CopyFile32(const UnicodeString& Source, const UnicodeString& Destination);
  // CopyFlags 1 fails when the target exists; 0 replaces it (the copy is written beside it and
  // renamed over it, so a failure keeps the old target).
  static bool CopyFile32(const UnicodeString& Source, const UnicodeString& Destination, uint32_t CopyFlags);
  // By the exist mode: IF_SAME_DO_NOTHING: true only when the target has the same content,
  // never copies; OVERWRITE: replaces the target; UNIQE_FILENAME: to the target or, when any
  // entry has its name, to its next free name; IF_NOT_SAME_USE_UNIQUE_FILE_NAME: true without
  // copying when the target has the same content, else as UNIQE_FILENAME.
  static bool CopyFile32(const UnicodeString& Source, const UnicodeString& Destination, TqzEXISTS_MODE ExistMode);
  // Copies the files matching the mask of Source (with SubFolders, from every folder below too)
  // into the same folders below the folder part of Destination, replacing targets. The number
  // of files copied.
  static int32_t CopyFile32(const UnicodeString& Source, const UnicodeString& Destination, bool SubFolders);
  // Copies by the exist mode, "same" meaning equal names and contents: IF_SAME_DO_NOTHING: true
  // when the same, else copies over the target; OVERWRITE: copies over the target;
  // UNIQE_FILENAME and IF_NOT_SAME_USE_UNIQUE_FILE_NAME: to the next free name when the target
  // exists (an existing different file is never overwritten), else to the target. False when
  // the source is missing or a file cannot be compared; raises EInOutError when the copy itself
  // cannot open the source or create the target.
  static bool StreamCopyFile(const UnicodeString& Source, const UnicodeString& Destination, TqzEXISTS_MODE ExistMode);
  // Copies Source to DestinationStartPath + Source's path from its first separator on (doubled
  // separators folded), creating the folders: "/backup/" and "/data/a/f.txt" give
  // "/backup/data/a/f.txt". A rebuilt path holding a ".." segment is refused (false). A target of
  // 255 characters or more raises "destination path to long" with ErrorWhenPathToLong, else is
  // copied with every error turned into false.
  static bool StreamCopyFileKeepingPath(const UnicodeString& Source, const UnicodeString& DestinationStartPath,
                                        bool ErrorWhenPathToLong, TqzEXISTS_MODE ExistMode);
  static bool CopyFileKeepingPath32(const UnicodeString& Source, const UnicodeString& DestinationStartPath,
                                    bool ErrorWhenPathToLong, TqzEXISTS_MODE ExistMode);
  // Makes Destination a one-way mirror of the files of Source (a folder and a mask; with
  // SubFolders the whole tree): copies files whose target is missing or has another file date
  // (every file with OverWrite), then deletes target files the source does not have and removes
  // target folders whose source folder is gone, when empty. Source folders whose upper-cased
  // path is in ExclusionPaths (whose entries are upper-cased) are not copied. The number of
  // files copied; -1, with nothing done, when the source root is missing or cannot be listed
  // (raised as Exception with RaiseExceptions). A failed copy raises "copy file <source> to
  // <target> failed (<reason>)" with RaiseExceptions, else is passed over.
  static int32_t SyncCopyFile32(const UnicodeString& Source, const UnicodeString& Destination, bool SubFolders,
                                bool OverWrite, bool RaiseExceptions, TStrings* ExclusionPaths);
  // Copy or move to Destination, or to its next free name when any entry has that name.
  static bool CopyFileWithUniqueFileName(const UnicodeString& SourceFilepath, const UnicodeString& DestinationPath);
  static bool MoveFileWithUniqueFileName(const UnicodeString& SourceFilepath, const UnicodeString& DestinationPath);
  // The path moved to, or the empty text when the move failed.
  static UnicodeString MoveAndGetFileWithUniqueFileName(const UnicodeString& SourceFilepath,
                                                        const UnicodeString& DestinationPath);

  // ---- File times ---------------------------------------------------------------------------
  // Times are local day numbers (TDateTime). The creation time is the file system's birth time
  // (statx); where the file system keeps none, the last-write time stands in. The "file date"
  // is the last-write time cut to even seconds (the two-second form of packed file dates).
  //
  // Of the first entry the name or mask finds (any entry); raise "FileTime Convert Error" when
  // nothing is found.
  static TDateTime GetFileCreationDate(const UnicodeString& Fname);
  static TDateTime GetFileChangeDate(const UnicodeString& Fname);
  // The creation time; 0 when nothing is found.
  static TDateTime GetCreationTimeOfFile(const UnicodeString& AFileName);
  // The file date; 0 when nothing is found.
  static TDateTime GetFileDateTime(const UnicodeString& FileName);
  // Minutes since the file date, rounded half to even; 0 when it cannot be read.
  static int64_t GetFileAgeInMinutes(const UnicodeString& FileName);
  // Sets one time of an existing file or folder (links followed). Linux cannot set a creation
  // time: ftCreation gives false.
  static bool SetFileTimesHelper(const UnicodeString& FileName, TDateTime DateTime, TFileTimes Times);
  static bool SetFileLastWriteDate(const UnicodeString& FileName, TDateTime DateTime);
  static bool SetFileLastAccessDate(const UnicodeString& FileName, TDateTime DateTime);
  static bool SetFileCreationDate(const UnicodeString& FileName, TDateTime DateTime);
  // Sets the last-write time to NewDate in the file-date form (even seconds).
  static bool SetFileDate(const UnicodeString& FileName, TDateTime NewDate);
  // Sets the last-write time to now in the file-date form.
  static bool TouchFile(const UnicodeString& FileName);
  // The destination's file date becomes the source's creation time; true unless raised.
  static bool CopyFileDateAttribute(const UnicodeString& SourceFilePath, const UnicodeString& DestinationFilePath);
  // The destination's creation (where settable) and last-write times become the source's; false
  // when the source is missing.
  static bool CopyFileAllDateAttribute(const UnicodeString& SourceFilePath, const UnicodeString& DestinationFilePath);

  // ---- Lists by age ---------------------------------------------------------------------------
  // The lists make FileList sorted with duplicates ignored and add the full paths of the
  // entries (no folders) that Path (a folder and a mask) finds and the test takes; the number of
  // entries taken. Attributes bits: 1 read-only, 2 hidden, 32 archive (every plain file carries
  // it); an entry is looked at when its bits share one with Attributes.
  static constexpr int32_t faReadOnly = 0x01;
  static constexpr int32_t faHidden = 0x02;
  static constexpr int32_t faArchive = 0x20;
  static constexpr int32_t faAnyFile = 0xFF;
  // Minutes 0 takes every entry; faYounger: age at most Minutes, faOlder: at least. Stops when
  // MaxFiles (1 or more) entries are in the list.
  static uint32_t GetFileListByFileAgeInMinutes(const UnicodeString& Path, uint32_t Minutes, TStrings& FileList,
                                                TFileAge FileAge, int32_t Attributes = faAnyFile, int32_t MaxFiles = 0);
  // Days count calendar days: 1 means since midnight today, 2 since midnight yesterday.
  static uint32_t GetFileListByFileAgeInDays(const UnicodeString& Path, uint32_t Days, TStrings& FileList,
                                             TFileAge FileAge, int32_t Attributes = faAnyFile, int32_t MaxFiles = 0);
  // Ages from FromMinutes (0: no lower bound) to ToMinutes (0: no upper bound).
  static uint32_t GetFileListByFileAgeBetweenInMinutes(const UnicodeString& Path, uint32_t FromMinutes,
                                                       uint32_t ToMinutes, TStrings& FileList);
  static uint32_t GetFileListBetweenFileAgeInDays(const UnicodeString& Path, uint32_t FromDays, uint32_t ToDays,
                                                  TStrings& FileList);
  // File dates from FromDate to ToDate (day numbers), names matching the mask (EqualsFileName).
  static uint32_t GetFileListByFileAgeBetweenDate(const UnicodeString& Path, TDateTime FromDate, TDateTime ToDate,
                                                  TStrings& FileList);

  // ---- Owners and locks ---------------------------------------------------------------------
  // The owner's account name and, as its domain, this computer's name (there are no directory
  // domains here). False, both unchanged, when the file or the account is unknown.
  static bool GetFileOwner(const UnicodeString& FileName, UnicodeString& Domain, UnicodeString& Username);
  // Locks a file handle value: the open file with an exclusive open-file-description lock over
  // the whole file. Cooperating programs (FileIsInUse, fcntl/lockf users) see the file as in use
  // until ReleaseFileLock; Linux has no mandatory locks, so other programs can still open it.
  // InvalidLock when the file cannot be opened or is locked already.
  using LockHandle = uintptr_t;
  static constexpr LockHandle InvalidLock = ~LockHandle{0};
  static LockHandle CreateFileLock(const UnicodeString& FileName);
  static bool ReleaseFileLock(LockHandle Handle);
  // False for a missing file; true when it cannot be opened for reading and writing or another
  // open file (in this process or another) holds a conflicting lock on it.
  static bool FileIsInUse(const UnicodeString& FileName);

  // ---- Deleting by mask, wiping ---------------------------------------------------------------
  // Deletes the plain files matching the mask of Source (with Subfolder, in every folder below
  // too) whose age is AgeInMin minutes or more (every one with 0); with RetainExecutables .dll,
  // .exe, .com and .sys files stay. Links are deleted as links; linked folders are never
  // entered. The number of files deleted.
  static int32_t DeleteFile32(const UnicodeString& Source, uint32_t AgeInMin, bool Subfolder, bool RetainExecutables);
  // Overwrites the file in place RewrittenTimes times (7 when below 1): passes of 0x00, 0xFF,
  // 0x00, 0xFF, 0x00, 0xFF, 0xF6, then random upper-case letters (one per block and pass, from
  // the system's random source), each pass over the whole file flushed to disk (fdatasync)
  // before the next; then renames it RenameTimes times to a new GUID name in its own folder,
  // truncates it to zero, flushes and deletes it. A link is not followed (false). True when
  // every step succeeded.
  static bool WipeFile(const UnicodeString& SzFilename, int32_t RewrittenTimes, int32_t RenameTimes);
  // Wipes every file APath + AFindMask finds (hidden ones too; with AWithSub in every folder
  // below, hidden folders included); links are neither followed nor entered, folders stay.
  static void SecureDeleteFiles(const UnicodeString& APath, const UnicodeString& AFindMask, bool AWithSub,
                                int32_t RewrittenTimes, int32_t RenameTimes);

  // ---- Sizes and space ------------------------------------------------------------------------
  // The size of an existing file (FileExists), else 0.
  static int64_t GetFileSize(const UnicodeString& SzFile);
  // The size of the first entry found (any entry), else -1.
  static int64_t GetFileSizeEx(const UnicodeString& SzFile);
  // B / 1024, / 2^20, / 2^30 with exactly two decimals and "." ("1.50").
  static AnsiString ByteToKb(int64_t B);
  static AnsiString ByteToMb(int64_t B);
  static AnsiString ByteToGb(int64_t B);
  // The count in whole units from the largest present on: "TB " (2^40), "GB " (2^30), "MB "
  // (2^20), "KB " (2^10), then the rest with "Bytes" ("Byte" for exactly one): 1536 gives
  // "1 KB 512 Bytes", 0 gives "0 Bytes".
  static UnicodeString ByteToStr(int64_t B);
  // The space the caller may use on the file system holding Path (or the nearest existing
  // folder above it), in bytes, or whole MiB with InMB; -1 for an empty path or when it cannot
  // be read.
  static int64_t GetFreeDiskSpace(const UnicodeString& Path, bool InMB);
};
