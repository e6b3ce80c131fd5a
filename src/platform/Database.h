// The database layer: our stand-in for ADO, built on unixODBC's wide API.
//
//   DbConnection  a connection by connection string (see ResolveConnectionString in
//                 DatabaseText.h: ODBC strings, "FILE NAME=<x.udl>", "Provider=MSDASQL;").
//                 Opened explicitly or on first use; kept open between statements. A connection
//                 the server dropped (link failure, "server has gone away", KILL, restart) is
//                 noticed: before a statement outside a transaction the driver is asked whether
//                 the link is dead (SQL_ATTR_CONNECTION_DEAD) - every time where the driver knows
//                 it without asking the server, and after LinkCheckIdleMs of idleness where it
//                 pings (MariaDB, MySQL) - and a link-failure error marks the connection closed,
//                 so the next statement opens it again. A query that met a dead link, and any
//                 statement that provably never reached the server (the connection had been
//                 killed, or the statement could not be sent), is run once more on a fresh
//                 connection.
//
//                 Results are read with one buffer per statement for the first piece of every
//                 text and binary value; longer values are read into their result in one piece
//                 when the driver reports the length (else the result doubles as it fills).
//   DbDataSet     a query (or table statement) with its lines in SQL, ":NAME" parameters bound
//                 by type, the whole result fetched into memory on Open: RecordCount, Eof/Bof,
//                 First/Next/Prior/Last, fields by name (case-insensitive) and by position,
//                 column names and types also for empty results. Append/Edit/Post/Delete write
//                 through generated INSERT/UPDATE/DELETE statements on the query's one table:
//                 rows are found by primary key (SQLPrimaryKeys), else by the original values of
//                 all columns (NULL-aware), and exactly one row must match.
//   DbCommand     a statement without result (ExecSQL), with parameters.
//
// Every driver error is raised as EOleException with the driver's diagnostic text (all records,
// joined by line breaks). Values travel as Variant: text columns as varOleStr (UTF-16), integers
// as the integer code of their width (widened when a value does not fit), floats as
// varDouble/varSingle, exact numerics (DECIMAL, NUMERIC) never through a double: scale 0 as
// varInt64 (a value beyond 64 bits as its decimal text), up to four decimals and 18 digits as
// varCurrency, anything wider as the exact decimal text (varOleStr), dates and times as
// varDate, bit as varBoolean, binary columns as byte arrays (Variant::FromBytes), NULL as Null.
//
// Parameters are bound by the Variant's type: texts as UTF-16, 8-bit strings through the ANSI
// code page, integers as 64-bit, floats and currency as double, dates as timestamps with
// milliseconds, booleans as 0/1, byte arrays as binary, Empty/Null as NULL. A name used twice
// in a statement binds the same value at both places. Values never become part of the SQL text.
//
// Threads: a connection serialises its own statements with a lock; data sets and commands
// belong to one thread at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "StringList.h"
#include "Text.h"
#include "Variant.h"

namespace platform {

class DbConnection;
class DbDataSet;

enum class DbIsolationLevel { Unspecified, ReadUncommitted, ReadCommitted, RepeatableRead, Serializable };

// ---------------------------------------------------------------------------------------------

class DbConnection {
 public:
  DbConnection();
  explicit DbConnection(UnicodeString connectionString);
  ~DbConnection();
  DbConnection(const DbConnection&) = delete;
  DbConnection& operator=(const DbConnection&) = delete;

  // The connection string; a new one takes effect when the connection is next opened.
  const UnicodeString& ConnectionString() const { return connectionString_; }
  void SetConnectionString(UnicodeString value) { connectionString_ = std::move(value); }

  // Seconds; 0 waits without limit. LoginTimeout applies to opening, CommandTimeout is the
  // default for data sets and commands that keep their own at -1.
  int LoginTimeout = 15;
  int CommandTimeout = 30;
  // Idle time after which a driver that pings to tell a dead link is asked again.
  int LinkCheckIdleMs = 5000;
  DbIsolationLevel IsolationLevel = DbIsolationLevel::Unspecified;

  void Open();
  void Close();
  bool Connected() const;
  void SetConnected(bool value) { value ? Open() : Close(); }

  // Explicit transactions (auto-commit is on outside them). A link failure inside a
  // transaction ends it: the work is lost and the error says so.
  void BeginTrans();
  void CommitTrans();
  void RollbackTrans();
  bool InTransaction() const { return inTransaction_; }

  // Runs one statement without parameters; the number of rows it changed (-1 when unknown).
  int64_t Execute(const UnicodeString& sql, int commandTimeout = -1);

  // Facts about the open connection (opened on demand): the DBMS product and version as the
  // driver reports them ("MariaDB", "10.11.6-MariaDB..."; "SQLite", "3.40.1"), the driver's
  // file name, and the quote character for identifiers.
  UnicodeString DbmsName();
  UnicodeString DbmsVersion();
  UnicodeString DriverName();
  UnicodeString IdentifierQuote();

  // Number of times the connection has been opened (tests and diagnostics: a reopen after a
  // dropped link counts).
  int OpenCount() const { return openCount_; }

