#include "qzSQL.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>

#include "Clock.h"
#include "CodePage.h"
#include "DbFixtures.h"
#include "Exceptions.h"
#include "StringList.h"
#include "qzADO.h"

// Run as a helper process (see CreateTransactionIdUsesTheProgramName): print the id and leave.
static const bool kPrintIdAndExit = [] {
  if (std::getenv("QZ_PRINT_TRANSACTION_ID")) {
    std::printf("%s\n", platform::WideToUtf8(TqzSQL::CreateTransactionId()).c_str());
    std::fflush(stdout);
    std::_Exit(0);
  }
  return false;
}();

namespace {

std::string U8(const UnicodeString& s) { return platform::WideToUtf8(s); }

TEST(qzSQL, TransactionStatementsPerDatabaseType) {
  struct Row {
    TqzDatabaseType type;
    const char16_t* begin;
    const char16_t* commit;
    const char16_t* rollback;
  };
  const std::vector<Row> golden = {
      {qzDBT_MySQL, u"START TRANSACTION", u"COMMIT", u"ROLLBACK"},
      {qzDBT_Oracle, u"SAVEPOINT QZTA1", u"COMMIT WORK RELEASE", u"ROLLBACK TO SAVEPOINT QZTA1"},
      {qzDBT_MSSQL, u"BEGIN TRANSACTION QZTA1", u"COMMIT TRANSACTION QZTA1", u"ROLLBACK TRANSACTION QZTA1"},
      {qzDBT_MSSQL2012, u"BEGIN TRANSACTION QZTA1", u"COMMIT TRANSACTION QZTA1", u"ROLLBACK TRANSACTION QZTA1"},
      {qzDBT_DB2, u"BEGIN TRANSACTION QZTA1", u"COMMIT TRANSACTION QZTA1", u"ROLLBACK TRANSACTION QZTA1"},
      {qzDBT_Informix, u"BEGIN TRANSACTION QZTA1", u"COMMIT TRANSACTION QZTA1", u"ROLLBACK TRANSACTION QZTA1"},
      {qzDBT_N7, u"BEGIN TRANSACTION QZTA1", u"COMMIT TRANSACTION QZTA1", u"ROLLBACK TRANSACTION QZTA1"},
      {qzDBT_Unknown, u"BEGIN TRANSACTION QZTA1", u"COMMIT TRANSACTION QZTA1", u"ROLLBACK TRANSACTION QZTA1"},
  };
  for (const Row& r : golden) {
    SCOPED_TRACE(static_cast<int>(r.type));
    EXPECT_EQ(TqzSQL::GetTransactionStatement(u"QZTA1", r.type, qzTT_Begin), r.begin);
    EXPECT_EQ(TqzSQL::GetTransactionStatement(u"QZTA1", r.type, qzTT_Commit), r.commit);
    EXPECT_EQ(TqzSQL::GetTransactionStatement(u"QZTA1", r.type, qzTT_RollBack), r.rollback);
  }
}

TEST(qzSQL, CreateTransactionIdHasTimeDigitsAndProgramName) {
  platform::SetClock([] {
    return platform::FromLocalDateTime(platform::EncodeDate(2024, 3, 1) + platform::EncodeTime(14, 30, 15, 123));
  });
  UnicodeString a = TqzSQL::CreateTransactionId();
  UnicodeString b = TqzSQL::CreateTransactionId();
  platform::ResetClock();
  EXPECT_TRUE(std::regex_match(U8(a), std::regex("QZTA143015123_[0-9A-F]{5}_QZSQL_TEST"))) << U8(a);
  EXPECT_NE(a, b);  // a new identifier each time
}

// A program whose file name has blanks, hyphens, dots and an umlaut: every character outside
// A-Z, 0-9 and "_" becomes "_", the extension goes, and the id is cut to 32 characters.
TEST(qzSQL, CreateTransactionIdUsesTheProgramName) {
  qztest::TempDir dir;
  std::string copy = dir.Path() + "/svc-\xC3\xBC" "ber long.name.exe";
  std::filesystem::copy_file("/proc/self/exe", copy);
  std::filesystem::permissions(copy, std::filesystem::perms::owner_all);
  qztest::ProcessResult r = qztest::RunProcess({copy}, {}, {"QZ_PRINT_TRANSACTION_ID=1"});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_TRUE(std::regex_match(r.Out, std::regex("QZTA[0-9]{9}_[0-9A-F]{5}_SVC__BER_LON\n"))) << r.Out;
}

TEST(qzSQL, PrepareSQLTurnsDoubleQuotesIntoSingleQuotes) {
  TStringList sql;
  sql.Add(u"SELECT * FROM T");
  sql.Add(u"WHERE NAME = \"X\" AND B = \"it\"\"s\"");
  EXPECT_TRUE(TqzSQL::PrepareSQL(sql));
  EXPECT_EQ(sql[0], u"SELECT * FROM T");
  EXPECT_EQ(sql[1], u"WHERE NAME = 'X' AND B = 'it''s'");
  EXPECT_EQ(TqzSQL::PrepareSQL(u"SELECT VERSION(\"\")"), u"SELECT VERSION('')");
}

TEST(qzSQL, SecureSQLEscapesAndScreens) {
  struct Case {
    const char16_t* in;
    bool convert;
    TqzSQLQueryType type;
    const char16_t* out;  // nullptr: rejected
  };
  const std::vector<Case> cases = {
      {u"Smith", false, qzSQT_SELECT, u"Smith"},
      {u"x; DROP TABLE y", false, qzSQT_SELECT, nullptr},
      {u"select a from b", false, qzSQT_SELECT, nullptr},
      {u"select   a    from b", false, qzSQT_UPDATE, nullptr},
      {u"O'Neil (Smith)", true, qzSQT_SELECT, u"O''Neil [(]Smith[)]"},
      {u"a^b\"c;d", true, qzSQT_SELECT, u"a[^]b[\"]c[;]d"},
      // Other statement kinds: quotes are doubled, nothing else is bracketed.
      {u"O'Neil (Smith)", true, qzSQT_UPDATE, u"O''Neil (Smith)"},
      {u"O'Neil (Smith)", false, qzSQT_UPDATE, u"O'Neil (Smith)"},
      // A statement word near the end looks only at what follows it.
      {u"please select me", false, qzSQT_SELECT, u"please select me"},
      {u"select x from", false, qzSQT_SELECT, u"select x from"},
      // Every occurrence is examined, not only the first.
      {u"I select nothing, but select * from t", false, qzSQT_SELECT, nullptr},
      {u"drop it, then drop table t", false, qzSQT_DELETE, nullptr},
      // Injection attempts.
      {u"x'; DELETE FROM users; --", false, qzSQT_SELECT, nullptr},
      {u"1; exec xp_cmdshell 'dir'", false, qzSQT_SELECT, nullptr},
      {u"Robert'); DROP TABLE Students;--", true, qzSQT_SELECT, nullptr},
      {u"a' union insert into t values (1)", true, qzSQT_INSERT, nullptr},
      {u"x' -- (", false, qzSQT_SELECT, nullptr},
      // Passes the screen, but with Convert the quote can no longer end the literal.
      {u"a' UNION SELECT password FROM users --", true, qzSQT_SELECT, u"a'' UNION SELECT password FROM users --"},
      {u"' OR 1=1 --", true, qzSQT_UPDATE, u"'' OR 1=1 --"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(U8(c.in));
    if (c.out) {
      EXPECT_EQ(TqzSQL::SecureSQL(c.in, c.convert, c.type), c.out);
    } else {
      try {
        TqzSQL::SecureSQL(c.in, c.convert, c.type);
        ADD_FAILURE() << "accepted";
      } catch (const Exception& e) {
        EXPECT_STREQ(e.ClassName(), "Exception");
        EXPECT_EQ(e.Message, u"possible SQL injection attack detected!");
      }
    }
  }
}

TEST(qzSQL, UnsupportedDatabaseTypesAreRefused) {
  for (TqzDatabaseType type : {qzDBT_MSSQL2012, qzDBT_Unknown, qzDBT_Informix, qzDBT_N7}) {
    TStringList list;
    try {
      TqzSQL::GetTables(u"Driver=SQLite3;Database=/nonexistent/x.db", type, list);
      ADD_FAILURE();
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message, u"unsupported database type");
    }
    EXPECT_THROW(TqzSQL::GetColumns(u"Driver=SQLite3;Database=/x.db", type, u"T", list), Exception);
    EXPECT_EQ(list.Count(), 0);
  }
}

// No probe fits SQLite, and an unreachable database is not an error either.
TEST(qzSQL, DatabaseTypeProbeNeverRaises) {
  qztest::SqliteDb db;
  db.Exec("CREATE TABLE T (A INTEGER)");
  for (const UnicodeString& cs : {db.ConnectionString(), UnicodeString(u"Driver=NoSuchDriver;Server=nowhere")}) {
    UnicodeString version = u"x";
    EXPECT_EQ(TqzSQL::GetDatabaseType(cs, version), qzDBT_Unknown);
    EXPECT_EQ(version, u"Unknown");
  }
  // The data set class itself reads through the same layer.
  db.Exec("INSERT INTO T VALUES (42)");
  TqzADODataSet q;
  q.SetConnectionString(db.ConnectionString());
  q.SQL.Add(u"SELECT A FROM T");
  q.Open();
  ASSERT_EQ(q.FieldCount(), 1);
  EXPECT_EQ(q.FieldByName(u"a").AsInteger(), 42);
}

}  // namespace
