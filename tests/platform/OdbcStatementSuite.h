// One suite of statement shapes, run on every backend: SQLite through its ODBC driver
// (OdbcDatabase_test.cpp) and a private MariaDB server (OdbcMariaDb_integration_test.cpp).
// What our layer wrote is checked with the database's own command-line client.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "CodePage.h"
#include "Database.h"
#include "DbFixtures.h"
#include "Exceptions.h"
#include "SysUtils.h"
#include "Variant.h"

namespace odbc_suite {

using platform::DbCommand;
using platform::DbConnection;
using platform::DbDataSet;
using platform::EncodeDate;
using platform::EncodeTime;

struct SqliteBackend {
  qztest::SqliteDb db;
  static constexpr const char* Name = "SQLite";
  UnicodeString ConnectionString() const { return db.ConnectionString(); }
  std::string Cli(const std::string& sql) const { return db.Exec(sql); }
  std::string Schema() const { return "main"; }
  // Column types of the test tables.
  static constexpr const char* Text = "VARCHAR(200)";
  static constexpr const char* DateTime = "DATETIME";
  static constexpr const char* Blob = "BLOB";
  static constexpr const char* Double = "DOUBLE";
  static constexpr const char* LongText = "TEXT";
};

struct MariaDbBackend {
  qztest::MariaDbServer& server = qztest::MariaDbServer::Shared();
  std::string database = server.CreateDatabase();
  static constexpr const char* Name = "MariaDB";
  UnicodeString ConnectionString() const { return server.ConnectionString(database); }
  std::string Cli(const std::string& sql) const { return server.Exec(database, sql); }
  std::string Schema() const { return database; }
  static constexpr const char* Text = "VARCHAR(200)";
  static constexpr const char* DateTime = "DATETIME(3)";
  static constexpr const char* Blob = "LONGBLOB";
  static constexpr const char* Double = "DOUBLE";
  static constexpr const char* LongText = "MEDIUMTEXT";
};

using qztest::Hex;

inline std::string U8(const UnicodeString& s) { return platform::WideToUtf8(s); }

template <class Backend>
class StatementShape : public ::testing::Test {
 protected:
  Backend backend;
  std::unique_ptr<DbConnection> con;

  void SetUp() override {
    backend.Cli(std::string("CREATE TABLE T (ID BIGINT PRIMARY KEY, NAME ") + Backend::Text +
                ", AMOUNT " + Backend::Double + ", CREATED " + Backend::DateTime + ", DATA " +
                Backend::Blob + ")");
    con = std::make_unique<DbConnection>(backend.ConnectionString());
  }

