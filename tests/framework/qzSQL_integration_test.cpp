// TqzSQL against a private MariaDB server: the product probe, tables and columns of the
// connection's own database, and the MySQL transaction statements run for real.
#include <gtest/gtest.h>

#include "Database.h"
#include "DbFixtures.h"
#include "StringList.h"
#include "qzSQL.h"

namespace {

std::vector<UnicodeString> Items(const TStringList& list) {
  std::vector<UnicodeString> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list[i]);
  return out;
}

class qzSQLMariaDb : public ::testing::Test {
 protected:
  qztest::MariaDbServer& server = qztest::MariaDbServer::Shared();
  std::string database = server.CreateDatabase();
};

TEST_F(qzSQLMariaDb, ProbeFindsMySqlWithTheServersVersion) {
  std::string version = server.Exec("", "SELECT VERSION()");
  version.pop_back();  // line break
  UnicodeString text;
  EXPECT_EQ(TqzSQL::GetDatabaseType(server.ConnectionString(database), text), qzDBT_MySQL);
  EXPECT_EQ(text, u"MYSQL " + platform::Utf8ToWide(version));
  EXPECT_EQ(TqzSQL::GetDatabaseType(server.ConnectionString(database)), qzDBT_MySQL);
}

TEST_F(qzSQLMariaDb, TablesAndColumnsOfTheCurrentDatabaseOnly) {
  server.Exec(database, "CREATE TABLE ZDMNNCI (ZDMKEY INTEGER, ZDMNBC VARCHAR(20), ZDMPAG INTEGER)");
  server.Exec(database, "CREATE TABLE VYRKQFLINK (ARCDOCID VARCHAR(40))");
  std::string other = server.CreateDatabase();
  server.Exec(other, "CREATE TABLE ZDMNNCI (OTHERCOL INTEGER)");
  server.Exec(other, "CREATE TABLE ELSEWHERE (X INTEGER)");

  TStringList tables;
  tables.Add(u"kept");  // the list is not emptied first
  EXPECT_TRUE(TqzSQL::GetTables(server.ConnectionString(database), qzDBT_MySQL, tables));
  // lower_case_table_names=1 stores names in lower case.
  EXPECT_EQ(Items(tables), (std::vector<UnicodeString>{u"kept", u"vyrkqflink", u"zdmnnci"}));

  TStringList columns;
  EXPECT_TRUE(TqzSQL::GetColumns(server.ConnectionString(database), qzDBT_MySQL, u"ZDMNNCI", columns));
  EXPECT_EQ(Items(columns), (std::vector<UnicodeString>{u"ZDMKEY", u"ZDMNBC", u"ZDMPAG"}));

  // A table name is a value, never SQL.
  TStringList none;
  EXPECT_TRUE(TqzSQL::GetColumns(server.ConnectionString(database), qzDBT_MySQL, u"x' OR '1'='1", none));
  EXPECT_EQ(none.Count(), 0);
}

TEST_F(qzSQLMariaDb, MySqlTransactionStatementsWork) {
  server.Exec(database, "CREATE TABLE T (ID INTEGER)");
  platform::DbConnection con(server.ConnectionString(database));
  UnicodeString id = TqzSQL::CreateTransactionId();
  con.Execute(TqzSQL::GetTransactionStatement(id, qzDBT_MySQL, qzTT_Begin));
  con.Execute(u"INSERT INTO T VALUES (1)");
  con.Execute(TqzSQL::GetTransactionStatement(id, qzDBT_MySQL, qzTT_RollBack));
  con.Execute(TqzSQL::GetTransactionStatement(id, qzDBT_MySQL, qzTT_Begin));
  con.Execute(u"INSERT INTO T VALUES (2)");
  con.Execute(TqzSQL::GetTransactionStatement(id, qzDBT_MySQL, qzTT_Commit));
  EXPECT_EQ(server.Exec(database, "SELECT ID FROM T"), "2\n");
}

}  // namespace
