// 8-bit string lists: lists of byte texts (wire data, file contents) that never pass through
// UTF-16, so their bytes stay exactly as they are.
//
// TAnsiStrings is the abstract list interface and TAnsiStringList the list, both the platform's
// string list (StringList.h) over AnsiString; see there for the full behaviour. In short:
// - items are 8-bit strings with an object reference each; the list never frees those objects
//   (OwnsObjects stays off unless a caller sets it);
// - comparisons ignore case unless CaseSensitive, through the locale's collation of the texts
//   widened from Windows-1252; IndexOf, IndexOfName, Find, Sort and the duplicate test use them;
// - Text writes every item followed by CR LF and reads lines ended by CR LF, LF or CR;
//   DelimitedText / CommaText quote items with blanks, quote characters or delimiters;
// - errors raise EStringListError with "Listenindex überschreitet das Maximum (%d)",
//   "Operation für sortierte Listen nicht zulässig" or
//   "In der Stringliste sind Duplikate nicht erlaubt";
// - OnChanging / OnChange fire around each change, once per outermost BeginUpdate/EndUpdate;
// - the capacity grows by 4, 16 or a quarter (4, 8, 12, 28, 44, 60, 76, 95, ...), never shrinks on
//   Delete and returns to 0 on Clear;
// - LoadFromFile/LoadFromStream/SaveToFile/SaveToStream move the bytes of Text unchanged.
// Where the classic list would lose or invent data, it does not: ValueFromIndex of an item without
// separator is empty (not the item minus its first character), zero bytes in Text are data,
// Move and value writes on a sorted list are refused before anything changes, and sorting is a
// stable merge sort that always keeps every item.
#pragma once

#include "StringList.h"

using TAnsiStrings = TStringsT<AnsiString>;
using TAnsiStringList = TStringListT<AnsiString>;
using TAnsiStringItem = TAnsiStringList::Item;
using TAnsiStringListSortCompare = TAnsiStringList::TStringListSortCompare;