  std::string Cli(const std::string& sql) { return backend.Cli(sql); }
};

TYPED_TEST_SUITE_P(StatementShape);

// A text with a quote, a backslash, umlauts, a non-BMP character and a percent sign.
inline const UnicodeString kTrickyText = u"O'Neil \\ \"Gr\u00FC\u00DFe\" \U0001F600 100%";

TYPED_TEST_P(StatementShape, SelectFetchesEveryRowIntoMemory) {
  this->Cli(
      "INSERT INTO T (ID, NAME, AMOUNT, CREATED, DATA) VALUES "
      "(1, 'eins', 1.5, '2024-02-29 13:45:07.123', X'00FF27'),"
      "(2, 'zwei \xC3\xA4', -2.25, '1999-12-31 23:59:59.000', NULL),"
      "(3, NULL, NULL, NULL, X'')");
  DbDataSet q(this->con.get());
  q.SQL.Add(u"SELECT ID, NAME, AMOUNT, CREATED, DATA");
  q.SQL.Add(u"FROM T ORDER BY ID");
  q.Open();
  ASSERT_EQ(q.RecordCount(), 3);
  EXPECT_EQ(q.FieldNames(), (std::vector<UnicodeString>{u"ID", u"NAME", u"AMOUNT", u"CREATED", u"DATA"}));
  EXPECT_TRUE(q.Fields(0).DataType() == varInteger || q.Fields(0).DataType() == varInt64);
  EXPECT_EQ(q.FieldByName(u"name").DataType(), varOleStr);
  EXPECT_EQ(q.FieldByName(u"Amount").DataType(), varDouble);
  EXPECT_EQ(q.FieldByName(u"created").DataType(), varDate);
  EXPECT_EQ(q.FieldByName(u"DATA").DataType(), varArray | varByte);

  struct Row {
    int64_t id;
    UnicodeString name;
    double amount;
    TDateTime created;
    std::string data;
    bool dataNull;
  };
  const std::vector<Row> expected = {
      {1, u"eins", 1.5, EncodeDate(2024, 2, 29) + EncodeTime(13, 45, 7, 123), std::string("\x00\xFF'", 3), false},
      {2, u"zwei \u00E4", -2.25, EncodeDate(1999, 12, 31) + EncodeTime(23, 59, 59, 0), "", true},
      {3, u"", 0, 0, "", false},
  };
  q.First();
  EXPECT_TRUE(q.Bof());
  for (const Row& row : expected) {
    ASSERT_FALSE(q.Eof());
    SCOPED_TRACE(row.id);
    EXPECT_EQ(q.Fields(0).AsInteger(), row.id);
    EXPECT_EQ(q.FieldByName(u"NAME").AsString(), row.name);
    EXPECT_DOUBLE_EQ(q.FieldByName(u"AMOUNT").AsFloat(), row.amount);
    EXPECT_NEAR(q.FieldByName(u"CREATED").AsDateTime(), row.created, 1e-9);
    EXPECT_EQ(q.FieldByName(u"DATA").IsNull(), row.dataNull);
    EXPECT_EQ(q.FieldByName(u"DATA").AsBytes(), row.data);
    q.Next();
  }
  EXPECT_TRUE(q.Eof());
  EXPECT_TRUE(q.FieldByName(u"NAME").IsNull());  // the third row's NAME
  q.Prior();
  EXPECT_EQ(q.RecNo(), 2);
  q.Last();
  EXPECT_EQ(q.Fields(0).AsInteger(), 3);
  EXPECT_THROW(q.FieldByName(u"MISSING"), EOleException);
  EXPECT_EQ(q.FindField(u"MISSING"), nullptr);
}

// Results of fixed-size columns are read in blocks of rows, others value by value: both ways
// must give the same values, across block boundaries, NULLs and characters of every length.
TYPED_TEST_P(StatementShape, BlockReadsGiveWhatValueReadsGive) {
  this->Cli(
      "INSERT INTO T (ID, NAME, AMOUNT, CREATED, DATA) "
      "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 700) "
      "SELECT x, CASE WHEN x % 7 = 0 THEN NULL WHEN x % 5 = 0 THEN '' "
      "ELSE REPLACE('n# Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x98\x80', '#', x) END, "
      "CASE WHEN x % 11 = 0 THEN NULL ELSE x / 4.0 END, "
      "CASE WHEN x % 13 = 0 THEN NULL ELSE '2024-02-29 13:45:07.000' END, X'01' FROM c");
  auto read = [&](const char16_t* sql) {
    DbDataSet q(this->con.get());
    q.SQL.Add(sql);
    q.Open();
    std::vector<std::vector<UnicodeString>> rows;
    for (q.First(); !q.Eof(); q.Next()) {
      std::vector<UnicodeString> row;
      for (int i = 0; i < 4; ++i) row.push_back(q.Fields(i).IsNull() ? u"<null>" : q.Fields(i).AsString());
      rows.push_back(std::move(row));
    }
    return rows;
  };
  const auto blocks = read(u"SELECT ID, NAME, AMOUNT, CREATED FROM T ORDER BY ID");
  const auto values = read(u"SELECT ID, NAME, AMOUNT, CREATED, DATA FROM T ORDER BY ID");
  ASSERT_EQ(blocks.size(), 700u);
  EXPECT_EQ(blocks, values);
  EXPECT_EQ(blocks[0][1], u"n1 Gr\u00FC\u00DFe \u20AC \U0001F600");
  EXPECT_EQ(blocks[6][1], u"<null>");
  EXPECT_EQ(blocks[4][1], u"");
  EXPECT_EQ(blocks[10][2], u"<null>");
  EXPECT_EQ(blocks[12][3], u"<null>");
}

TYPED_TEST_P(StatementShape, EmptyResultStillHasItsColumns) {
  DbDataSet q(this->con.get());
  q.SQL.Add(u"SELECT * FROM T WHERE ID IS NULL");
  q.Open();
  EXPECT_EQ(q.RecordCount(), 0);
  EXPECT_TRUE(q.Eof());
  EXPECT_TRUE(q.Bof());
  EXPECT_TRUE(q.IsEmpty());
  EXPECT_EQ(q.FieldNames(), (std::vector<UnicodeString>{u"ID", u"NAME", u"AMOUNT", u"CREATED", u"DATA"}));
  EXPECT_EQ(q.FieldByName(u"CREATED").DataType(), varDate);
  EXPECT_EQ(q.FieldByName(u"NAME").DataType(), varOleStr);
  EXPECT_TRUE(q.FieldByName(u"NAME").IsNull());
  EXPECT_EQ(q.FieldByName(u"NAME").AsString(), u"");
}

// Each value goes in through a ":NAME" parameter, is checked with the command-line client,
// found again through a parameter in a WHERE clause, and read back unchanged.
TYPED_TEST_P(StatementShape, ParametersAreBoundByType) {
  struct Case {
    const char* column;
    Variant value;
    std::string cliExpr;      // what the client selects
    std::string cliExpected;  // what it prints
  };
  const std::string tricky = U8(kTrickyText);
  const std::string bytes("\x00'\\\"\xFF;--", 8);
  const std::vector<Case> cases = {
      {"NAME", Variant::FromOleStr(kTrickyText), "HEX(NAME)", Hex(tricky)},
      {"NAME", Variant(UnicodeString(u"")), "LENGTH(NAME)", "0"},
      {"NAME", Variant::FromAnsi(std::string("caf\xE9")), "HEX(NAME)", Hex("caf\xC3\xA9")},
      {"ID", Variant(int64_t{9007199254740993}), "ID", "9007199254740993"},
      {"ID", Variant(int32_t{-42}), "ID", "-42"},
      {"AMOUNT", Variant(1234.5), "AMOUNT", "1234.5"},
      {"CREATED", Variant::FromDate(EncodeDate(2024, 2, 29) + EncodeTime(13, 45, 7, 123)), "CREATED",
       "2024-02-29 13:45:07.123"},
      {"DATA", Variant::FromBytes(bytes), "HEX(DATA)", Hex(bytes)},
  };
  int id = 100;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.column) + " " + c.cliExpected);
    this->Cli("DELETE FROM T");
    std::string column = c.column;
    int rowId = ++id;
    DbCommand insert(this->con.get());
    if (column == "ID") {
      insert.CommandText = u"INSERT INTO T (ID, NAME) VALUES (:V, 'x')";
    } else {
      insert.CommandText = u"INSERT INTO T (ID, " + platform::ToU16(column) + u") VALUES (:ID, :V)";
      insert.ParamByName(u"id").Value = Variant(int32_t{rowId});
    }
    insert.ParamByName(u"V").Value = c.value;
    EXPECT_EQ(insert.Execute(), 1);

    std::string cliOut = this->Cli("SELECT " + c.cliExpr + " FROM T");
    EXPECT_EQ(cliOut, c.cliExpected + "\n");

    DbDataSet q(this->con.get());
    q.SQL.Add(u"SELECT " + platform::ToU16(column) + u" AS V, ':V' AS LIT FROM T WHERE " +
              platform::ToU16(column) + u" = :V AND :V = :V");
    q.ParamByName(u"v").Value = c.value;
    EXPECT_EQ(q.Parameters().Count(), 1);
    q.Open();
    ASSERT_EQ(q.RecordCount(), 1);
    EXPECT_EQ(q.FieldByName(u"LIT").AsString(), u":V");
    const Variant got = q.FieldByName(u"V").Value();
    if (c.value.VarType() == varDate) {
      EXPECT_NEAR(got.AsDateTime(), c.value.AsDateTime(), 1e-9);
    } else if (c.value.IsNumeric()) {
      EXPECT_EQ(got.AsDouble(), c.value.AsDouble());
    } else if (c.value.VarType() == (varArray | varByte)) {
      EXPECT_EQ(got.AsBytes(), c.value.AsBytes());
    } else if (c.value.VarType() == varString) {
      EXPECT_EQ(got.AsString(), platform::AnsiToWide(c.value.AsBytes()));
    } else {
      EXPECT_EQ(got.AsString(), c.value.AsString());
    }
  }

  // NULL binds as NULL; a parameter without a value is refused before anything runs.
  DbCommand cmd(this->con.get());
  cmd.CommandText = u"INSERT INTO T (ID, NAME) VALUES (:ID, :NAME)";
  cmd.ParamByName(u"ID").Value = Variant(int32_t{1});
  EXPECT_THROW(cmd.Execute(), EOleException);
  cmd.ParamByName(u"NAME").Value = Variant::Null();
  cmd.Execute();
  EXPECT_EQ(this->Cli("SELECT COUNT(*) FROM T WHERE ID = 1 AND NAME IS NULL"), "1\n");
}

