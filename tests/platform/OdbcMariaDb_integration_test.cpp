// The database layer against a private MariaDB server: the shared statement suite, and the
// kept-open connection that the server drops (KILL) between two statements.
#include <gtest/gtest.h>

#include "Database.h"
#include "DbFixtures.h"
#include "Exceptions.h"
#include "OdbcStatementSuite.h"

namespace odbc_suite {
INSTANTIATE_TYPED_TEST_SUITE_P(MariaDb, StatementShape, MariaDbBackend);
}  // namespace odbc_suite

namespace {

using platform::DbCommand;
using platform::DbConnection;
using platform::DbDataSet;

class MariaDbLink : public ::testing::Test {
 protected:
  qztest::MariaDbServer& server = qztest::MariaDbServer::Shared();
  std::string database = server.CreateDatabase();

  void SetUp() override { server.Exec(database, "CREATE TABLE T (ID INTEGER PRIMARY KEY, NAME VARCHAR(50))"); }

  int64_t ConnectionId(DbConnection& con) {
    DbDataSet q(&con);
    q.SQL.Add(u"SELECT CONNECTION_ID() AS ID");
    q.Open();
    return q.Fields(0).AsInteger();
  }

  void Kill(int64_t id) { server.Exec("", "KILL " + std::to_string(id)); }
};

// The server drops the kept-open connection; every kind of later use reopens it once and works
// when the link is checked before the statement (here before every statement: no idle time).
TEST_F(MariaDbLink, DroppedConnectionIsReopenedByTheNextStatement) {
  DbConnection con(server.ConnectionString(database));
  con.LinkCheckIdleMs = 0;
  con.Open();

  struct Step {
    const char* what;
    std::function<void(DbConnection&)> use;
  };
  const std::vector<Step> steps = {
      {"query", [](DbConnection& c) {
         DbDataSet q(&c);
         q.SQL.Add(u"SELECT COUNT(*) FROM T");
         q.Open();
         EXPECT_EQ(q.RecordCount(), 1);
       }},
      {"command with parameters", [](DbConnection& c) {
         DbCommand cmd(&c);
         cmd.CommandText = u"INSERT INTO T (ID, NAME) VALUES (:ID, :NAME)";
         cmd.ParamByName(u"ID").Value = Variant(int32_t{7});
         cmd.ParamByName(u"NAME").Value = Variant(UnicodeString(u"nach KILL"));
         EXPECT_EQ(cmd.Execute(), 1);
       }},
      {"append and post", [](DbConnection& c) {
         DbDataSet q(&c);
         q.SQL.Add(u"SELECT * FROM T WHERE ID = 7");
         q.Open();
         q.Edit();
         q.FieldByName(u"NAME").SetAsString(u"edited");
         q.Post();
       }},
  };
  int opens = con.OpenCount();
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    int64_t before = ConnectionId(con);
    Kill(before);
    step.use(con);
    EXPECT_TRUE(con.Connected());
    EXPECT_EQ(con.OpenCount(), ++opens);
    EXPECT_NE(ConnectionId(con), before);
  }
  EXPECT_EQ(server.Exec(database, "SELECT ID, NAME FROM T"), "7\tedited\n");
}

// Without a check (the connection was used a moment ago, so the driver is not asked, which would
// cost a round trip): a read that meets the dropped link runs again on a new connection; a write
// that may have reached the server is not repeated: it fails with the driver's text, and the next
// statement opens a new connection.
TEST_F(MariaDbLink, DroppedConnectionWithinTheIdleTime) {
  DbConnection con(server.ConnectionString(database));
  con.LinkCheckIdleMs = 600000;
  Kill(ConnectionId(con));
  DbDataSet q(&con);
  q.SQL.Add(u"SELECT COUNT(*) FROM T");
  q.Open();
  EXPECT_EQ(q.Fields(0).AsInteger(), 0);
  EXPECT_EQ(con.OpenCount(), 2);
  Kill(ConnectionId(con));
  try {
    con.Execute(u"INSERT INTO T (ID, NAME) VALUES (1, 'maybe')");
    FAIL() << "no error";
  } catch (const EOleException& e) {
    EXPECT_NE(e.Message.find(u"connection"), UnicodeString::npos) << platform::WideToUtf8(e.Message);
  }
  EXPECT_FALSE(con.Connected());
  EXPECT_EQ(con.Execute(u"INSERT INTO T (ID, NAME) VALUES (2, 'kept')"), 1);
  EXPECT_EQ(con.OpenCount(), 3);
  EXPECT_EQ(server.Exec(database, "SELECT ID, NAME FROM T"), "2\tkept\n");
}

// Inside a transaction the lost work cannot be replayed: the statement fails and says so, the
// connection counts as closed, and the next statement opens a new one.
TEST_F(MariaDbLink, DroppedConnectionInsideATransactionFailsOnceAndRecovers) {
  DbConnection con(server.ConnectionString(database));
  con.BeginTrans();
  con.Execute(u"INSERT INTO T (ID, NAME) VALUES (1, 'lost')");
  Kill(ConnectionId(con));
  try {
    con.Execute(u"INSERT INTO T (ID, NAME) VALUES (2, 'lost too')");
    FAIL() << "no error";
  } catch (const EOleException& e) {
    EXPECT_NE(e.Message.find(u"rolled back"), UnicodeString::npos);
  }
  EXPECT_FALSE(con.Connected());
  EXPECT_FALSE(con.InTransaction());
  EXPECT_EQ(con.Execute(u"INSERT INTO T (ID, NAME) VALUES (3, 'kept')"), 1);
  EXPECT_EQ(server.Exec(database, "SELECT ID, NAME FROM T"), "3\tkept\n");
}

