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

// The server drops the kept-open connection; every kind of later use reopens it once and works.
TEST_F(MariaDbLink, DroppedConnectionIsReopenedByTheNextStatement) {
  DbConnection con(server.ConnectionString(database));
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
