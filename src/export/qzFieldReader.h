// The export service's field reader: every KQF field is read through GetFieldText, so that
// columns holding raw EBCDIC bytes arrive as text like every other column.
#pragma once

#include "Database.h"
#include "Ebcdic.h"
#include "Text.h"

// The text of the named column of the query's current record:
//  - a column of bytes (binary, varbinary): its bytes translated from EBCDIC to ASCII through
//    `converter` (one character per byte), trimmed of codes 0..32 at both ends;
//  - any other column: its text as the database layer gives it, untrimmed (NULL reads as "");
//  - no column of that name, or any failure while reading: the empty text.
// Never raises. `converter` may be null: a converter of the call's own is used then.
UnicodeString GetFieldText(platform::DbDataSet& query, const UnicodeString& columnName, TEbcdic* converter);