// Values longer than the layer's read buffer arrive whole, surrogate pairs included.
TYPED_TEST_P(StatementShape, LongTextAndBinaryValuesRoundTrip) {
  this->Cli(std::string("CREATE TABLE LONGV (ID INTEGER PRIMARY KEY, V ") + TypeParam::LongText + ", B " +
            TypeParam::Blob + ")");
  UnicodeString text;
  std::string bytes;
  for (int i = 0; i < 7000; ++i) {
    text += (i % 3 == 0) ? UnicodeString(u"\U0001F600") : UnicodeString(u"\u00E4x");
    bytes.push_back(static_cast<char>(i * 7));
  }
  DbCommand insert(this->con.get());
  insert.CommandText = u"INSERT INTO LONGV (ID, V, B) VALUES (1, :V, :B)";
  insert.ParamByName(u"V").Value = Variant::FromOleStr(text);
  insert.ParamByName(u"B").Value = Variant::FromBytes(bytes);
  insert.Execute();
  EXPECT_EQ(this->Cli("SELECT HEX(V), HEX(B) FROM LONGV"), Hex(U8(text)) + "\t" + Hex(bytes) + "\n");
  DbDataSet q(this->con.get());
  q.SQL.Add(u"SELECT V, B FROM LONGV");
  q.Open();
  EXPECT_TRUE(q.Fields(0).AsString() == text);
  EXPECT_TRUE(q.Fields(1).AsBytes() == bytes);
}

