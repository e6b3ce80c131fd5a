// The export run end to end on SQLite (through its ODBC driver), with the Python archive oracle:
// the case table of ExportRunCases.h, plus the field reader and the value conversions of the
// index-field mapping.
#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "ExportRunCases.h"
#include "qzBase64.h"
#include "qzFieldReader.h"
#include "qzIndexMapping.h"

namespace {

using exportrun::SqliteBackend;

class ExportRunSqlite : public testing::TestWithParam<size_t> {};

TEST_P(ExportRunSqlite, Case) {
  SqliteBackend backend;
  exportrun::RunCase(backend, exportrun::Cases()[GetParam()]);
}

INSTANTIATE_TEST_SUITE_P(Cases, ExportRunSqlite, testing::Range<size_t>(0, exportrun::Cases().size()),
                         exportrun::CaseName);

// A second 600 without 200 sends the entries mapped by the first run again, next to the new ones;
// the connections opened by the first run stay open.
TEST(ExportRunRepeat, SecondRunSendsEarlierMappedEntries) {
  SqliteBackend db;
  const std::string kqf = db.NewDatabase(), link = db.NewDatabase(), addon = db.NewDatabase();
  exportrun::CreateTables(db, kqf, link, addon);
  qztest::ArchiveOracle oracle;
  oracle.Start("none");
  exportrun::Host host;
  ASSERT_EQ(host.Send(QZWE_CMD_INIT), 0);
  const std::string config = exportrun::BaseConfig(db, kqf, link, addon, oracle.Port()) +
                             "<TESTMODE=1><CHKPAGECOUNT=0><CREATELINK=0></CONFIG>";
  ASSERT_EQ(host.Send(QZWE_CMD_SETCONFIG, platform::Utf8ToWide(config)), 0);
  host.Send(QZWE_CMD_NEWDOCUMENT);
  host.Send(QZWE_CMD_ADDINDEX, u"Barcode=4714");
  EXPECT_EQ(host.Send(QZWE_CMD_EXPORT), -2);
  EXPECT_EQ(host.Send(QZWE_CMD_EXPORT), -2);
  const auto requests = oracle.WaitForRequests(2);
  ASSERT_EQ(requests.size(), 2u);
  const std::vector<std::string> once = {"IDXBETRAG=0,14", "IDXBELEGDATUM=06.05.2023", "IDXKUNDENNR=42",
                                         "IDXEBCFELD=00000042"};
  std::vector<std::string> first = {"Archive=", "Title=", "Index=true", "IDXBarcode=4714"};
  first.insert(first.end(), once.begin(), once.end());
  EXPECT_EQ(requests[0].Items, first);
  std::vector<std::string> second = first;
  second.insert(second.end(), once.begin(), once.end());
  EXPECT_EQ(requests[1].Items, second);
  EXPECT_EQ(host.module.KqfConnection->OpenCount(), 1);
}

// A server that answers "Result=ok" in lower case: the document counts as archived.
TEST(ExportRunAnswer, LowerCaseOkIsAccepted) {
  SqliteBackend db;
  const std::string kqf = db.NewDatabase(), link = db.NewDatabase(), addon = db.NewDatabase();
  exportrun::CreateTables(db, kqf, link, addon);
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  socklen_t len = sizeof a;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  std::string received;
  std::thread server([&] {
    const int c = ::accept(listener, nullptr, nullptr);
    char buf[4096];
    while (received.size() < 15 || received.compare(received.size() - 15, 15, "</CREATEDOCEXT>") != 0) {
      const ssize_t n = ::recv(c, buf, sizeof buf, 0);
      if (n <= 0) break;
      received.append(buf, static_cast<size_t>(n));
    }
    const std::string answer = "<RESULT><enc=mime><comp=false><" + TqzBase64::StrToBase64("Result=ok") + "><" +
                               TqzBase64::StrToBase64("DocId=LOWER") + "></RESULT>";
    ::send(c, answer.data(), answer.size(), MSG_NOSIGNAL);
    ::close(c);
  });
  exportrun::Host host;
  ASSERT_EQ(host.Send(QZWE_CMD_INIT), 0);
  const std::string config =
      exportrun::BaseConfig(db, kqf, link, addon, ntohs(a.sin_port)) + "<CHKPAGECOUNT=0></CONFIG>";
  ASSERT_EQ(host.Send(QZWE_CMD_SETCONFIG, platform::Utf8ToWide(config)), 0);
  host.Send(QZWE_CMD_NEWDOCUMENT);
  host.Send(QZWE_CMD_ADDINDEX, u"Barcode=4714");
  EXPECT_EQ(host.Send(QZWE_CMD_EXPORT), 0) << platform::WideToUtf8(host.Msg());
  server.join();
  ::close(listener);
  EXPECT_EQ(host.Msg(), u"");
  EXPECT_EQ(received.rfind("<CREATEDOCEXT>", 0), 0u);
  EXPECT_EQ(db.Exec(kqf, "SELECT ZDMSTS FROM ZDMNNCI WHERE ZDMKEY = 14;"), "\xc3\xb0\n");
  EXPECT_EQ(db.Exec(link, "SELECT ARCDOCID, KQFKEY FROM VYRKQFLINK;"), "LOWER\t14\n");
}

// The value conversions of the assignment rows.
TEST(IndexMappingRules, Conversions) {
  struct Rule {
    TAssignRow row;
    std::u16string in, out;
  };
  const auto row = [](const char16_t* date, const char16_t* amount, const char16_t* zeros, const char16_t* length,
                      const char16_t* fill) {
    return TAssignRow{u"D", u"F", u"A", date, u"Source", amount, zeros, length, fill};
  };
  const Rule rules[] = {
      {row(u"True", u"False", u"False", u"0", u"False"), u"20230506", u"06.05.2023"},
      {row(u"True", u"False", u"False", u"0", u"False"), u"202305", u".05.2023"},
      {row(u"True", u"False", u"True", u"0", u"False"), u"20230506", u"06.05.2023"},  // date wins
      {row(u"False", u"True", u"False", u"0", u"False"), u"0000012345", u"123,45"},
      {row(u"False", u"True", u"False", u"0", u"False"), u"5", u"0,05"},
      {row(u"False", u"True", u"False", u"0", u"False"), u"12", u"0,12"},
      {row(u"False", u"True", u"False", u"0", u"False"), u"000", u"0,00"},
      {row(u"False", u"True", u"False", u"0", u"False"), u"  0042 ", u"0,42"},
      {row(u"False", u"False", u"True", u"0", u"False"), u"  0042", u"42"},
      {row(u"False", u"False", u"True", u"0", u"False"), u"000", u"000"},
      {row(u"False", u"False", u"False", u"8", u"True"), u"42", u"00000042"},
      {row(u"False", u"False", u"False", u"0", u"True"), u" 42 ", u" 42 "},
      {row(u"False", u"False", u"False", u"2", u"True"), u"12345", u"12345"},
      {row(u"False", u"False", u"False", u"0", u"False"), u" as read ", u" as read "},
  };
  for (const Rule& r : rules) {
    EXPECT_EQ(ConvertAssignedValue(r.row, r.in), r.out) << platform::WideToUtf8(r.in);
  }
}

// The field reader: EBCDIC byte columns translated and trimmed, other columns as they are,
// missing columns empty.
TEST(FieldReader, BytesTextAndMissingColumns) {
  qztest::SqliteDb db;
  db.Exec("CREATE TABLE T (B VARBINARY(20), S VARCHAR(20), N INTEGER, E VARBINARY(10));"
          "INSERT INTO T VALUES (X'4AD0C1C2C3404040', '  text  ', 42, X'');");
  platform::DbConnection con(db.ConnectionString());
  platform::DbDataSet q(&con);
  q.SQL.Add(u"SELECT * FROM T");
  q.Open();
  TEbcdic conv;
  EXPECT_EQ(GetFieldText(q, u"b", &conv), u"\u00c4\u00fcABC");
  EXPECT_EQ(GetFieldText(q, u"S", &conv), u"  text  ");
  EXPECT_EQ(GetFieldText(q, u"N", nullptr), u"42");
  EXPECT_EQ(GetFieldText(q, u"E", &conv), u"");
  EXPECT_EQ(GetFieldText(q, u"NOSUCH", &conv), u"");
  q.Close();
  EXPECT_EQ(GetFieldText(q, u"S", &conv), u"");  // no current record
}

}  // namespace