// DECIMAL and NUMERIC values are read exactly, never through a double: whole numbers as Int64 (or
// their text beyond 64 bits), up to four decimals as Currency, wider values as their exact text.
TEST_F(MariaDbLink, DecimalsReadExactly) {
  server.Exec(database,
              "CREATE TABLE D (ID INTEGER PRIMARY KEY, A DECIMAL(18,4), B DECIMAL(20,0), C DECIMAL(38,10), E NUMERIC(9,0));"
              "INSERT INTO D VALUES (1, 12345678901234.5678, 99999999999999999999,"
              " 1234567890123456789012345678.0123456789, 123456789);"
              "INSERT INTO D VALUES (2, -0.0001, -9223372036854775808, -0.0000000001, -1);"
              "INSERT INTO D VALUES (3, NULL, 9223372036854775807, 0, 0);");
  DbConnection con(server.ConnectionString(database));
  DbDataSet q(&con);
  q.SQL.Add(u"SELECT A, B, C, E FROM D ORDER BY ID");
  q.Open();
  EXPECT_EQ(q.FieldByName(u"A").DataType(), varCurrency);
  EXPECT_EQ(q.FieldByName(u"B").DataType(), varInt64);
  EXPECT_EQ(q.FieldByName(u"C").DataType(), varOleStr);
  EXPECT_EQ(q.FieldByName(u"E").DataType(), varInt64);
  ASSERT_EQ(q.RecordCount(), 3);
  EXPECT_EQ(q.Fields(0).Value().VarType(), varCurrency);
  EXPECT_EQ(q.Fields(0).Value().AsCurrencyScaled(), 123456789012345678LL);
  EXPECT_EQ(q.Fields(1).Value().VarType(), varOleStr);  // beyond 64 bits: the exact text
  EXPECT_EQ(q.Fields(1).AsString(), u"99999999999999999999");
  EXPECT_EQ(q.Fields(2).AsString(), u"1234567890123456789012345678.0123456789");
  EXPECT_EQ(q.Fields(3).Value().VarType(), varInt64);
  EXPECT_EQ(q.Fields(3).AsInteger(), 123456789);
  q.Next();
  EXPECT_EQ(q.Fields(0).Value().AsCurrencyScaled(), -1);
  EXPECT_EQ(q.Fields(1).Value().VarType(), varInt64);
  EXPECT_EQ(q.Fields(1).AsInteger(), INT64_MIN);
  EXPECT_EQ(q.Fields(2).AsString(), u"-0.0000000001");
  q.Next();
  EXPECT_TRUE(q.Fields(0).IsNull());
  EXPECT_EQ(q.Fields(1).AsInteger(), INT64_MAX);
  EXPECT_EQ(q.Fields(2).AsString(), u"0.0000000000");
}

// Text written by the server's own client reads back the same whatever character set the
// connection asks for: UTF-8 connections are read as bytes and decoded here, others (where the
// driver's bytes are not UTF-8) through the driver's own UTF-16 conversion. (The characters are
// all in Latin-1: the driver converts a latin1 connection's bytes as ISO-8859-1.)
TEST_F(MariaDbLink, TextReadsTheSameInEveryConnectionCharacterSet) {
  server.Exec(database,
              "CREATE TABLE U (ID INTEGER PRIMARY KEY, V VARCHAR(60) CHARACTER SET utf8mb4, L LONGTEXT CHARACTER SET utf8mb4);"
              "INSERT INTO U VALUES (1, CONVERT(X'4772C3BCC39F6520C2BD' USING utf8mb4),"
              " REPEAT(CONVERT(X'C3A478C2A9' USING utf8mb4), 30000)),"
              " (2, '', NULL);");
  const UnicodeString shortText = u"Gr\u00fc\u00dfe \u00bd";
  UnicodeString longText;
  for (int i = 0; i < 30000; ++i) longText += u"\u00e4x\u00a9";
  for (const char* charset : {"", "CHARSET=utf8mb4;", "CHARSET=latin1;"}) {
    SCOPED_TRACE(charset);
    DbConnection con(platform::Utf8ToWide(server.ConnectionStringUtf8(database) + charset));
    DbDataSet q(&con);
    q.SQL.Add(u"SELECT V, L FROM U ORDER BY ID");
    q.Open();
    ASSERT_EQ(q.RecordCount(), 2);
    EXPECT_EQ(q.Fields(0).AsString(), shortText);
    EXPECT_EQ(q.Fields(1).AsString(), longText);
    q.Next();
    EXPECT_EQ(q.Fields(0).AsString(), u"");
    EXPECT_FALSE(q.Fields(0).IsNull());
    EXPECT_TRUE(q.Fields(1).IsNull());
  }
}

TEST_F(MariaDbLink, WrongPasswordIsAClearError) {
  std::string cs = server.ConnectionStringUtf8(database);
  cs.replace(cs.find("Pwd=") + 4, server.Password().size(), "wrong");
  DbConnection con(platform::Utf8ToWide(cs));
  try {
    con.Open();
    FAIL() << "no error";
  } catch (const EOleException& e) {
    EXPECT_NE(e.Message.find(u"Access denied"), UnicodeString::npos) << e.what();
  }
}

}  // namespace