// Long values around the size of the first piece that a value is read in (64 KiB: 32767 UTF-16
// units of text plus the terminating zero, 65536 bytes of binary) and of 10 MB come back byte
// for byte; text pieces may end inside a surrogate pair.
TYPED_TEST_P(StatementShape, LongValuesRoundTripAroundThePieceSize) {
  this->Cli(std::string("CREATE TABLE LONGP (ID INTEGER PRIMARY KEY, V ") + TypeParam::LongText + ", B " +
            TypeParam::Blob + ")");
  const size_t kTen = 10000000;
  const std::vector<size_t> sizes = {0, 1, 32766, 32767, 32768, 65535, 65536, 65537, kTen / 2, kTen};
  const UnicodeString pattern = u"abcdefgh\u00e4\U0001F600";  // 11 units, 14 bytes of UTF-8
  // One value per statement: a statement's packet must stay under the server's limit.
  DbCommand insert(this->con.get()), update(this->con.get());
  insert.CommandText = u"INSERT INTO LONGP (ID, V) VALUES (:ID, :V)";
  update.CommandText = u"UPDATE LONGP SET B = :B WHERE ID = :ID";
  std::vector<UnicodeString> texts;
  std::vector<std::string> blobs;
  for (size_t i = 0; i < sizes.size(); ++i) {
    UnicodeString text;
    text.reserve(sizes[i]);
    while (text.size() < sizes[i]) text += pattern;
    text.resize(sizes[i]);
    if (!text.empty() && text.back() >= 0xD800 && text.back() < 0xDC00) text.back() = u'y';  // no lone high surrogate
    std::string bytes(sizes[i], '\0');
    for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<char>((k * 131) >> 3);
    insert.ParamByName(u"ID").Value = Variant(static_cast<int64_t>(i));
    insert.ParamByName(u"V").Value = Variant::FromOleStr(text);
    insert.Execute();
    update.ParamByName(u"ID").Value = Variant(static_cast<int64_t>(i));
    update.ParamByName(u"B").Value = Variant::FromBytes(bytes);
    update.Execute();
    texts.push_back(std::move(text));
    blobs.push_back(std::move(bytes));
  }
  EXPECT_EQ(this->Cli("SELECT LENGTH(B) FROM LONGP WHERE ID = " + std::to_string(sizes.size() - 1)),
            std::to_string(kTen) + "\n");
  DbDataSet q(this->con.get());
  q.SQL.Add(u"SELECT ID, V, B FROM LONGP ORDER BY ID");
  q.Open();
  ASSERT_EQ(q.RecordCount(), static_cast<int>(sizes.size()));
  for (size_t i = 0; i < sizes.size(); ++i, q.Next()) {
    EXPECT_TRUE(q.Fields(1).AsString() == texts[i]) << "text of " << sizes[i];
    EXPECT_TRUE(q.Fields(2).AsBytes() == blobs[i]) << "bytes of " << sizes[i];
  }
}

