// SQL tools: transaction ids and statements per database product, the double-quote swap of
// query texts, an injection screen for user input, the database-product probe, and lists of
// tables and columns. Class operations only.
//
// Query texts of the library are written with double quotes around SQL string literals and pass
// PrepareSQL before they are opened. Values that come from users are bound as parameters by the
// library; SecureSQL is a screen offered to callers, not what the library's own safety rests on.
#pragma once

#include "StringList.h"
#include "Text.h"
#include "qzTypes.h"

class TqzSQL {
 public:
  TqzSQL() = delete;

  // "QZTA" + local time "hhnnsszzz" + "_" + 5 hexadecimal digits of a new id + "_" + the running
  // program's file name without folder and extension, upper-cased, every character outside
  // A-Z, 0-9 and "_" written as "_"; at most 32 characters.
  static UnicodeString CreateTransactionId();

  // The statement that begins, commits or rolls back a transaction on that product.
  static UnicodeString GetTransactionStatement(const UnicodeString& TransactionId,
                                               TqzDatabaseType DatabaseType,
                                               TqzTransactionType TransactionType);

  // Every double quote becomes a single quote: in every line of the list (result always true) or
  // in the statement.
  static bool PrepareSQL(TStrings& SQL);
  static UnicodeString PrepareSQL(const UnicodeString& Statement);

  // Screens user input for SQL injection; raises Exception "possible SQL injection attack
  // detected!" for a suspect text. With Convert, single quotes are doubled; for SELECT texts
  // "(", ")", "^", double quote and ";" are also bracketed ("[(]") as in LIKE patterns. The
  // screen looks at every occurrence of each statement word.
  static UnicodeString SecureSQL(const UnicodeString& InStr, bool Convert, TqzSQLQueryType SQLQueryType);

  // Probes the database behind the connection string (MSSQL, MySQL/MariaDB, Oracle, DB2);
  // qzDBT_Unknown and "Unknown" when no probe succeeds. Never raises for database errors.
  static TqzDatabaseType GetDatabaseType(const UnicodeString& ConnectionString, UnicodeString& DatabaseVersion);
  static TqzDatabaseType GetDatabaseType(const UnicodeString& ConnectionString);

  // Appends the names of the database's tables (MySQL: of the connection's current database) or
  // of a table's columns to the list; raises "unsupported database type" for products without a
  // query, and passes database errors on. Result true.
  static bool GetTables(const UnicodeString& ConnectionString, TqzDatabaseType DatabaseType, TStrings& Tables);
  static bool GetColumns(const UnicodeString& ConnectionString, TqzDatabaseType DatabaseType,
                         const UnicodeString& Table, TStrings& Columns);
};