  // Whether the connection is open and its link alive, by the driver's dead-connection test
  // (MariaDB: a ping). Never opens or reopens anything; a dead link is closed.
  bool LinkAlive();

  // ---- for the data set and command classes -------------------------------------------------
  struct Column {
    UnicodeString Name;
    int16_t SqlType = 0;
    uint64_t Size = 0;
    int16_t Scale = 0;
    bool Nullable = true;
    bool Unsigned = false;
    uint16_t VarType = varEmpty;  // type code of the column's values
  };
  struct Result {
    bool HasResultSet = false;
    std::vector<Column> Columns;
    std::vector<std::vector<Variant>> Rows;
    int64_t RowsAffected = -1;
  };
  // Runs a statement whose parameters are already "?" markers, with one value per marker.
  // fetch: read the result set into Result (none is fine when the statement returns none).
  // retryOnDeadLink: run it once more on a fresh connection when the link turns out dead and
  // no transaction is open (safe for reads only).
  Result Run(const UnicodeString& sql, const std::vector<Variant>& values, int commandTimeout,
             bool fetch, bool retryOnDeadLink);
  // Primary-key column names of a table ("schema.table" allowed), empty when none or unknown.
  std::vector<UnicodeString> PrimaryKeys(const UnicodeString& table);
  std::recursive_mutex& Lock() { return lock_; }

 private:
  struct Handles;
  void EnsureOpen();
  void MarkDead();
  bool LinkIsDead();
  bool LinkCheckDue() const;
  [[noreturn]] void RaiseDbcError(const char16_t* context);
  Result RunOnce(const UnicodeString& sql, const std::vector<Variant>& values, int commandTimeout,
                 bool fetch, bool& deadLink);
  UnicodeString InfoText(uint16_t infoType);

  UnicodeString connectionString_;
  std::unique_ptr<Handles> h_;
  bool inTransaction_ = false;
  int openCount_ = 0;
  bool checkPings_ = false;
  std::chrono::steady_clock::time_point lastUsed_{};
  std::recursive_mutex lock_;
};

// ---------------------------------------------------------------------------------------------

class DbParameter {
 public:
  explicit DbParameter(UnicodeString name) : Name(std::move(name)) {}
  UnicodeString Name;
  Variant Value;
  void SetValue(Variant v) { Value = std::move(v); }
  void Clear() { Value = Variant(); }
};

class DbParameters {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  DbParameter& Items(int index);
  DbParameter& operator[](int index) { return Items(index); }
  // By name, case-insensitive; ParamByName raises EOleException when missing.
  DbParameter* FindParam(const UnicodeString& name);
  DbParameter& ParamByName(const UnicodeString& name);
  void Clear() { items_.clear(); }

  // Rebuilds the list for these names (each once, in order of first appearance), keeping the
  // values of names that stay.
  void Assign(const std::vector<UnicodeString>& names);
  // The values in the order of the given markers.
  std::vector<Variant> ValuesFor(const std::vector<UnicodeString>& names);

 private:
  std::vector<std::unique_ptr<DbParameter>> items_;
};

// A statement text with its parameters, shared by data sets and commands.
class DbStatement {
 public:
  bool ParamCheck = true;  // false: the text is sent as written, no ":NAME" parsing
  DbParameters& Parameters();
  DbParameter& ParamByName(const UnicodeString& name) { return Parameters().ParamByName(name); }

 protected:
  // The text to send and the values for its markers.
  void Prepare(const UnicodeString& text, UnicodeString& sql, std::vector<Variant>& values);
  virtual UnicodeString StatementText() const = 0;
  virtual ~DbStatement() = default;

 private:
  void Sync();
  DbParameters params_;
  UnicodeString parsedText_;
  bool parsedCheck_ = true;
  bool parsed_ = false;
  std::vector<UnicodeString> markerNames_;
  UnicodeString parsedSql_;
};

// ---------------------------------------------------------------------------------------------

enum class DbDataSetState { Inactive, Browse, Edit, Insert };

class DbField {
 public:
  DbField(DbDataSet* owner, int index, DbConnection::Column column)
      : owner_(owner), index_(index), column_(std::move(column)) {}

  const UnicodeString& FieldName() const { return column_.Name; }
  int Index() const { return index_; }
  int16_t SqlType() const { return column_.SqlType; }
  uint16_t DataType() const { return column_.VarType; }  // Variant type code of the values
  uint64_t Size() const { return column_.Size; }
  bool Nullable() const { return column_.Nullable; }

  // The current row's value; Null when the data set has no current row.
  Variant Value() const;
  bool IsNull() const { return Value().IsEmptyOrNull(); }
  UnicodeString AsString() const { return VarToStr(Value()); }  // Null gives ""
  int64_t AsInteger() const;                                    // Null gives 0
  double AsFloat() const;                                       // Null gives 0
  bool AsBoolean() const;                                       // Null gives false
  TDateTime AsDateTime() const;                                 // Null gives 0
  std::string AsBytes() const;                                  // binary or text as bytes

