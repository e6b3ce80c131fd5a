// Node and value lists, node tests, subtree values, node XML texts and the package export on
// SQLite; the list helpers, key parts and package texts that need no database.
#include "ConfigListsSuite.h"

namespace {

using namespace config_lists;

TEST(ConfigListsSqlite, NodeListsAndTheWalk) { RunNodeLists<SqliteBackend>(); }
TEST(ConfigListsSqlite, NodeProperties) { RunNodeProperties<SqliteBackend>(); }
TEST(ConfigListsSqlite, PrefixedValues) { RunSubProperties<SqliteBackend>(); }
TEST(ConfigListsSqlite, ChildTestsAndEmptyNodes) { RunNodeTests<SqliteBackend>(); }
TEST(ConfigListsSqlite, SubtreeCopy) { RunSubtreeCopy<SqliteBackend>(); }
TEST(ConfigListsSqlite, ContextHelp) { RunContextHelp<SqliteBackend>(); }
TEST(ConfigListsSqlite, NodeXml) { RunNodeXml<SqliteBackend>(); }
TEST(ConfigListsSqlite, Export) { RunExport<SqliteBackend>(); }
TEST(ConfigListsSqlite, ExportFaultsKeepTheOldFile) { RunExportFaults<SqliteBackend>(); }
TEST(ConfigListsSqlite, ExportLargeValues) { RunExportLargeValues<SqliteBackend>(); }

// A table without the change columns: no user, date or dimension.
TEST(ConfigListsSqlite, LayoutWithoutChangeColumns) {
  StoreEnvironment env;
  qztest::SqliteDb db;
  db.Exec("CREATE TABLE qz_v1 (ID VARCHAR(32) PRIMARY KEY, PARENTID VARCHAR(32), KEYNAME VARCHAR(255), "
          "DATATYPE VARCHAR(8), KEYVALUE TEXT);"
          "INSERT INTO qz_v1 VALUES ('00000000000000000000000000000001', '', 'n', 'TREE', '');"
          "INSERT INTO qz_v1 VALUES ('00000000000000000000000000000002', '00000000000000000000000000000001', 'V', "
          "'INT', '3');");
  M s(false, db.ConnectionString(), u"qz_v1");
  ASSERT_EQ(s.TableStructureType, TST_V1);
  TProperties list;
  ASSERT_TRUE(s.GetNodeProperties(u"/n", list, true, false, false, u"", "", false, true, false)) << U8(s.Message);
  ASSERT_EQ(Props(list), "V=INT:INT64:3");
  EXPECT_EQ(list[0].User, u"");
  EXPECT_EQ(list[0].Dimension, u"");
  EXPECT_EQ(list[0].Changed, 0);
}

// A chain deeper than 256 levels ends the walk with an error instead of recursing on.
TEST(ConfigListsSqlite, WalkStopsBelow256Levels) {
  std::string path;
  for (int i = 0; i < 260; ++i) path += "/n";
  Fixture<SqliteBackend> f({path});
  TConfigNodes list;
  EXPECT_FALSE(f.store->GetRecursiveChildNodes(u"/n", list, true, true, false));
  EXPECT_EQ(U8(f.store->Message), "the tree below /n has more than 256 levels");
  EXPECT_TRUE(list.empty());
  qztest::TempDir dir("qzdeep");
  EXPECT_FALSE(f.store->Export(u"/n", U16(dir.Path() + "/deep.xml"), true, false, u"", u"", u"", false, qzCE_UTF8,
                               nullptr, nullptr, qzPDT_Unknown, false, "", false, u"", qzEFV_V1_5));
  EXPECT_EQ(U8(f.store->Message), "the tree below /n has more than 256 levels");
}

TEST(ConfigLists, SortNodes) {
  TConfigNodes list;
  for (const char16_t* name : {u"b", u"a", u"A", u"B", u"ab", u"a"}) list.push_back(TConfigNode{TIdType(), name, name, u""});
  list[5].Key = u"second a";
  ASSERT_TRUE(M::SortNodes(list));
  std::string names;
  for (const auto& n : list) names += U8(n.Key) + " ";
  EXPECT_EQ(names, "A B a second a ab b ");
}

TEST(ConfigLists, ListHelpers) {
  StoreEnvironment env;
  SqliteBackend b;
  M s(false, b.ConnectionString(), u"qz_configuration");
  s.Username = u"tester";
  TProperties list;
  EXPECT_FALSE(s.SetPropertyValueByName(u"Port", Variant(int32_t{80}), list));
  EXPECT_TRUE(s.SetPropertyValueByName(u"PORT", u"sub", Variant(u"81"), list));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(U8(list[0].Name), "PORT");
  EXPECT_EQ(U8(list[0].SubName), "sub");
  EXPECT_EQ(U8(list[0].DataType), "UCS4STR");
  EXPECT_EQ(U8(list[0].User), "tester");
  EXPECT_TRUE(list[0].Id.empty());
  EXPECT_EQ(M::GetPropertyIdByName(u"port", list), 0);
  EXPECT_EQ(M::GetPropertyIdByName(u"host", list), -1);

  EXPECT_EQ(Show(s.GetPropertyValueByName(u"Host", Variant(u"h"), list, false)), "UCS4STR:h");
  EXPECT_EQ(list.size(), 1u);
  EXPECT_EQ(Show(s.GetPropertyValueByName(u"12", Variant(int32_t{5}), list, true)), "INT:5");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[1].Id.size(), 32u);
  EXPECT_EQ(list[1].SORTLN, 12u);
  EXPECT_EQ(U8(list[1].DataType), "INT");
  list[1].Value = Variant(int32_t{6});
  EXPECT_EQ(Show(s.GetPropertyValueByName(u"12", Variant(int32_t{5}), list, true)), "INT:6");
  EXPECT_EQ(list.size(), 2u);

