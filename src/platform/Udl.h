// Data-link (.udl) files: the connection files of the database layer.
//
// A data-link file is a text in UTF-16 little-endian with the byte-order mark FF FE, three lines
// each ended by CR LF:
//     [oledb]
//     ; Everything after this line is an OLE DB initstring
//     Provider=SQLOLEDB.1;Data Source=srv
// It is read as an initialisation file. The reader also takes UTF-16BE and UTF-8 with their
// byte-order marks and, without a mark, UTF-8 or Windows-1252 text.
//
// This is the one reader of data-link files: TqzTools (GetConnectionstringFromUdlFile) and the
// database layer's "FILE NAME=" connection strings (DatabaseText.h) both read through it.
#pragma once

#include <optional>
#include <string>

#include "Text.h"

namespace platform {

// The connection string of a data-link file: the first line of its "[oledb]" section that is
// neither blank nor a comment, whole and trimmed ("Provider=...;Data Source=..."); the empty
// text when the section holds no such line. Raises EInOutError when the file cannot be read
// (a missing file, a folder, no permission).
UnicodeString ReadUdlConnectionString(const std::string& path);

// The value of `key` in `section` of an initialisation file, as the platform's profile reader
// gives it: the text after the first "=" of the first line in that section whose name (the text
// before the "=", trimmed) equals `key` ignoring case; blanks around it removed, and one pair of
// enclosing quotes. nullopt when the file cannot be read or holds no such key.
std::optional<UnicodeString> ReadIniValue(const std::string& path, std::u16string_view section,
                                          std::u16string_view key);

// Writes a data-link file holding `connectionString`, replacing any file of that name (written
// to a temporary file and renamed). Raises EInOutError when the file cannot be written.
void WriteUdlFile(const std::string& path, std::u16string_view connectionString);

}  // namespace platform
