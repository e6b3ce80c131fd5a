// The host command interface: command sequences against a fresh export module, with the
// configuration text applied by command 110 and returned by command 850.
#include <gtest/gtest.h>

#include <vector>

#include "qzExportConfig.h"
#include "qzExportService.h"
#include "qzkqfexport.h"

namespace {

struct Host {
  TExportModule module;
  std::vector<char16_t> param = std::vector<char16_t>(QZWE_PARAM_CAPACITY, 0);
  std::vector<char16_t> msg = std::vector<char16_t>(QZWE_MSG_CAPACITY, 0);

  int32_t Send(int32_t command, const UnicodeString& text = u"") {
    std::fill(param.begin(), param.begin() + static_cast<std::ptrdiff_t>(text.size() + 2), 0);
    std::copy(text.begin(), text.end(), param.begin());
    msg[0] = 0;
    return module.Execute(command, param.data(), 0, msg.data());
  }
  UnicodeString Param() const { return UnicodeString(param.data()); }
  UnicodeString Msg() const { return UnicodeString(msg.data()); }
  UnicodeString Config() {
    EXPECT_EQ(Send(QZWE_CMD_GETCONFIG), 0);
    return Param();
  }
};

TEST(ExportCommands, StateChecksAndUnknownCommands) {
  Host host;
  EXPECT_EQ(host.Send(QZWE_CMD_SETTITLE, u"x"), -1);  // before 100
  EXPECT_NE(host.Msg().find(u"command 100"), UnicodeString::npos);
  EXPECT_EQ(host.Send(QZWE_CMD_INIT, u"host"), 0);
  EXPECT_EQ(host.Send(12345), 0);
  EXPECT_EQ(host.Send(-7), 0);
  EXPECT_EQ(host.Config(), u"");  // 850 right after 100
  EXPECT_EQ(host.Send(QZWE_CMD_QUERYSUPPORT), 0);
  EXPECT_EQ(host.Param(), u"True");
  EXPECT_EQ(host.Send(QZWE_CMD_GETVERSION), 0);
  EXPECT_FALSE(host.Param().empty());
  EXPECT_EQ(host.Send(QZWE_CMD_INIT, u"again"), 0);  // a second 100 replaces the first one's objects
  EXPECT_EQ(host.Send(QZWE_CMD_DONE), 0);
  EXPECT_EQ(host.Send(QZWE_CMD_GETCONFIG), -1);  // after 900
  EXPECT_NE(host.Msg().find(u"900"), UnicodeString::npos);
}

TEST(ExportCommands, IndexEntriesRecordKeyAndClient) {
  Host host;
  host.Send(QZWE_CMD_INIT);
  host.Send(QZWE_CMD_NEWDOCUMENT);
  struct Case {
    UnicodeString entry;
    bool listed;
  };
  const Case cases[] = {
      {u"kqfKey=4711", false}, {u"Barcode=ABC 1 ", true}, {u"mandt=100", false}, {u"no equals sign", true},
      {u"Client=200", false},  {u"=value", true},          {u"Stra\u00dfe=x", true},
  };
  std::vector<UnicodeString> expected;
  for (const auto& c : cases) {
    EXPECT_EQ(host.Send(QZWE_CMD_ADDINDEX, c.entry), 0);
    if (c.listed) expected.push_back(c.entry);
  }
  std::vector<UnicodeString> listed;
  for (int i = 0; i < host.module.IndexList->Count(); ++i) listed.push_back(host.module.IndexList->Get(i));
  EXPECT_EQ(listed, expected);
  EXPECT_EQ(host.module.RecordKey, u"4711");
  EXPECT_EQ(host.module.Config.Client, u"200");
  // A new document clears the record key, title and lists, but keeps the archive and client.
  host.Send(QZWE_CMD_SETARCHIVE, u"ARC1");
  host.Send(QZWE_CMD_SETTITLE, u"T");
  host.Send(QZWE_CMD_ADDFILE, u"/nonexistent/page1.tif");
  host.Send(QZWE_CMD_NEWDOCUMENT);
  EXPECT_EQ(host.module.RecordKey, u"");
  EXPECT_EQ(host.module.Title, u"");
  EXPECT_EQ(host.module.IndexList->Count(), 0);
  EXPECT_EQ(host.module.DocumentFileList->Count(), 0);
  EXPECT_EQ(host.module.ArchiveName, u"ARC1");
  EXPECT_EQ(host.module.Config.Client, u"200");
}

TEST(ExportConfigText, ApplyAndReturn) {
  Host host;
  host.Send(QZWE_CMD_INIT);
  for (const UnicodeString bad : {u"", u"no tags", u"<CONFIG>", u"<CONFIG><A=1></OTHER>"}) {
    EXPECT_EQ(host.Send(QZWE_CMD_SETCONFIG, bad), -1) << platform::WideToUtf8(bad);
    EXPECT_EQ(host.Msg(), u"");
    EXPECT_EQ(host.Config(), bad);  // the rejected text is kept all the same
  }
  host.module.Config.KqfBcField.clear();
  EXPECT_EQ(host.Send(QZWE_CMD_SETCONFIG, u"<CONFIG></CONFIG>"), 0);
  const TExportConfig& c = host.module.Config;
  EXPECT_TRUE(c.ChkPageCount);
  EXPECT_EQ(c.KqfDbName, u"KQFD");
  EXPECT_EQ(c.KqfTableName, u"ZDMNNCI");
  EXPECT_EQ(c.KqfBcField, u"ZDMNBC");

  const UnicodeString text =
      u"<config><docserver=arch1><CHKPAGECOUNT=nein><KQFDBNAME=main><KQFTABLENAME=Z\u00c4HLER>"
      u"<DOCTYPE=A, ,B ,><BCPREFIX=00,,0><ASSIGN=INV;AMOUNT;BETRAG;;;x>"
      u"<ASSIGN=INV;AMOUNT;BETRAG;0;AddOn;0;0;7.0;1><TITLE=\U0001F600 ok></Config>";
  EXPECT_EQ(host.Send(QZWE_CMD_SETCONFIG, text), 0);
  EXPECT_EQ(c.DocServer, u"arch1");
  EXPECT_FALSE(c.ChkPageCount);
  EXPECT_EQ(c.KqfTableName, u"Z\u00c4HLER");
  EXPECT_EQ(c.DocTypeList, (std::vector<UnicodeString>{u"A", u"B"}));
  std::vector<UnicodeString> prefixes;
  for (int i = 0; i < host.module.BarcodePrefixList->Count(); ++i) prefixes.push_back(host.module.BarcodePrefixList->Get(i));
  EXPECT_EQ(prefixes, (std::vector<UnicodeString>{u"00", u"", u"0"}));
  ASSERT_EQ(host.module.AssignTable.size(), 2u);
  EXPECT_EQ(host.module.AssignTable[0],
            (TAssignRow{u"INV", u"AMOUNT", u"BETRAG", u"False", u"Source", u"True", u"False", u"0", u"False"}));
  EXPECT_EQ(host.module.AssignTable[1][7], u"7");
  EXPECT_EQ(host.module.AssignTable[1][8], u"True");
  EXPECT_EQ(host.Config(), text);  // umlauts and a non-BMP character come back unchanged

  // A text without ASSIGN rows keeps the rows; CHKPAGECOUNT is reset to true by every 110.
  EXPECT_EQ(host.Send(QZWE_CMD_SETCONFIG, u"<CONFIG><CHKPAGECOUNT=ja></CONFIG>"), 0);
  EXPECT_EQ(host.module.AssignTable.size(), 2u);
  EXPECT_TRUE(c.ChkPageCount);
  EXPECT_EQ(c.KqfTableName, u"ZDMNNCI");
}

// A text refused for a configured name changes nothing: every setting stays in force, the five
// that each 110 resets included, and 850 still returns the last accepted text. A text that is no
// tag list at all resets those five and is kept, as before.
TEST(ExportConfigText, RefusesUnsafeDatabaseNames) {
  Host host;
  host.Send(QZWE_CMD_INIT);
  const UnicodeString accepted =
      u"<CONFIG><KQFDBCONSTR=DSN=kqf><KQFDBNAME=main><KQFTABLENAME=T1><CHKPAGECOUNT=nein><BCPREFIX=00, 0>"
      u"<KQFBCFIELD=BC><DOCSERVER=arch1></CONFIG>";
  ASSERT_EQ(host.Send(QZWE_CMD_SETCONFIG, accepted), 0);
  const TExportConfig& c = host.module.Config;
  auto prefixes = [&] {
    std::vector<UnicodeString> out;
    for (int i = 0; i < host.module.BarcodePrefixList->Count(); ++i) out.push_back(host.module.BarcodePrefixList->Get(i));
    return out;
  };
  for (const UnicodeString text : {u"<CONFIG><KQFTABLENAME=ZDMNNCI; DROP TABLE X></CONFIG>",
                                   u"<CONFIG><KQFBCFIELD=ZDMNBC OR 1=1></CONFIG>",
                                   u"<CONFIG><DOCSERVER=other><AOTABLE=a'b></CONFIG>",
                                   u"<CONFIG><ADDONSELECT=ZDMV01,ZDMV02;KEY)--></CONFIG>"}) {
    SCOPED_TRACE(platform::WideToUtf8(text));
    EXPECT_EQ(host.Send(QZWE_CMD_SETCONFIG, text), -1);
    EXPECT_NE(host.Msg().find(u"not a valid database name"), UnicodeString::npos) << platform::WideToUtf8(host.Msg());
    EXPECT_EQ(c.KqfDbConStr, u"DSN=kqf");
    EXPECT_EQ(c.KqfDbName, u"main");
    EXPECT_EQ(c.KqfTableName, u"T1");
    EXPECT_FALSE(c.ChkPageCount);
    EXPECT_EQ(c.BcPrefix, u"00, 0");
    EXPECT_EQ(prefixes(), (std::vector<UnicodeString>{u"00", u"0"}));
    EXPECT_EQ(c.KqfBcField, u"BC");
    EXPECT_EQ(c.DocServer, u"arch1");
    EXPECT_EQ(host.Config(), accepted);
  }
  // A mismatched closing tag: the five reset, the refused text kept, no key applied.
  const UnicodeString mismatched = u"<CONFIG><DOCSERVER=other><KQFTABLENAME=T2></OTHER>";
  EXPECT_EQ(host.Send(QZWE_CMD_SETCONFIG, mismatched), -1);
  EXPECT_EQ(host.Msg(), u"");
  EXPECT_EQ(c.KqfDbConStr, u"");
  EXPECT_EQ(c.KqfDbName, u"KQFD");
  EXPECT_EQ(c.KqfTableName, u"ZDMNNCI");
  EXPECT_TRUE(c.ChkPageCount);
  EXPECT_EQ(c.BcPrefix, u"");
  EXPECT_TRUE(prefixes().empty());
  EXPECT_EQ(c.DocServer, u"arch1");
  EXPECT_EQ(host.Config(), mismatched);
}

TEST(ExportConfigText, WriterOrderReadsBack) {
  TExportConfig c;
  c.DocServer = u"h";
  c.TestMode = true;
  c.KqfBcField = u"ZDMNBC";
  const Utf8String text = TExportConfigText::Write(c, {TAssignRow{u"A", u"B"}}, {TAddonSelectRow{}});
  EXPECT_EQ(text,
            "<CONFIG><DOCSERVER=h><DOCSERVERPORT=><LINKCONSTR=><KQFDBCONSTR=><KQFDBNAME=KQFD><KQFTABLENAME=ZDMNNCI>"
            "<KQFKEYFIELD=ZDMKEY><KQFBCFIELD=ZDMNBC><BCPREFIX=><CLIENT=><DOCTYPE=><CHKPAGECOUNT=True>"
            "<ALLOWDOUBLPC=False><CREATELINK=False><UNSHARP=False><TESTMODE=True><AODBCONSTR=><AOTABLE=>"
            "<AOENABLED=False><ASSIGN=A;B;;;;;;;><ADDONSELECT=;></CONFIG>");
  Host host;
  host.Send(QZWE_CMD_INIT);
  EXPECT_EQ(host.Send(QZWE_CMD_SETCONFIG, platform::Utf8ToWide(text)), 0);
  EXPECT_TRUE(host.module.Config.TestMode);
  EXPECT_EQ(host.module.AssignTable[0][4], u"Source");
}

TEST(ExportCommands, BuffersAreNeverOverrun) {
  Host host;
  host.Send(QZWE_CMD_INIT);
  // An input without a terminating zero within the capacity is refused.
  std::fill(host.param.begin(), host.param.end(), u'a');
  EXPECT_EQ(host.module.Execute(QZWE_CMD_SETTITLE, host.param.data(), 0, host.msg.data()), -1);
  // A configuration that does not fit the buffer on its way back is refused, not cut.
  UnicodeString big = u"<CONFIG><DOCSERVER=" + UnicodeString(QZWE_PARAM_CAPACITY - 40, u'x') + u"></CONFIG>";
  ASSERT_LT(big.size(), static_cast<size_t>(QZWE_PARAM_CAPACITY));
  EXPECT_EQ(host.Send(QZWE_CMD_SETCONFIG, big), 0);
  EXPECT_EQ(host.Send(QZWE_CMD_GETCONFIG), 0);
  EXPECT_EQ(host.Param(), big);
  // Null buffers: an empty input, no message.
  EXPECT_EQ(host.module.Execute(QZWE_CMD_SETTITLE, nullptr, 0, nullptr), 0);
  EXPECT_EQ(host.module.Execute(QZWE_CMD_GETCONFIG, nullptr, 0, nullptr), -1);
}

}  // namespace
