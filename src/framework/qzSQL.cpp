#include "qzSQL.h"

#include <array>
#include <memory>

#include "Clock.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "Module.h"
#include "Variant.h"
#include "qzADO.h"
#include "qzFiles.h"
#include "qzTools.h"
#include "qzToolsEvo2.h"

namespace {

UnicodeString ReplaceAll(UnicodeString text, std::u16string_view from, std::u16string_view to) {
  if (from.empty()) return text;
  size_t pos = 0;
  while ((pos = text.find(from, pos)) != UnicodeString::npos) {
    text.replace(pos, from.size(), to);
    pos += to.size();
  }
  return text;
}

// Replaces until no occurrence is left (for replacements that shrink the text).
UnicodeString ReplaceUntilGone(UnicodeString text, std::u16string_view from, std::u16string_view to) {
  while (text.find(from) != UnicodeString::npos) text = ReplaceAll(std::move(text), from, to);
  return text;
}

// The running program's file name without folder and extension.
UnicodeString ProgramPureName() {
  const std::string exe = platform::ProcessExecutableName();
  if (exe.empty()) return {};
  return TqzFiles::ExtractPureFileName(platform::Utf8ToWide(exe));
}

}  // namespace

UnicodeString TqzSQL::CreateTransactionId() {
  UnicodeString id = u"QZTA" + platform::FormatDateTime(u"hhnnsszzz", platform::Now()) + u"_" + platform::AnsiToWide(TqzTools::CreateId().str().substr(0, 5)) + u"_";
  for (char16_t c : UpperCaseStr(ProgramPureName())) {
    bool plain = (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_';
    id.push_back(plain ? c : u'_');
  }
  if (id.size() > 32) id.resize(32);
  return id;
}

UnicodeString TqzSQL::GetTransactionStatement(const UnicodeString& TransactionId, TqzDatabaseType DatabaseType,
                                              TqzTransactionType TransactionType) {
  switch (DatabaseType) {
    case qzDBT_MySQL:
      switch (TransactionType) {
        case qzTT_Begin: return u"START TRANSACTION";
        case qzTT_Commit: return u"COMMIT";
        case qzTT_RollBack: return u"ROLLBACK";
      }
      break;
    case qzDBT_Oracle:
      switch (TransactionType) {
        case qzTT_Begin: return u"SAVEPOINT " + TransactionId;
        case qzTT_Commit: return u"COMMIT WORK RELEASE";
        case qzTT_RollBack: return u"ROLLBACK TO SAVEPOINT " + TransactionId;
      }
      break;
    default:
      break;
  }
  switch (TransactionType) {
    case qzTT_Begin: return u"BEGIN TRANSACTION " + TransactionId;
    case qzTT_Commit: return u"COMMIT TRANSACTION " + TransactionId;
    case qzTT_RollBack: return u"ROLLBACK TRANSACTION " + TransactionId;
  }
  return {};
}

bool TqzSQL::PrepareSQL(TStrings& SQL) {
  for (int i = 0; i < SQL.Count(); ++i) {
    UnicodeString line = SQL.Get(i);
    if (line.find(u'"') != UnicodeString::npos) SQL.Put(i, PrepareSQL(line));
  }
  return true;
}

UnicodeString TqzSQL::PrepareSQL(const UnicodeString& Statement) {
  UnicodeString out = Statement;
  for (char16_t& c : out) {
    if (c == u'"') c = u'\'';
  }
  return out;
}

UnicodeString TqzSQL::SecureSQL(const UnicodeString& InStr, bool Convert, TqzSQLQueryType SQLQueryType) {
  UnicodeString text = InStr;
  if (Convert) {
    // A single quote is doubled whatever the statement, so a value cannot end its literal.
    text = ReplaceAll(std::move(text), u"'", u"''");
    if (SQLQueryType == qzSQT_SELECT) {
      text = ReplaceAll(std::move(text), u"(", u"[(]");
      text = ReplaceAll(std::move(text), u")", u"[)]");
      text = ReplaceAll(std::move(text), u"^", u"[^]");
      text = ReplaceAll(std::move(text), u"\"", u"[\"]");
      text = ReplaceAll(std::move(text), u";", u"[;]");
    }
  }

  UnicodeString check = UpperCaseStr(text);
  check = ReplaceUntilGone(std::move(check), u"  ", u" ");
  check = ReplaceUntilGone(std::move(check), u"; ", u";");

  static const std::array<std::u16string_view, 11> statementWords = {
      u"SELECT ", u"INSERT ", u"UPDATE ", u"DELETE ", u"ALTER ", u"CREATE ",
      u"EXEC ",   u"DROP ",   u"MODIFY ", u"DUMP ",   u"--"};
  static const std::array<std::u16string_view, 12> followWords = {
      u"FROM ", u"TABLE ", u"DATABASE ", u"SET ", u"WHERE ", u"INTO ",
      u"INDEX ", u"VIEW ", u"PRIMARY ", u"KEY ", u"(", u";"};
  for (std::u16string_view word : statementWords) {
    // Every occurrence counts: a harmless first one must not hide a later one.
    for (size_t pos = check.find(word); pos != UnicodeString::npos; pos = check.find(word, pos + 1)) {
      bool suspect = pos > 0 && check[pos - 1] == u';';
      if (!suspect) {
        std::u16string_view after = std::u16string_view(check).substr(pos + word.size(), 10);
        for (std::u16string_view follow : followWords) {
          if (after.find(follow) != std::u16string_view::npos) {
            suspect = true;
            break;
          }
        }
      }
      if (suspect) throw Exception(u"possible SQL injection attack detected!");
    }
  }
  return text;
}

TqzDatabaseType TqzSQL::GetDatabaseType(const UnicodeString& ConnectionString, UnicodeString& DatabaseVersion) {
  struct Probe {
    const char16_t* sql;
    TqzDatabaseType type;
    const char16_t* name;
  };
  static const Probe probes[] = {
      {u"SELECT SERVERPROPERTY(\"PRODUCTVERSION\"), SERVERPROPERTY (\"PRODUCTLEVEL\"), SERVERPROPERTY (\"EDITION\")",
       qzDBT_MSSQL, u"MSSQL"},
      {u"SELECT VERSION()", qzDBT_MySQL, u"MYSQL"},
      {u"SELECT * FROM V$VERSION", qzDBT_Oracle, u"ORACLE"},
      {u"SELECT SERVICE_LEVEL, FIXPACK_NUM, BLD_LEVEL FROM TABLE (SYSPROC.ENV_GET_INST_INFO()) AS A", qzDBT_DB2,
       u"DB2"},
  };
  DatabaseVersion = u"Unknown";
  TqzADODataSet query;
  query.SetConnectionString(ConnectionString);
  for (const Probe& probe : probes) {
    try {
      query.Close();
      query.SQL.Clear();
      query.SQL.Add(probe.sql);
      PrepareSQL(query.SQL);
      query.Open();
      UnicodeString version = probe.name;
      if (!query.IsEmpty()) {
        query.First();
        for (int i = 0; i < query.FieldCount(); ++i) version += u" " + query.Fields(i).AsString();
      }
      DatabaseVersion = version;
      query.Close();
      return probe.type;
    } catch (const std::exception&) {
      // This probe does not fit the database (or the database cannot be reached): next one.
    }
  }
  query.Close();
  return qzDBT_Unknown;
}

TqzDatabaseType TqzSQL::GetDatabaseType(const UnicodeString& ConnectionString) {
  UnicodeString version;
  return GetDatabaseType(ConnectionString, version);
}

bool TqzSQL::GetTables(const UnicodeString& ConnectionString, TqzDatabaseType DatabaseType, TStrings& Tables) {
  UnicodeString sql;
  switch (DatabaseType) {
    case qzDBT_MSSQL:
      sql = u"SELECT TABLE_NAME FROM INFORMATION_SCHEMA.TABLES ORDER BY TABLE_NAME";
      break;
    case qzDBT_MySQL:
      // The connection's own database only: the server's other databases are not its tables.
      sql = u"SELECT TABLE_NAME FROM INFORMATION_SCHEMA.TABLES WHERE TABLE_SCHEMA = DATABASE() ORDER BY TABLE_NAME";
      break;
    case qzDBT_Oracle:
      sql = u"SELECT TABLE_NAME FROM DBA_TABLES ORDER BY TABLE_NAME";
      break;
    case qzDBT_DB2:
      sql = u"SELECT TABNAME AS TABLE_NAME FROM SYSCAT.TABLES ORDER BY TABLE_NAME";
      break;
    default:
      throw Exception(u"unsupported database type");
  }
  TqzADODataSet query;
  query.SetConnectionString(ConnectionString);
  query.SQL.Add(sql);
  PrepareSQL(query.SQL);
  query.Open();
  for (query.First(); !query.Eof(); query.Next()) Tables.Add(query.FieldByName(u"TABLE_NAME").AsString());
  query.Close();
  return true;
}

bool TqzSQL::GetColumns(const UnicodeString& ConnectionString, TqzDatabaseType DatabaseType,
                        const UnicodeString& Table, TStrings& Columns) {
  UnicodeString sql;
  switch (DatabaseType) {
    case qzDBT_MSSQL:
      sql = u"SELECT COLUMN_NAME FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = :TABLE_NAME";
      break;
    case qzDBT_MySQL:
      sql = u"SELECT COLUMN_NAME FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = :TABLE_NAME "
            u"AND TABLE_SCHEMA = DATABASE()";
      break;
    case qzDBT_Oracle:
      sql = u"SELECT COLUMN_NAME FROM COLS WHERE TABLE_NAME = :TABLE_NAME";
      break;
    case qzDBT_DB2:
      sql = u"SELECT COLNAME AS COLUMN_NAME FROM SYSCAT.COLUMNS WHERE TABNAME = :TABLE_NAME";
      break;
    default:
      throw Exception(u"unsupported database type");
  }
  TqzADODataSet query;
  query.SetConnectionString(ConnectionString);
  query.SQL.Add(sql);
  query.ParamByName(u"TABLE_NAME").Value = Variant::FromOleStr(Table);
  query.Open();
  for (query.First(); !query.Eof(); query.Next()) Columns.Add(query.FieldByName(u"COLUMN_NAME").AsString());
  query.Close();
  return true;
}