  TProperties defaults;
  s.SetPropertyValueByName(u"Host", Variant(u"default"), defaults);
  s.SetPropertyValueByName(u"Port", Variant(int32_t{1}), defaults);
  EXPECT_EQ(Show(M::GetPropertyValueByName(u"host", Variant(u"x"), list, defaults)), "UCS4STR:default");
  EXPECT_EQ(Show(M::GetPropertyValueByName(u"port", Variant(u"x"), list, defaults)), "UCS4STR:81");
  EXPECT_EQ(Show(M::GetPropertyValueByName(u"none", Variant(u"x"), list, defaults)), "UCS4STR:x");

  TProperties noSortl(1);
  noSortl[0].Name = u"Port";
  EXPECT_EQ(M::GetPropertyIdByName(u"Port", noSortl), -1);  // lookups compare SORTL only

  s.SetPropertyValueByName(u"a", Variant(int32_t{1}), list);
  list.push_back(list.back());
  list.back().Name = u"A";
  list.back().Value = Variant(int32_t{2});
  EXPECT_TRUE(M::DeletePropertyValueByName(u"A", list));
  EXPECT_EQ(Props(list), "PORT=UCS4STR:UCS4STR:81 12=INT:INT:6 A=INT:INT:2");
  EXPECT_FALSE(M::DeletePropertyValueByName(u"zz", list));
}

TEST(ConfigLists, KeyPartsNameSpacesAndShortPaths) {
  struct Row {
    const char16_t* key;
    const char* parts;
    const char* top;
  };
  for (const Row& r : std::vector<Row>{{u"/a/b%2Fc/d", "a|b%2Fc|d|", "d"},
                                       {u"a", "a|", "a"},
                                       {u"/", "", ""},
                                       {u"/x/last  ", "x|last|", "last"}}) {
    TStringList parts;
    ASSERT_TRUE(M::GetNodeParts(r.key, parts));
    std::string joined;
    for (int i = 0; i < parts.Count(); ++i) joined += U8(parts[i]) + "|";
    EXPECT_EQ(joined, r.parts) << U8(r.key);
    EXPECT_EQ(U8(M::GetTopNodeName(r.key)), r.top) << U8(r.key);
  }
  for (const auto& [key, inside] : std::vector<std::pair<const char16_t*, bool>>{
           {u"/kesta/Scripts/Includes", true},
           {u"/KESTA/scripts/includes/lib/x", true},
           {u"kesta/Resources/", true},
           {u"/kesta/Scripts", false},
           {u"/kesta/Scripts/Other", false},
           {u"/kesta/Scripts/Module05/a", true}}) {
    EXPECT_EQ(M::IsNameSpaceNode(key), inside) << U8(key);
  }
  struct Short {
    const char16_t* path;
    int max;
    const char* result;
  };
  for (const Short& r : std::vector<Short>{
           {u"/kesta/Software/Basics/HTTP/SSL", 40, "/kesta/Software/Basics/HTTP/SSL"},
           {u"/kesta/Software/Services/Archive/Settings/Server/Connection", 30, "/kesta/.../Connection"},
           {u"/kesta/Software/Services/Archive/Settings/Server/Connection", 12, ".../Connection"},
           {u"/a/b/c/d/eeeeeeeeee", 18, "/a/.../eeeeeeeeee"},
           {u"/abc/defgh/last  ", 12, "/.../last"}}) {
    const std::string result = U8(M::GetShortPath(r.path, r.max));
    EXPECT_EQ(result, r.result) << U8(r.path);
  }
}

TEST(ConfigLists, PackageTexts) {
  EXPECT_EQ(M::GetPackageHash(u"Demo", u"1.2.3.4", u"0123456789ABCDEF0123456789ABCDEF", u"2024-01-02 03:04:05"),
            "35725C6F0222205BECD9D0343C665A6D");
  EXPECT_EQ(M::GetPackageHash(u"Paket Ä😀", u"1.2.3.4", u"0123456789ABCDEF0123456789ABCDEF", u"2024-01-02 03:04:05"),
            "F909DB95EFBFAA26D847C84B1F484327");
  // The date text ignores the locale's separators.
  platform::TFormatSettings settings = platform::InvariantFormatSettings();
  settings.DateSeparator = u'.';
  settings.TimeSeparator = u'.';
  platform::SetFormatSettings(settings);
  EXPECT_EQ(U8(M::PackageDateText(platform::EncodeDate(2024, 1, 2) + platform::EncodeTime(3, 4, 5, 999))),
            "2024-01-02 03:04:05");
  platform::SetFormatSettings(platform::InvariantFormatSettings());
  for (const auto& [text, version] : std::vector<std::pair<const char16_t*, TqzExportFormatVersion>>{
           {u"1.2", qzEFV_V1_2}, {u"1.5", qzEFV_V1_5}, {u"1.6", qzEFV_Unknown}, {u" 1.3", qzEFV_Unknown}}) {
    EXPECT_EQ(M::GetExportFormatVersion(text), version) << U8(text);
  }
  EXPECT_EQ(U8(M::GetExportFormatVersionStr(qzEFV_Unknown)), "Unknown");
  EXPECT_EQ(M::GetPackageDescriptionType(u"markdown"), qzPDT_MarkDown);
  EXPECT_EQ(M::GetPackageDescriptionType(u"html"), qzPDT_Unknown);
  EXPECT_EQ(U8(M::GetPackageDescriptionTypeStr(qzPDT_RichText)), "RichText");
  EXPECT_EQ(U8(M::GetPackageDescriptionTypeStr(qzPDT_Unknown)), "");
}

}  // namespace
