// Index-field mapping of the export run: turns the found KQF stapling record (positions 01..32),
// its supplement record (positions 33..64, table ZDMNNCID) and, when enabled, the records of the
// add-on table into archive index entries, appended to the module's IndexList.
//
// Which KQF field goes where is said by the "ASSIGN" rows (Doctype, Field, Arc.Fld Id,
// DateConvert, Db origin, Curr. Convert, Clear Zeros, Length, Add Zeros); the add-on records are
// selected by the "ADDONSELECT" rows (Source field list of the found record, Target field of the
// add-on table). Every value reaches the database as a bound parameter.
#pragma once

#include "Database.h"
#include "qzExportService.h"

// The value of one "ASSIGN" row's conversion applied to a KQF field value, first rule that
// applies:
//   DateConvert   yyyymmdd becomes dd.mm.yyyy (characters beyond the value's end are missing);
//   Curr. Convert an amount in cents: trimmed, leading zeros removed, padded with zeros to at
//                 least three digits, a comma before the last two (5 -> 0,05, 000 -> 0,00);
//   Clear Zeros   trimmed, leading zeros removed (a text of zeros only stays as it is);
//   Add Zeros     with Length > 0: trimmed, left-padded with "0" to Length;
//   otherwise     the value as read.
UnicodeString ConvertAssignedValue(const TAssignRow& row, const UnicodeString& value);

// Maps one KQF record's positions first..last (two-digit positions, "ZDME"+nn names the field,
// "ZDMV"+nn holds its value) for the document type `doc` (trimmed, upper-cased); appends one
// entry per matching "Source" row to IndexList and returns the number of matches.
int MapKqfRecord(TExportModule& module, platform::DbDataSet& record, int first, int last, const UnicodeString& doc);

// The whole mapping step on the main query's current record: the main record, its supplement
// record when "ZDMSUP" is "1" (skipped when "ZDMTNO" is empty), and the add-on lookup when
// "AOENABLED" is on. Returns the count of values found (matches plus non-empty add-on values).
int MapIndexFields(TExportModule& module);

// The add-on lookup alone: reads the add-on table with the "ADDONSELECT" keys of the found
// record and merges the "AddOn" rows' values into IndexList. Rows with an empty target field are
// skipped; without any condition left, nothing is read. Returns the number of non-empty values.
int LookupAddon(TExportModule& module);

// The value as it is bound in place of a quoted literal: every double quote becomes a single
// quote, as the statement texts of the KQF interface have always done with their values.
UnicodeString SwapDoubleQuotes(UnicodeString value);