TYPED_TEST_P(StatementShape, AppendEditPostAndDeleteWriteThroughThePrimaryKey) {
  DbDataSet q(this->con.get());
  q.SQL.Add(u"SELECT * FROM T WHERE ID IS NULL");
  q.Open();
  const TDateTime when = EncodeDate(2023, 5, 6) + EncodeTime(7, 8, 9, 0);
  for (int id : {1, 2, 3}) {
    q.Append();
    q.FieldByName(u"ID").SetValue(Variant(int32_t{id}));
    q.FieldByName(u"name").SetAsString(kTrickyText + platform::IntToStr(id));
    q.FieldByName(u"CREATED").SetValue(Variant::FromDate(when));
    q.Post();
  }
  EXPECT_EQ(q.RecordCount(), 3);
  EXPECT_EQ(this->Cli("SELECT ID, HEX(NAME), AMOUNT FROM T ORDER BY ID"),
            "1\t" + Hex(U8(kTrickyText) + "1") + "\tNULL\n" +  //
            "2\t" + Hex(U8(kTrickyText) + "2") + "\tNULL\n" +  //
            "3\t" + Hex(U8(kTrickyText) + "3") + "\tNULL\n");
  q.Close();

  q.SQL.Clear();
  q.SQL.Add(u"SELECT * FROM T ORDER BY ID");
  q.Open();
  q.Next();
  q.Edit();
  q.FieldByName(u"NAME").SetAsString(u"ge\u00E4ndert");
  q.FieldByName(u"AMOUNT").SetValue(Variant(0.25));
  q.Post();
  EXPECT_EQ(q.FieldByName(u"NAME").AsString(), u"ge\u00E4ndert");
  EXPECT_EQ(this->Cli("SELECT ID, NAME, AMOUNT FROM T WHERE ID = 2"), "2\tge\xC3\xA4ndert\t0.25\n");
  EXPECT_EQ(this->Cli("SELECT COUNT(*) FROM T WHERE AMOUNT IS NULL"), "2\n");

  // Cancel leaves the table alone.
  q.Edit();
  q.FieldByName(u"NAME").SetAsString(u"verworfen");
  q.Cancel();
  EXPECT_EQ(q.FieldByName(u"NAME").AsString(), u"ge\u00E4ndert");

  q.First();
  q.Delete();
  EXPECT_EQ(q.RecordCount(), 2);
  EXPECT_EQ(q.Fields(0).AsInteger(), 2);
  EXPECT_EQ(this->Cli("SELECT ID FROM T ORDER BY ID"), "2\n3\n");

  // A row that someone else deleted meanwhile cannot be edited.
  this->Cli("DELETE FROM T WHERE ID = 2");
  q.Edit();
  q.FieldByName(u"NAME").SetAsString(u"weg");
  EXPECT_THROW(q.Post(), EOleException);
  q.Cancel();
  EXPECT_EQ(this->Cli("SELECT ID, NAME FROM T"), "3\t" + U8(kTrickyText) + "3\n");
}

// The export marks its record through "database.table": the key is found through the prefix, so
// a column that someone else changed meanwhile does not stop the update, and only the changed
// columns are written.
TYPED_TEST_P(StatementShape, EditFindsTheRowByPrimaryKeyThroughASchemaPrefix) {
  this->Cli("INSERT INTO T (ID, NAME, AMOUNT) VALUES (1, 'a', 1), (2, 'a', 1)");
  DbDataSet q(this->con.get());
  q.SQL.Add(u"SELECT * FROM " + platform::Utf8ToWide(this->backend.Schema()) + u".T");
  q.SQL.Add(u"WHERE ID = 2");
  q.Open();
  this->Cli("UPDATE T SET AMOUNT = 5 WHERE ID = 2");
  q.Edit();
  q.FieldByName(u"NAME").SetAsString(u"\u00F0");
  q.Post();
  EXPECT_EQ(this->Cli("SELECT ID, HEX(NAME), AMOUNT = 5 FROM T ORDER BY ID"), "1\t61\t0\n2\tC3B0\t1\n");
}

