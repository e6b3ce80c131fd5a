// The configuration dialog's model: filled from the settings in force, edited and driven through
// its grid operations as the form does, then written on Ok. Every written text is compared with
// the writer's own output for the expected settings and read back by command 110.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "CfgModel.h"
#include "CodePage.h"
#include "qzConfigDialogLink.h"
#include "qzExportConfig.h"
#include "qzExportService.h"
#include "qzkqfexport.h"

namespace {

struct Host {
  TExportModule module;
  std::vector<char16_t> param = std::vector<char16_t>(QZWE_PARAM_CAPACITY, 0);
  std::vector<char16_t> msg = std::vector<char16_t>(QZWE_MSG_CAPACITY, 0);

  Host() { Send(QZWE_CMD_INIT, u"test"); }
  int32_t Send(int32_t command, const UnicodeString& text = u"") {
    std::fill(param.begin(), param.begin() + static_cast<std::ptrdiff_t>(text.size() + 2), 0);
    std::copy(text.begin(), text.end(), param.begin());
    msg[0] = 0;
    return module.Execute(command, param.data(), 0, msg.data());
  }
  UnicodeString Param() const { return UnicodeString(param.data()); }
  UnicodeString Msg() const { return UnicodeString(msg.data()); }
  TDialogSettings Settings() const { return TDialogSettings{module.Config, module.AssignTable, module.AddonSelectTable}; }
};

const UnicodeString kText =
    u"<CONFIG><DOCSERVER=archive.local><DOCSERVERPORT=4470><KQFDBCONSTR=Driver=SQLite3;Database=/tmp/k.db;>"
    u"<KQFDBNAME=main><KQFTABLENAME=ZDMNNCI><KQFBCFIELD=ZDMNBC><BCPREFIX=00,0><CLIENT=001>"
    u"<DOCTYPE= BPUV00,BSAV00 ><CHKPAGECOUNT=ja><UNSHARP=1><AOENABLED=Yes><AOTABLE=ADDON>"
    u"<ASSIGN=BPUV00;ZDME01;IDX1;True;Source;False;False;0;False>"
    u"<ASSIGN=BSAV00;ZDMV02;IDX2;False;AddOn;True;True;8;True>"
    u"<ADDONSELECT=ZDMNBC,ZDMMNU;KEY></CONFIG>";

TAssignRow Row(std::initializer_list<const char16_t*> fields) {
  TAssignRow row;
  size_t i = 0;
  for (const char16_t* f : fields) row[i++] = f;
  return row;
}

void ExpectSameSettings(const TExportConfig& a, const TExportConfig& b) {
  EXPECT_EQ(TExportConfigText::Write(a, {}, {}), TExportConfigText::Write(b, {}, {}));
}

// Ok without changes writes the settings in force, and command 110 reads them back unchanged; a
// client set through command 400 is written as the configured client.
TEST(CfgModel, OkWithoutChangesWritesTheSettingsInForce) {
  Host host;
  ASSERT_EQ(host.Send(QZWE_CMD_SETCONFIG, kText), 0);
  host.Send(QZWE_CMD_ADDINDEX, u"MANDT=777");
  TCfgModel model;
  model.Fill(host.Settings());
  EXPECT_EQ(model.Values.Client, u"777");
  EXPECT_EQ(model.Values.DocType, u"BPUV00,BSAV00");
  EXPECT_TRUE(model.CanConfirm());
  const Utf8String written = model.Write();
  EXPECT_EQ(written, TExportConfigText::Write(host.module.Config, host.module.AssignTable, host.module.AddonSelectTable));

  Host again;
  ASSERT_EQ(again.Send(QZWE_CMD_SETCONFIG, platform::Utf8ToWide(written)), 0) << platform::WideToUtf8(again.Msg());
  ExpectSameSettings(again.module.Config, host.module.Config);
  EXPECT_EQ(again.module.AssignTable, host.module.AssignTable);
  EXPECT_EQ(again.module.AddonSelectTable, host.module.AddonSelectTable);
}

struct EditCase {
  const char* name;
  UnicodeString inForce;                            // the text of command 110, empty for none
  std::function<void(TCfgModel&)> edit;             // what the user does
  std::function<void(TExportConfig&)> expectConfig;  // the expected values (from those in force)
  std::vector<TAssignRow> assign;                   // the expected grid rows
  std::vector<TAddonSelectRow> addon;               // the expected add-on rows written
};

void AddAssign(TCfgModel& m, const char16_t* doctype, const char16_t* field, const char16_t* archive, bool date,
               int source, bool currency, bool clear, int length, bool fill) {
  m.AssignDoctype = doctype;
  m.AssignField = field;
  m.AssignArchiveField = archive;
  m.DateConvert = date;
  m.SourceIndex = source;
  m.CurrencyConvert = currency;
  m.ClearZeros = clear;
  m.Length = length;
  m.FillZeros = fill;
  m.AddAssign();
}

void AddAddon(TCfgModel& m, const char16_t* source, const char16_t* target) {
  m.AddonSource = source;
  m.AddonTarget = target;
  m.AddAddon();
}

const TAssignRow kEmptyRow{};
const TAssignRow kRow1 = Row({u"BPUV00", u"ZDME01", u"IDX1", u"True", u"Source", u"False", u"False", u"0", u"False"});
const TAssignRow kRow2 = Row({u"BSAV00", u"ZDMV02", u"IDX2", u"False", u"AddOn", u"True", u"True", u"8", u"True"});

TEST(CfgModel, EditsAndGridOperationsWriteTheExpectedText) {
  auto five = [](TCfgModel& m) {
    m.ClearAssign();
    for (const char16_t* d : {u"D1", u"D2", u"D3", u"D4", u"D5"}) AddAssign(m, d, u"F", u"A", false, 0, false, false, 0, false);
  };
  auto fiveRow = [](const char16_t* d) { return Row({d, u"F", u"A", u"False", u"Source", u"False", u"False", u"0", u"False"}); };
  const EditCase cases[] = {
      {"nothing in force: the empty assignment row is written, the empty add-on row is not", u"",
       [](TCfgModel&) {}, [](TExportConfig&) {}, {kEmptyRow}, {}},
      {"page 1 and 2 edits and switches", kText,
       [](TCfgModel& m) {
         m.Field(TCfgField::DocServer) = u"10.0.0.7";
         m.Field(TCfgField::Client) = u"0815";
         m.Field(TCfgField::KqfDbConStr) = u"DSN=KQF;UID=kqf;PWD=x;";
         m.Values.ChkPageCount = false;
         m.Values.TestMode = true;
         m.Values.AoEnabled = false;
       },
       [](TExportConfig& c) {
         c.DocServer = u"10.0.0.7";
         c.Client = u"0815";
         c.KqfDbConStr = u"DSN=KQF;UID=kqf;PWD=x;";
         c.ChkPageCount = false;
         c.TestMode = true;
         c.AoEnabled = false;
       },
       {kRow1, kRow2}, {{u"ZDMNBC,ZDMMNU", u"KEY"}}},
      {"Add on an empty grid fills the first data row", u"",
       [](TCfgModel& m) { AddAssign(m, u"X1", u"ZDME07", u"ARC7", true, 1, false, true, 12, false); },
       [](TExportConfig&) {}, {Row({u"X1", u"ZDME07", u"ARC7", u"True", u"AddOn", u"False", u"True", u"12", u"False"})}, {}},
      {"Add appends below a filled first row", kText,
       [](TCfgModel& m) { AddAssign(m, u"X1", u"ZDME07", u"ARC7", false, 0, true, false, 3, true); },
       [](TExportConfig&) {},
       {kRow1, kRow2, Row({u"X1", u"ZDME07", u"ARC7", u"False", u"Source", u"True", u"False", u"3", u"True"})},
       {{u"ZDMNBC,ZDMMNU", u"KEY"}}},
      {"first data row empty, a later one filled: Add writes into the last row",
       u"<CONFIG><ASSIGN=;;;;;;;;><ASSIGN=BSAV00;ZDMV02;IDX2;False;AddOn;True;True;8;True></CONFIG>",
       [](TCfgModel& m) { AddAssign(m, u"N", u"ZDME01", u"IDXN", false, 0, false, false, 0, false); },
       [](TExportConfig&) {},
       {Row({u"", u"", u"", u"False", u"Source", u"False", u"False", u"0", u"False"}),
        Row({u"N", u"ZDME01", u"IDXN", u"False", u"Source", u"False", u"False", u"0", u"False"})},
       {}},
      {"\"<\" in an input leaves the grid alone", kText,
       [](TCfgModel& m) { AddAssign(m, u"A<B", u"ZDME01", u"IDX", false, 0, false, false, 0, false); },
       [](TExportConfig&) {}, {kRow1, kRow2}, {{u"ZDMNBC,ZDMMNU", u"KEY"}}},
      {"\";\" in an input leaves the grid alone", kText,
       [](TCfgModel& m) { AddAssign(m, u"BPUV00", u"ZDME01", u"IDX;2", false, 0, false, false, 0, false); },
       [](TExportConfig&) {}, {kRow1, kRow2}, {{u"ZDMNBC,ZDMMNU", u"KEY"}}},
      {"all data rows selected and deleted: one empty row", kText,
       [](TCfgModel& m) { m.DeleteAssign(1, 2); }, [](TExportConfig&) {}, {kEmptyRow}, {{u"ZDMNBC,ZDMMNU", u"KEY"}}},
      {"rows 2 to 3 of five deleted: three rows stay", u"",
       [&](TCfgModel& m) {
         five(m);
         m.DeleteAssign(2, 3);
       },
       [](TExportConfig&) {}, {fiveRow(u"D1"), fiveRow(u"D4"), fiveRow(u"D5")}, {}},
      {"the last row deleted", u"",
       [&](TCfgModel& m) {
         five(m);
         m.DeleteAssign(5, 5);
       },
       [](TExportConfig&) {}, {fiveRow(u"D1"), fiveRow(u"D2"), fiveRow(u"D3"), fiveRow(u"D4")}, {}},
      {"Clear cuts both grids back to one empty row", kText,
       [](TCfgModel& m) {
         m.ClearAssign();
         m.ClearAddon();
       },
       [](TExportConfig&) {}, {kEmptyRow}, {}},
      {"add-on rows added, the first deleted", u"",
       [](TCfgModel& m) {
         AddAddon(m, u"ZDMNBC", u"K1");
         AddAddon(m, u"ZDMNBC, ZDMMNU", u"K2");
         AddAddon(m, u"BAD-NAME", u"K3");  // refused: not a name
         m.DeleteAddon(1, 1);
       },
       [](TExportConfig&) {}, {kEmptyRow}, {{u"ZDMNBC, ZDMMNU", u"K2"}}},
  };
  for (const EditCase& c : cases) {
    SCOPED_TRACE(c.name);
    Host host;
    if (!c.inForce.empty()) {
      ASSERT_EQ(host.Send(QZWE_CMD_SETCONFIG, c.inForce), 0) << platform::WideToUtf8(host.Msg());
    }
    TCfgModel model;
    model.Fill(host.Settings());
    c.edit(model);
    TExportConfig expected = host.module.Config;
    c.expectConfig(expected);
    const Utf8String written = model.Write();
    EXPECT_EQ(written, TExportConfigText::Write(expected, c.assign, c.addon));

    // Read back by command 110 of a fresh session: the rows come back normalised.
    Host back;
    ASSERT_EQ(back.Send(QZWE_CMD_SETCONFIG, platform::Utf8ToWide(written)), 0) << platform::WideToUtf8(back.Msg());
    std::vector<TAssignRow> normalised;
    for (const auto& row : c.assign) {
      UnicodeString joined;
      for (size_t i = 0; i < row.size(); ++i) joined += (i ? u";" : u"") + row[i];
      normalised.push_back(TExportConfigText::ParseAssignRow(joined));
    }
    EXPECT_EQ(back.module.AssignTable, normalised);
    EXPECT_EQ(back.module.AddonSelectTable, c.addon.empty() ? std::vector<TAddonSelectRow>{TAddonSelectRow{}} : c.addon);
    EXPECT_EQ(back.Send(QZWE_CMD_GETCONFIG), 0);
    EXPECT_EQ(back.Param(), platform::Utf8ToWide(written));
  }
}

TEST(CfgModel, RowClickFillsThePageThreeInputs) {
  struct ClickCase {
    TAssignRow cells;
    UnicodeString doctype;
    bool date, currency, clear, fill;
    int source, length;
  };
  const ClickCase cases[] = {
      {Row({u"BPUV00", u"ZDME01", u"IDX1", u"True", u"Source", u"False", u"ja", u"12", u"OK"}), u"BPUV00", true, false, true,
       true, 0, 12},
      {Row({u"B", u"F", u"A", u"nein", u"SOURCE", u"WAHR", u"", u"abc", u"False"}), u"B", false, true, false, false, 0, 0},
      {Row({u"C", u"F", u"A", u"False", u"AddOn", u"False", u"False", u"", u"False"}), u"C", false, false, false, false, 1, 0},
      {Row({u"D", u"F", u"A", u" True", u"Quelle", u"False", u"False", u"$10", u"False"}), u"D", false, false, false, false, 1,
       16},
      {Row({u"E", u"F", u"A", u"x", u"source", u"False", u"False", u"99999", u"False"}), u"E", true, false, false, false, 0,
       TCfgModel::LengthMax},
  };
  for (const ClickCase& c : cases) {
    TCfgModel model;
    model.Fill(TDialogSettings{TExportConfig{}, {kRow1, c.cells}, {}});
    model.ClickAssign(2);
    SCOPED_TRACE(std::string(c.doctype.begin(), c.doctype.end()));
    EXPECT_EQ(model.AssignDoctype, c.doctype);
    EXPECT_EQ(model.AssignField, c.cells[1]);
    EXPECT_EQ(model.AssignArchiveField, c.cells[2]);
    EXPECT_EQ(model.DateConvert, c.date);
    EXPECT_EQ(model.CurrencyConvert, c.currency);
    EXPECT_EQ(model.ClearZeros, c.clear);
    EXPECT_EQ(model.FillZeros, c.fill);
    EXPECT_EQ(model.SourceIndex, c.source);
    EXPECT_EQ(model.Length, c.length);
  }
  TCfgModel model;
  model.AssignDoctype = u"kept";
  model.ClickAssign(0);  // the heading row
  model.ClickAssign(7);  // past the last row
  EXPECT_EQ(model.AssignDoctype, u"kept");
}

TEST(CfgModel, ValuesThatWouldBreakTheTextAreRefused) {
  struct V {
    TCfgField field;
    UnicodeString value;
    bool ok;
  };
  const V cases[] = {
      {TCfgField::DocServer, u"host<1>", false},
      {TCfgField::Client, u"a>b", false},
      {TCfgField::KqfDbConStr, u"Driver=SQLite3;Database=/tmp/a.db;", true},
      {TCfgField::KqfDbConStr, u"Driver=<x>", false},
      {TCfgField::DocType, u"BPUV00, BSAV00", true},
      {TCfgField::KqfTableName, u"dbo.ZDMNNCI", true},
      {TCfgField::KqfTableName, u"ZDM NNCI", false},
      {TCfgField::KqfDbName, u"KQFD;DROP", false},
      {TCfgField::AoTable, u" ADDON ", true},
      {TCfgField::AssignDoctype, u"A;B", false},
      {TCfgField::AssignArchiveField, u"Index Feld", true},
      {TCfgField::AddonSource, u"ZDMNBC, ZDMMNU", true},
      {TCfgField::AddonSource, u"ZDMNBC,ZDM-MNU", false},
      {TCfgField::AddonTarget, u"KEY;X", false},
      {TCfgField::AddonTarget, u"KEY", true},
  };
  for (const V& v : cases) {
    TCfgModel model;
    model.Fill(TDialogSettings{});
    ASSERT_TRUE(model.CanConfirm());
    model.Field(v.field) = v.value;
    EXPECT_EQ(model.FieldError(v.field).empty(), v.ok) << std::string(v.value.begin(), v.value.end());
    EXPECT_EQ(model.CanConfirm(), v.ok);
  }
}

TEST(DialogSettings, EncodeDecodeKeepsEveryValue) {
  TDialogSettings s;
  s.Config.Client = u"a<b=c\u00e4\U0001F600";  // set through command 400: anything but a zero
  s.Config.DocServer = u" spaced ";
  s.Config.ChkPageCount = false;
  s.Config.AoEnabled = true;
  s.Config.KqfBcField.clear();
  s.AssignRows = {kRow1, kEmptyRow, kRow2};
  s.AddonRows = {{u"A,B", u""}, {u"", u"T"}};
  const UnicodeString encoded = EncodeDialogSettings(s);
  const TDialogSettings back = DecodeDialogSettings(encoded.c_str());
  ExpectSameSettings(back.Config, s.Config);
  EXPECT_EQ(back.Config.Client, s.Config.Client);
  EXPECT_EQ(back.AssignRows, s.AssignRows);
  EXPECT_EQ(back.AddonRows, s.AddonRows);
  EXPECT_TRUE(DecodeDialogSettings(nullptr).AssignRows.empty());
}

// Without its dialog library (none stands beside this test program), command 800 returns the text
// in force unchanged and says why; the settings and the kept text stay as they were.
TEST(Command800, WithoutTheDialogLibraryReturnsTheTextInForce) {
  Host host;
  ASSERT_EQ(host.Send(QZWE_CMD_SETCONFIG, kText), 0);
  EXPECT_EQ(host.Send(QZWE_CMD_CONFIGURE), 0);
  EXPECT_EQ(host.Param(), kText);
  EXPECT_NE(host.Msg().find(u"configuration dialog"), UnicodeString::npos) << platform::WideToUtf8(host.Msg());
  EXPECT_EQ(host.Send(QZWE_CMD_GETCONFIG), 0);
  EXPECT_EQ(host.Param(), kText);
}

}  // namespace
