// Reading the documents the host exports: a batch folder of document folders, each with an
// index.txt and its page files, or one document given on the command line.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kqfexport {

struct Document {
  std::string name;                 // the document folder's name (UTF-8 as on disk); "document" for export
  std::filesystem::path folder;     // empty for a document from the command line
  std::u16string archive;
  std::u16string title;
  std::vector<std::u16string> index;  // NAME=VALUE, as passed with command 400
  std::vector<std::filesystem::path> pages;
  std::string error;                // why the document cannot be exported; empty when it can
};

// The whole file; false with an error naming it and the reason.
bool ReadBytes(const std::filesystem::path& path, std::string& bytes, std::string& error);

// True when `a` sorts before `b` in natural order: runs of digits compare by their numbers
// ("page-2" before "page-10"), everything else byte by byte; names that tie that way (leading
// zeros) fall back to plain byte order.
bool NaturalLess(const std::string& a, const std::string& b);

// Files of a document folder that are not pages: index.txt, hidden files (a name starting with
// "."), and the files Windows leaves behind (Thumbs.db, desktop.ini, any case).
bool IsIgnoredFile(const std::string& name);

// The folder under the batch that archived documents move to; it is never a document itself.
inline constexpr const char* kDoneFolder = "done";

// The document folders of a batch (not hidden, not done/) in natural order. False with `error`
// when the folder cannot be read.
bool ListDocumentFolders(const std::filesystem::path& batch, std::vector<std::filesystem::path>& folders,
                         std::string& error);

// Reads one document folder: index.txt and the pages. Problems of this document only (no
// index.txt, a line that is not NAME=VALUE or not valid text, a folder or a broken link among the
// pages) end up in Document::error.
Document ReadDocumentFolder(const std::filesystem::path& folder);

// The NAME=VALUE lines of an index.txt: UTF-8 with or without a byte-order mark, or UTF-16 with
// one (either byte order). Empty lines and lines starting with "#" are skipped. False with an
// error naming the line when a line is not valid text or has no NAME before its "=".
bool ParseIndexText(const std::string& bytes, std::vector<std::u16string>& entries, std::string& error);

// Moves an archived document's folder into <batch>/done/ (created when missing) under its own
// name, or under "<name>-2", "<name>-3", ... when that is taken. Returns the new place; empty
// with `error` when it could not be moved.
std::filesystem::path MoveToDone(const std::filesystem::path& folder, std::string& error);

}  // namespace kqfexport