// Without a primary key the row is found by all its original values, NULLs included, and
// exactly one row must match.
TYPED_TEST_P(StatementShape, EditWithoutPrimaryKeyMatchesOriginalValues) {
  this->Cli(std::string("CREATE TABLE NOKEY (A ") + TypeParam::Text + ", B INTEGER, C " + TypeParam::Text + ")");
  this->Cli("INSERT INTO NOKEY VALUES ('x', 1, NULL), ('x', 1, 'c'), ('dup', 2, NULL), ('dup', 2, NULL)");
  DbDataSet q(this->con.get());
  q.SQL.Add(u"SELECT A, B, C FROM NOKEY ORDER BY A, C");
  q.Open();
  ASSERT_EQ(q.RecordCount(), 4);
  // Rows in order: dup/2/NULL, dup/2/NULL, x/1/NULL, x/1/c
  q.SetRecNo(3);
  q.Edit();
  q.FieldByName(u"B").SetValue(Variant(int32_t{7}));
  q.Post();
  EXPECT_EQ(this->Cli("SELECT A, B, C FROM NOKEY WHERE A = 'x' ORDER BY B"), "x\t1\tc\nx\t7\tNULL\n");

  q.First();
  q.Edit();
  q.FieldByName(u"B").SetValue(Variant(int32_t{9}));
  EXPECT_THROW(q.Post(), EOleException);
  q.Cancel();
  EXPECT_EQ(this->Cli("SELECT COUNT(*) FROM NOKEY WHERE A = 'dup' AND B = 2"), "2\n");
  EXPECT_THROW(q.Delete(), EOleException);
  EXPECT_EQ(this->Cli("SELECT COUNT(*) FROM NOKEY"), "4\n");
}

TYPED_TEST_P(StatementShape, TransactionsCommitAndRollBack) {
  this->con->BeginTrans();
  this->con->Execute(u"INSERT INTO T (ID, NAME) VALUES (1, 'rolled back')");
  this->con->RollbackTrans();
  EXPECT_EQ(this->Cli("SELECT COUNT(*) FROM T"), "0\n");
  this->con->BeginTrans();
  EXPECT_TRUE(this->con->InTransaction());
  this->con->Execute(u"INSERT INTO T (ID, NAME) VALUES (2, 'kept')");
  this->con->CommitTrans();
  EXPECT_FALSE(this->con->InTransaction());
  EXPECT_EQ(this->Cli("SELECT ID, NAME FROM T"), "2\tkept\n");
}

TYPED_TEST_P(StatementShape, DriverErrorsArriveAsOleExceptionsWithTheDriversText) {
  DbDataSet q(this->con.get());
  q.SQL.Add(u"SELECT * FROM NOPE_TABLE");
  try {
    q.Open();
    FAIL() << "no error";
  } catch (const EOleException& e) {
    EXPECT_STREQ(e.ClassName(), "EOleException");
    EXPECT_NE(U8(platform::UpperW(e.Message)).find("NOPE_TABLE"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(q.Active());
  // The connection stays usable.
  EXPECT_EQ(this->con->Execute(u"INSERT INTO T (ID) VALUES (5)"), 1);
  // A statement without rows is refused by Open, and Open on an update statement says so.
  DbDataSet u(this->con.get());
  u.SQL.Add(u"UPDATE T SET NAME = 'n' WHERE ID = 5");
  EXPECT_THROW(u.Open(), EOleException);
}

REGISTER_TYPED_TEST_SUITE_P(StatementShape, SelectFetchesEveryRowIntoMemory, BlockReadsGiveWhatValueReadsGive,
                            EmptyResultStillHasItsColumns,
                            ParametersAreBoundByType, LongTextAndBinaryValuesRoundTrip,
                            LongValuesRoundTripAroundThePieceSize,
                            AppendEditPostAndDeleteWriteThroughThePrimaryKey,
                            EditFindsTheRowByPrimaryKeyThroughASchemaPrefix,
                            EditWithoutPrimaryKeyMatchesOriginalValues, TransactionsCommitAndRollBack,
                            DriverErrorsArriveAsOleExceptionsWithTheDriversText);

}  // namespace odbc_suite
