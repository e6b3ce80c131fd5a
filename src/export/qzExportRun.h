// The export run of command 600 (RunExport, declared in qzExportService.h): finds the stapling
// record in the KQF database, checks the page count, maps the index fields, hands the document
// to the archive server (request "CREATEDOCEXT"), writes the link record and marks the record as
// archived. Results and messages (German, as the host shows them):
//
//   "Der Barcode konnte nicht ermittelt werden - überprüfen Sie Ihre Anwendung!"     -1  files kept
//   <barcode> " - Es wurde kein offener Barcode gefunden"                            -2  deleted
//   <barcode> " - Die Seitenanzahl der Heftung stimmt nicht mit der in KQF überein"   -2  deleted
//   <barcode> " - Es wurden keine zugehörigen Indexdaten gefunden"                    -2  deleted
//   "Objekt " <path> " kann nicht hinzugefügt werden!"                                 -2  deleted
//   "Der Server gab eine ungültige Antwort zurück!"                                    -1  deleted
//   "Das Dokument konnte nicht abgelegt werden!"                                       -1  deleted
//   "Testmodus ist aktiv - Heftungen und Datenbankeinträge werden nicht gelöscht ..."  -2  deleted
//   (no message: archived, record marked)                                               0  deleted
// An exception (database error, missing column) reaches the command guard: -1, "Unexpected
// error occured (...)", page files deleted.
//
// Every value of the lookup (barcode, prefixed barcodes, record key, client, document types) is
// bound as a parameter; configured names were checked when the configuration was applied.
// With "UNSHARP" the barcode is matched as a prefix: its own "%", "_" and "!" are escaped, so it
// matches literally on every database.
#pragma once

#include "Database.h"
#include "qzExportService.h"

// The folder the archive client keeps for fetched files (the installation's temporary folder,
// created when missing).
UnicodeString ExportTempPath();

// Fills `query` with the lookup statement for the barcode or the record key of the module's
// current document (parameters bound) without opening it.
void PrepareLookup(TExportModule& module, const UnicodeString& barcode, platform::DbDataSet& query);
