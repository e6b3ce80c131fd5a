// Text work of the database layer that needs no database: connection strings and data-link
// files, ":NAME" parameters, and the single table of a query (for Append/Edit/Post).
#pragma once

#include <string>
#include <vector>

#include "Text.h"

namespace platform {

// One "key=value" item of a connection string, in the order written. Values may have been
// written in braces ({...}, "}}" for "}") or double quotes; Value holds them without.
struct ConnectionStringItem {
  UnicodeString Key;
  UnicodeString Value;
};

// Splits a connection string at ";" outside braces and quotes; items without "=" are kept with
// an empty value. Blanks around keys and unquoted values are removed.
std::vector<ConnectionStringItem> ParseConnectionString(std::u16string_view text);
// Writes items back as "key=value;" pairs, bracing values that need it.
UnicodeString BuildConnectionString(const std::vector<ConnectionStringItem>& items);

// The connection string that a data-link (.udl) file holds: the file is UTF-16LE with a byte
// order mark (UTF-8 and plain 8-bit files are read as well); in its "[oledb]" section the first
// line that is not a comment (";") is the connection string. Raises EOleException when the file
// cannot be read or has no such line.
UnicodeString ReadDataLinkFile(const UnicodeString& fileName);

// Turns a connection string as the library's callers write it into an ODBC connection string:
//   "FILE NAME=<x.udl>"   is replaced by the data-link file's connection string;
//   "Provider=MSDASQL"    (also "MSDASQL.1") is dropped, and the OLE DB keywords of that provider
//                         are mapped to ODBC ones (Data Source -> DSN, User ID -> UID,
//                         Password -> PWD, Initial Catalog -> DATABASE, Extended Properties
//                         spliced in, Persist Security Info dropped);
//   any other provider    is refused with EOleException naming it.
// An empty result raises EOleException as well.
UnicodeString ResolveConnectionString(const UnicodeString& connectionString);

// A statement with its ":NAME" parameters replaced by "?" (outside string literals, quoted
// names and comments; "::" stands for one ":"), and the names in order of appearance (a name
// that appears twice is listed twice).
struct ParsedStatement {
  UnicodeString Sql;
  std::vector<UnicodeString> ParamNames;
};
ParsedStatement ParseParameters(std::u16string_view sql);

// The table a query reads when it reads exactly one: "SELECT ... FROM name [alias] [WHERE|ORDER
// |GROUP|HAVING|LIMIT ...]" gives name as written (with its schema prefix, quotes kept).
// Empty when the statement is not such a query (joins, several tables, sub-queries, unions).
UnicodeString SingleTableOfQuery(std::u16string_view sql);

// Upper-case form for case-insensitive name lookups (simple case mapping).
UnicodeString NameKey(std::u16string_view name);

}  // namespace platform
