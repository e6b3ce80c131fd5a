// The database layer on SQLite (through the SQLite3 ODBC driver), and its text work:
// ":NAME" parameters, connection strings, data-link files, the single table of a query.
#include <gtest/gtest.h>

#include <fstream>

#include "CodePage.h"
#include "Database.h"
#include "DatabaseText.h"
#include "DbFixtures.h"
#include "Exceptions.h"
#include "OdbcStatementSuite.h"

using namespace platform;

namespace odbc_suite {
INSTANTIATE_TYPED_TEST_SUITE_P(Sqlite, StatementShape, SqliteBackend);
}  // namespace odbc_suite

namespace {

std::string U8(const UnicodeString& s) { return WideToUtf8(s); }

TEST(OdbcParameters, NamesBecomeMarkersOutsideLiteralsAndComments) {
  struct Case {
    const char16_t* in;
    const char16_t* sql;
    std::vector<UnicodeString> names;
  };
  const std::vector<Case> cases = {
      {u"SELECT * FROM T WHERE A = :A AND B=:b_2", u"SELECT * FROM T WHERE A = ? AND B=?", {u"A", u"b_2"}},
      {u"SELECT ':X', \":Y\", `:Z` FROM T WHERE A = :A", u"SELECT ':X', \":Y\", `:Z` FROM T WHERE A = ?", {u"A"}},
      {u"SELECT 'it''s :X' FROM T WHERE A=:A", u"SELECT 'it''s :X' FROM T WHERE A=?", {u"A"}},
      {u"SELECT 1 -- :X\nFROM T /* :Y */ WHERE :Z = 1", u"SELECT 1 -- :X\nFROM T /* :Y */ WHERE ? = 1", {u"Z"}},
      {u"SELECT a::int, :P, :P FROM T", u"SELECT a:int, ?, ? FROM T", {u"P", u"P"}},
      {u"SELECT :\"my param\" FROM T", u"SELECT ? FROM T", {u"my param"}},
      {u"SELECT 12 : 30, ':' FROM T", u"SELECT 12 : 30, ':' FROM T", {}},
      {u"SELECT :Gr\u00F6\u00DFe", u"SELECT ?", {u"Gr\u00F6\u00DFe"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(U8(c.in));
    ParsedStatement p = ParseParameters(c.in);
    EXPECT_EQ(p.Sql, c.sql);
    EXPECT_EQ(p.ParamNames, c.names);
  }
}

TEST(OdbcParameters, SingleTableOfAQuery) {
  const std::vector<std::pair<const char16_t*, const char16_t*>> cases = {
      {u"SELECT * FROM qz_log WHERE DOCID IS NULL", u"qz_log"},
      {u"select * from KQFD.ZDMNNCI\r\nWHERE ( ZDMKEY = '1' )\r\nORDER BY ZDMTDT DESC", u"KQFD.ZDMNNCI"},
      {u"SELECT a, b FROM \"My Table\" t WHERE a = ?", u"\"My Table\""},
      {u"SELECT * FROM VYRKQFLINK AS L", u"VYRKQFLINK"},
      {u"SELECT * FROM T;", u"T"},
      {u"SELECT (SELECT 1 FROM X) AS S FROM T", u"T"},
      {u"SELECT * FROM A, B", u""},
      {u"SELECT * FROM A JOIN B ON A.ID = B.ID", u""},
      {u"SELECT * FROM A LEFT JOIN B ON 1=1", u""},
      {u"SELECT * FROM (SELECT * FROM A) X", u""},
      {u"SELECT * FROM A UNION SELECT * FROM B", u""},
      {u"SELECT DISTINCT A FROM T", u""},
      {u"SELECT A, COUNT(*) FROM T GROUP BY A", u""},
      {u"UPDATE T SET A = 1", u""},
      {u"SELECT 1", u""},
  };
  for (const auto& [sql, table] : cases) {
    EXPECT_EQ(SingleTableOfQuery(sql), table) << U8(sql);
  }
}

TEST(OdbcConnectionStrings, ProvidersAreDroppedMappedOrRefused) {
  const std::vector<std::pair<const char16_t*, const char16_t*>> cases = {
      {u"Driver=SQLite3;Database=/tmp/x.db", u"Driver=SQLite3;Database=/tmp/x.db;"},
      {u"Provider=MSDASQL;Driver={MariaDB Unicode};Server=h;PWD={a;b}}c}",
       u"Driver={MariaDB Unicode};Server=h;PWD={a;b}}c};"},
      {u"Provider=MSDASQL.1;Persist Security Info=False;User ID=kqf;Password=geheim;Data Source=KQF;"
       u"Initial Catalog=KQFD",
       u"UID=kqf;PWD=geheim;DSN=KQF;DATABASE=KQFD;"},
      {u"Provider=MSDASQL.1;Data Source=X;Extended Properties=\"DRIVER=SQLite3;Database=/d/k.db\"",
       u"DRIVER=SQLite3;Database=/d/k.db;"},
  };
  for (const auto& [in, out] : cases) {
    EXPECT_EQ(ResolveConnectionString(in), out) << U8(in);
  }
  for (const char16_t* refused : {u"Provider=SQLOLEDB.1;Data Source=srv;Initial Catalog=KQFD",
                                  u"Provider=Microsoft.ACE.OLEDB.12.0;Data Source=c:\\x.mdb", u"", u" ; "}) {
    EXPECT_THROW(ResolveConnectionString(refused), EOleException) << U8(refused);
  }
  try {
    ResolveConnectionString(u"Provider=SQLOLEDB.1;Data Source=srv");
  } catch (const EOleException& e) {
    EXPECT_NE(e.Message.find(u"SQLOLEDB.1"), UnicodeString::npos);
  }
}

// The data-link file is written by python3's own UTF-16 codec (little endian with a byte order
// mark, as Windows writes it), and the connection made through it reaches the SQLite file.
TEST(OdbcConnectionStrings, DataLinkFileIsReadAndUsed) {
  qztest::SqliteDb db;
  db.Exec("CREATE TABLE K (NAME TEXT); INSERT INTO K VALUES ('through udl')");
  qztest::TempDir dir;
  const std::string udl = dir.Path() + "/qzsyscfg.udl";
  const std::string content = "[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n"
                              "Provider=MSDASQL.1;Persist Security Info=False;Extended Properties=\"" +
                              db.ConnectionStringUtf8() + "\"\r\n";
  qztest::ProcessResult r = qztest::RunProcess(
      {"python3", "-c",
       "import sys; open(sys.argv[1], 'w', encoding='utf-16', newline='').write(sys.stdin.read())", udl},
      content);
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  {
    std::ifstream in(udl, std::ios::binary);
    char bom[2];
    in.read(bom, 2);
    ASSERT_EQ(std::string(bom, 2), "\xFF\xFE");
  }
  EXPECT_EQ(ReadDataLinkFile(Utf8ToWide(udl)),
            u"Provider=MSDASQL.1;Persist Security Info=False;Extended Properties=\"" +
                Utf8ToWide(db.ConnectionStringUtf8()) + u"\"");

  DbDataSet q;
  q.SetConnectionString(u"FILE NAME=" + Utf8ToWide(udl));
  q.SQL.Add(u"SELECT NAME FROM K");
  q.Open();
  ASSERT_EQ(q.RecordCount(), 1);
  EXPECT_EQ(q.Fields(0).AsString(), u"through udl");

  EXPECT_THROW(ReadDataLinkFile(Utf8ToWide(dir.Path() + "/missing.udl")), EOleException);
  std::ofstream(dir.Path() + "/empty.udl") << "[oledb]\n; comment only\n";
  EXPECT_THROW(ResolveConnectionString(Utf8ToWide("File Name=" + dir.Path() + "/empty.udl")), EOleException);
}

TEST(OdbcConnection, OpensOnDemandAndReportsTheDatabase) {
  qztest::SqliteDb db;
  DbConnection con(db.ConnectionString());
  EXPECT_FALSE(con.Connected());
  EXPECT_EQ(con.Execute(u"CREATE TABLE X (A INTEGER)"), 0);
  EXPECT_TRUE(con.Connected());
  EXPECT_EQ(con.OpenCount(), 1);
  EXPECT_EQ(UpperW(con.DbmsName()), u"SQLITE");
  con.Close();
  EXPECT_FALSE(con.Connected());
  con.Open();
  EXPECT_EQ(con.OpenCount(), 2);

  DbConnection bad(u"Driver=NoSuchDriverAnywhere;Database=/nonexistent");
  try {
    bad.Open();
    FAIL();
  } catch (const EOleException& e) {
    EXPECT_FALSE(e.Message.empty());
  }
  EXPECT_FALSE(bad.Connected());
}

// SQLite keeps values longer than a column's declared length. A result read in blocks binds
// the declared length; a longer value (here in the third block) makes the layer read the whole
// result again value by value, so nothing is cut and no row is doubled or lost.
TEST(OdbcDataSet, ValuesLongerThanTheirDeclaredLengthAreReadWhole) {
  qztest::SqliteDb db;
  db.Exec("CREATE TABLE T (ID INTEGER PRIMARY KEY, CODE VARCHAR(3));"
          "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 600)"
          " INSERT INTO T SELECT x, CASE WHEN x = 590 THEN printf('%.5000c', 'z') || '\xC3\xA4' ELSE 'abc' END FROM c;");
  DbConnection con(db.ConnectionString());
  for (const char16_t* sql : {u"SELECT ID, CODE FROM T ORDER BY ID", u"SELECT ID, CODE FROM T WHERE ID > :N ORDER BY ID"}) {
    SCOPED_TRACE(platform::WideToUtf8(sql));
    DbDataSet q(&con);
    q.SQL.Add(sql);
    if (q.Parameters().Count() > 0) q.ParamByName(u"N").Value = Variant(0);
    q.Open();
    ASSERT_EQ(q.RecordCount(), 600);
    q.SetRecNo(590);
    EXPECT_EQ(q.Fields(0).AsInteger(), 590);
    EXPECT_EQ(q.Fields(1).AsString(), UnicodeString(5000, u'z') + u"\u00e4");
    q.Last();
    EXPECT_EQ(q.Fields(0).AsInteger(), 600);
    EXPECT_EQ(q.Fields(1).AsString(), u"abc");
  }
}

TEST(OdbcDataSet, StateRulesAndParamCheck) {
  qztest::SqliteDb db;
  db.Exec("CREATE TABLE T (ID INTEGER PRIMARY KEY, NAME TEXT); INSERT INTO T VALUES (1, 'a')");
  DbConnection con(db.ConnectionString());
  DbDataSet q(&con);
  EXPECT_THROW(q.Next(), EOleException);  // closed
  q.SQL.Add(u"SELECT * FROM T WHERE NAME <> ':X'");
  q.ParamCheck = false;
  EXPECT_EQ(q.Parameters().Count(), 0);
  q.Open();
  EXPECT_EQ(q.RecordCount(), 1);
  EXPECT_THROW(q.FieldByName(u"NAME").SetAsString(u"b"), EOleException);  // not in edit mode
  q.Close();

  // Without ParamCheck the text goes to the driver as written: ":N" is the driver's business.
  q.SQL.Clear();
  q.SQL.Add(u"SELECT * FROM T WHERE ID = :N");
  EXPECT_EQ(q.Parameters().Count(), 0);
  q.ParamCheck = true;
  EXPECT_EQ(q.Parameters().Count(), 1);
  q.ParamByName(u"n").Value = Variant(int32_t{1});
  q.SQL.Add(u"AND NAME = :NAME");  // changing the text keeps the values of names that stay
  q.ParamByName(u"NAME").Value = Variant(UnicodeString(u"a"));
  q.Open();
  EXPECT_EQ(q.RecordCount(), 1);
  EXPECT_THROW(q.ParamByName(u"OTHER"), EOleException);
  q.Close();

  // A query over two tables cannot be written through.
  q.SQL.Clear();
  q.SQL.Add(u"SELECT A.ID, B.NAME FROM T A, T B");
  q.Open();
  q.Edit();
  q.Fields(1).SetAsString(u"z");
  EXPECT_THROW(q.Post(), EOleException);
  q.Cancel();
  EXPECT_EQ(db.Exec("SELECT NAME FROM T"), "a\n");
}

}  // namespace