  // Writing needs the data set in Edit or Insert state (else EOleException).
  void SetValue(const Variant& value);
  void SetAsString(const UnicodeString& value) { SetValue(Variant::FromOleStr(value)); }
  void Clear() { SetValue(Variant::Null()); }

 private:
  DbDataSet* owner_;
  int index_;
  DbConnection::Column column_;
};

class DbDataSet : public DbStatement {
 public:
  DbDataSet();
  explicit DbDataSet(DbConnection* connection);
  ~DbDataSet() override;
  DbDataSet(const DbDataSet&) = delete;
  DbDataSet& operator=(const DbDataSet&) = delete;

  // Either a shared connection, or a connection string for a connection of the data set's own
  // (opened on Open, kept until the data set goes or the string changes).
  DbConnection* Connection() const { return connection_; }
  void SetConnection(DbConnection* connection);
  const UnicodeString& ConnectionString() const { return connectionString_; }
  void SetConnectionString(UnicodeString value);

  TStringList SQL;  // the statement's lines
  UnicodeString CommandText() const { return StatementText(); }
  void SetCommandText(const UnicodeString& text) { SQL.SetText(text); }
  int CommandTimeout = -1;  // seconds; -1: the connection's

  void Open();
  void Close();
  bool Active() const { return state_ != DbDataSetState::Inactive; }
  void SetActive(bool value) { value ? Open() : Close(); }
  // Runs the statement without expecting rows; the number of rows it changed.
  int64_t ExecSQL();
  DbDataSetState State() const { return state_; }

  int RecordCount() const { return static_cast<int>(rows_.size()); }
  bool IsEmpty() const { return rows_.empty(); }
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  int RecNo() const { return rows_.empty() ? 0 : cursor_ + 1; }  // 1-based, 0 when empty
  void First();
  void Next();
  void Prior();
  void Last();
  // Moves to the record with this 1-based number.
  void SetRecNo(int recNo);

  int FieldCount() const { return static_cast<int>(fields_.size()); }
  DbField& Fields(int index);
  DbField* FindField(const UnicodeString& name);
  DbField& FieldByName(const UnicodeString& name);
  std::vector<UnicodeString> FieldNames() const;

  // Append/Insert add a row (at the end), Edit changes the current one; Post writes it, Cancel
  // drops the change, Delete removes the current row from the table and the data set.
  void Append();
  void Insert() { Append(); }
  void Edit();
  void Post();
  void Cancel();
  void Delete();

  // The table written by Post/Delete: the query's single table unless set.
  UnicodeString UpdateTable;

 protected:
  UnicodeString StatementText() const override { return SQL.Text(); }
  // Builds the field list from the open result's columns; derived data sets may extend it.
  virtual void InitFieldDefs();

 private:
  friend class DbField;
  DbConnection& Conn();
  Variant CurrentValue(int index) const;
  void SetCurrentValue(int index, const Variant& value);
  void CheckBrowseMode();
  void CheckActive() const;
  UnicodeString TargetTable();
  struct Where {
    UnicodeString Sql;
    std::vector<Variant> Values;
  };
  Where LocateRow(DbConnection& conn, const UnicodeString& table, const UnicodeString& quote,
                  const std::vector<Variant>& original);
  void PostInsert(DbConnection& conn);
  void PostEdit(DbConnection& conn);
  int64_t RunChecked(DbConnection& conn, const UnicodeString& table, const Where& where,
                     const UnicodeString& sql, const std::vector<Variant>& values);

  DbConnection* connection_ = nullptr;
  UnicodeString connectionString_;
  std::unique_ptr<DbConnection> ownConnection_;

  DbDataSetState state_ = DbDataSetState::Inactive;
  std::vector<DbConnection::Column> columns_;
  std::vector<std::unique_ptr<DbField>> fields_;
  std::vector<std::vector<Variant>> rows_;
  int cursor_ = 0;
  bool eof_ = true;
  bool bof_ = true;
  // Edit/Insert buffer
  std::vector<Variant> buffer_;
  std::vector<bool> modified_;
  int savedCursor_ = 0;
  UnicodeString queryText_;  // the SQL the data set was opened with
  std::vector<UnicodeString> primaryKeys_;
  bool primaryKeysKnown_ = false;
};

// ---------------------------------------------------------------------------------------------

class DbCommand : public DbStatement {
 public:
  DbCommand() = default;
  explicit DbCommand(DbConnection* connection) : connection_(connection) {}
  ~DbCommand() override;

  DbConnection* Connection() const { return connection_; }
  void SetConnection(DbConnection* connection) { connection_ = connection; }
  const UnicodeString& ConnectionString() const { return connectionString_; }
  void SetConnectionString(UnicodeString value);

  UnicodeString CommandText;
  int CommandTimeout = -1;  // seconds; -1: the connection's

  // Runs the statement; the number of rows it changed (-1 when unknown).
  int64_t Execute();

 protected:
  UnicodeString StatementText() const override { return CommandText; }

 private:
  DbConnection& Conn();
  DbConnection* connection_ = nullptr;
  UnicodeString connectionString_;
  std::unique_ptr<DbConnection> ownConnection_;
};

}  // namespace platform
