// Tree deletion with backup files, rename, search, in-store backups, locale settings and the
// package import, run on SQLite (qzConfigManagerImport_test.cpp) and on a private MariaDB server
// (qzConfigManagerImport_integration_test.cpp). Archives are made with zip (bzip2 items with
// `zip -Z bzip2`) and Python's zipfile; the store's rows are read back with the database's client.
#pragma once

#include "Clock.h"
#include "ConfigListsSuite.h"
#include "qzBase64.h"
#include "qzKesta.h"
#include "qzTools.h"

namespace config_import {

using namespace config_lists;

// The rows at and below a path (as Rows shows them).
template <class Backend>
std::vector<std::string> RowsBelow(const Backend& b, const std::string& path) {
  std::vector<std::string> out;
  for (const auto& row : Rows(b)) {
    if (row == path || row.rfind(path + "/", 0) == 0 || row.rfind(path + ":", 0) == 0) out.push_back(row);
  }
  return out;
}

// The installation root for the backup folder.
struct Installation {
  qztest::TempDir root{"qzinstall"};
  qztest::ScopedEnv env{"KESTASYS", root.Path()};
  std::vector<std::string> Backups() const {
    std::vector<std::string> names;
    const std::string folder = root.Path() + "/sys/backup";
    if (!std::filesystem::exists(folder)) return names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

inline std::vector<std::string> RoundTripTree() {
  return {"/rt:Port=INT:42",      "/rt:Name=STRING:Äpfel & Birnen 😀", "/rt:Blob=BINARY:AAECAwT/",
          "/rt:On=BOOLEAN:True",  "/rt:When=DATE:2024-01-02 03:04:05", "/rt:Price=DOUBLE:1.50",
          "/rt:Empty=STRING:",    "/rt/sub:X=INT:1",                    "/rt/sub/deep",
          "/rt/x%2Fy:Z=STRING:slash"};
}

// Export, delete the tree, import: the subtree comes back exactly.
template <class Backend>
void RunRoundTrip() {
  Installation installation;
  Fixture<Backend> f(RoundTripTree());
  M& s = *f.store;
  const auto before = RowsBelow(f.b, "/rt");
  ASSERT_EQ(before.size(), 13u);
  qztest::TempDir dir("qzroundtrip");
  UnicodeString info;

  // The backup that the deletion writes.
  ASSERT_TRUE(s.DeleteConfigTree(u"/rt")) << U8(s.Message);
  EXPECT_EQ(RowsBelow(f.b, "/rt"), std::vector<std::string>{});
  const auto backups = installation.Backups();
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_EQ(backups[0].rfind("n7backup_rt.", 0), 0u) << backups[0];
  const std::string backup = installation.root.Path() + "/sys/backup/" + backups[0];
  EXPECT_EQ(Xmllint(qztest::ReadFile(backup)), "valid");
  ASSERT_TRUE(s.Import(u"", U16(backup), info, nullptr, true, false, false, false, false)) << U8(s.Message);
  EXPECT_EQ(RowsBelow(f.b, "/rt"), before);

  struct Variant_ {
    const char* what;
    TqzExportFormatVersion format;
    TCharEncodeType encoding;
    bool package;
    bool zip;
  };
  for (const Variant_& v : std::vector<Variant_>{{"1.2 UTF-8", qzEFV_V1_2, qzCE_UTF8, false, false},
                                                 {"1.2 UTF-16", qzEFV_V1_2, qzCE_UTF16, true, false},
                                                 {"1.5 UTF-16", qzEFV_V1_5, qzCE_UTF16, true, false},
                                                 {"1.4 UTF-8 in a zip, bzip2", qzEFV_V1_4, qzCE_UTF8, true, true}}) {
    SCOPED_TRACE(v.what);
    const std::string file = dir.Path() + "/rt.xml";
    ASSERT_TRUE(s.Export(u"/rt", U16(file), true, v.package, v.package ? u"RT" : u"", u"1.0.0.0", u"", true, v.encoding,
                         nullptr, nullptr, qzPDT_Unknown, false, "", true, u"", v.format))
        << U8(s.Message);
    std::string source = file;
    if (v.zip) {
      source = dir.Path() + "/rt.zip";
      std::filesystem::remove(source);
      const auto zipped = qztest::RunProcess({"zip", "-j", "-Z", "bzip2", source, file});
      ASSERT_EQ(zipped.ExitCode, 0) << zipped.Err;
      const auto listed = qztest::RunProcess({"unzip", "-v", source});
      EXPECT_NE(listed.Out.find("BZip2"), std::string::npos) << listed.Out;
    }
    ASSERT_TRUE(s.DeleteConfigTree(u"/rt")) << U8(s.Message);
    ASSERT_TRUE(s.Import(u"", U16(source), info, nullptr, false, false, false, false, false)) << U8(s.Message);
    EXPECT_EQ(RowsBelow(f.b, "/rt"), before);
  }
  EXPECT_EQ(installation.Backups().size(), 5u);  // one per deletion
}

// Which stored values an import replaces: Overwrite x KeepUserContent x changed by a user.
template <class Backend>
void RunWritePolicy() {
  Installation installation;
  qztest::TempDir dir("qzpolicy");
  const std::string file = dir.Path() + "/w.xml";
  qztest::WriteFile(file,
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<n7Document FormatVersion=\"1.5\" Type=\"Default\">"
                    "<Content RootNode=\"/w\"><Property Name=\"A\" DataType=\"INT\">10</Property>"
                    "<Property Name=\"B\" DataType=\"INT\">20</Property><Property Name=\"C\" DataType=\"INT\">30"
                    "</Property><Node Name=\"empty\"/></Content></n7Document>");
  struct Row {
    bool overwrite, keepUser;
    std::vector<std::string> after;
  };
  const std::vector<Row> rows = {
      {false, false, {"/w", "/w/empty", "/w:A=INT:1", "/w:B=INT:2", "/w:C=INT:30"}},
      {false, true, {"/w", "/w/empty", "/w:A=INT:1", "/w:B=INT:2", "/w:C=INT:30"}},
      {true, false, {"/w", "/w/empty", "/w:A=INT:10", "/w:B=INT:20", "/w:C=INT:30"}},
      {true, true, {"/w", "/w/empty", "/w:A=INT:1", "/w:B=INT:20", "/w:C=INT:30"}},
  };
  Backend b;
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.overwrite) + std::to_string(r.keepUser));
    StoreEnvironment env;
    SetDatabaseType(env, "MYSQL");
    b.Cli("DELETE FROM qz_configuration");
    Seed(b, {"/w:A=INT:1", "/w:B=INT:2"});
    b.Cli("UPDATE qz_configuration SET CHANGEUSER = 'bob' WHERE KEYNAME = 'A'");
    M s(false, b.ConnectionString(), u"qz_configuration");
    s.Username = u"me";
    UnicodeString info;
    ASSERT_TRUE(s.Import(u"", U16(file), info, nullptr, r.overwrite, false, false, r.keepUser, false)) << U8(s.Message);
    EXPECT_EQ(RowsBelow(b, "/w"), r.after);
    EXPECT_EQ(U8(s.Username), "me");  // restored after the import
    EXPECT_FALSE(s.TrackChanges);
  }
}

// A package: RootKey ignored, script rules, descriptions to customer help, the package record;
// a plain export under RootKey; information and details.
template <class Backend>
void RunPackageImport() {
  Installation installation;
  Fixture<Backend> f({"/kesta/Scripts/Process/S1:Include1=STRING:old", "/kesta/Scripts/Process/S1:Keep=STRING:k"});
  M& s = *f.store;
  qztest::TempDir dir("qzpackage");
  const UnicodeString id = u"0123456789ABCDEF0123456789ABCDEF";
  const UnicodeString date = u"2024-01-02 03:04:05";
  const std::string hash = M::GetPackageHash(u"Demo", u"1.2.3.4", id, date);
  const std::string package = dir.Path() + "/p.xml";
  const std::string header = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<n7Document FormatVersion=\"1.5\" "
                             "Type=\"Package\" PackageName=\"Demo\" PackageVersion=\"1.2.3.4\" PackageDate=\"" +
                             U8(date) + "\" PackageId=\"" + U8(id) + "\" Hash=\"";
  const std::string body = "\" ReleaseRequired=\"\"><Info>line one\nline two</Info>"
                           "<Content RootNode=\"/kesta/Scripts/Process\"><Node Name=\"S1\">"
                           "<Property Name=\"Redirect\" DataType=\"STRING\">r</Property>"
                           "<Property Name=\"Script\" DataType=\"STRING\">s</Property></Node></Content>"
                           "<Content RootNode=\"/pkg\"><Property Name=\"Description\" DataType=\"STRING\">about pkg"
                           "</Property><Node Name=\"child\" Complete=\"false\"><Property Name=\"Ä\" DataType=\"INT\">"
                           "1</Property></Node></Content></n7Document>";
  qztest::WriteFile(package, header + hash + body);
  UnicodeString info;
  std::vector<std::string> seen;
  ASSERT_TRUE(s.Import(u"/elsewhere", U16(package), info, [&](const UnicodeString& k) { seen.push_back(U8(k)); }, true,
                       true, false, false, false))
      << U8(s.Message);
  EXPECT_EQ(seen, (std::vector<std::string>{"/kesta/Scripts/Process/S1/Script", "/pkg/Description", "/pkg/child/Ä"}));
  EXPECT_EQ(RowsBelow(f.b, "/elsewhere"), std::vector<std::string>{});
  EXPECT_EQ(Show(s.GetConfigValue(u"/kesta/Scripts/Process/S1", u"Include1", Variant(u"gone"), false)), "UCS4STR:gone");
  EXPECT_EQ(Show(s.GetConfigValue(u"/kesta/Scripts/Process/S1", u"Keep", Variant(u""), false)), "UCS4STR:k");
  EXPECT_FALSE(s.ConfigValueExists(u"/kesta/Scripts/Process/S1", u"Redirect"));
  EXPECT_EQ(RowsBelow(f.b, "/pkg"), (std::vector<std::string>{"/pkg", "/pkg/child", "/pkg/child:Ä=INT:1",
                                                              "/pkg:Description=STRING:about pkg"}));
  EXPECT_EQ(Show(s.GetConfigValue(u"/kesta/Classes/Help/Context/Customer", u"/pkg/", Variant(u""), false)),
            "UCS4STR:about pkg");
  const UnicodeString details = u"/kesta/Classes/Packages/Details/Demo/1.2.3.4";
  EXPECT_EQ(Show(s.GetConfigValue(details, u"PackageId", Variant(u""), false)), "UCS4STR:" + U8(id));
  EXPECT_EQ(Show(s.GetConfigValue(details, u"RootNode", Variant(u""), false)), "UCS4STR:/pkg");
  EXPECT_EQ(TqzBase64::Base64ToStr(platform::WideToAnsi(
                s.GetConfigValue(details, u"PackageData", Variant(u""), false).AsString())),
            qztest::ReadFile(package));
  EXPECT_EQ(Show(s.GetConfigValue(u"/kesta/Classes/Packages/Summary", u"Demo", Variant(u""), false)),
            "UCS4STR:1.2.3.4");

  // The header and the node list.
  const Tn7PackageInformation details1 = s.GetPackageDetails(U16(package), true);
  EXPECT_EQ(U8(details1.Name), "Demo");
  EXPECT_TRUE(details1.IsPackage);
  EXPECT_EQ(U8(details1.Description), "line one\r\nline two");
  EXPECT_EQ(details1.DescriptionType, qzPDT_MarkDown);
  EXPECT_EQ(U8(M::PackageDateText(details1.Date)), U8(date));
  std::string nodes;
  for (const TqzPackageNode& n : details1.NodeList) {
    nodes += U8(n.NodeName) + (n.RootNode ? " root" : "") + (n.Complete ? "" : " partial") +
             (n.HasSubNodes ? " sub" : "") + " [";
    for (const auto& p : n.Properties) nodes += U8(p) + ",";
    nodes += "]; ";
  }
  EXPECT_EQ(nodes, "kesta/Scripts/Process/ root sub []; kesta/Scripts/Process/S1/ [Redirect,Script,]; "
                   "pkg/ root sub [Description,]; pkg/child/ partial [Ä,]; ");
  bool isPackage = false;
  UnicodeString infoText, infoType, name, version, packageId;
  std::vector<TqzPackageNode> list;
  EXPECT_TRUE(s.GetPackageDetails(U16(dir.Path() + "/missing.xml"), isPackage, infoText, infoType, name, version,
                                  packageId, list));
  EXPECT_EQ(U8(version), "0.0.0.0");
  EXPECT_EQ(U8(infoType), "");
  EXPECT_TRUE(list.empty());

  // A tampered header: nothing of the file is written.
  std::string tampered = header + hash + body;
  tampered.replace(tampered.find("PackageName=\"Demo\""), 18, "PackageName=\"Demx\"");
  tampered.replace(tampered.find("about pkg"), 9, "about xxx");
  qztest::WriteFile(package, tampered);
  const auto rowsBefore = Rows(f.b);
  EXPECT_FALSE(s.Import(u"", U16(package), info, nullptr, true, false, false, false, false));
  EXPECT_EQ(U8(s.Message), "Package hash mismatch (" + hash + ")!");
  EXPECT_EQ(Rows(f.b), rowsBefore);

  // A plain export goes below RootKey when one is given.
  const std::string plain = dir.Path() + "/plain.xml";
  ASSERT_TRUE(s.Export(u"/pkg", U16(plain), true, false, u"", u"", u"", false, qzCE_UTF8, nullptr, nullptr,
                       qzPDT_Unknown, false, "", false, u"", qzEFV_V1_5));
  ASSERT_TRUE(s.Import(u"/copy/here", U16(plain), info, nullptr, false, false, false, false, false));
  EXPECT_EQ(RowsBelow(f.b, "/copy"), (std::vector<std::string>{"/copy", "/copy/here", "/copy/here/child",
                                                               "/copy/here/child:Ä=INT:1",
                                                               "/copy/here:Description=STRING:about pkg"}));

  // A release newer than the product's is refused unless the warning is ignored.
  qztest::WriteFile(package, "<?xml version=\"1.0\"?>\n<n7Document FormatVersion=\"1.5\" Type=\"Default\" "
                             "ReleaseRequired=\"99.0.0.0\"><Content RootNode=\"/rel\"><Property Name=\"V\" "
                             "DataType=\"INT\">1</Property></Content></n7Document>");
  if (TqzKesta::GetProductTqzVersion().Major != 0) {
    EXPECT_FALSE(s.Import(u"", U16(package), info, nullptr, true, false, false, false, false));
    EXPECT_EQ(U8(s.Message), "importing this package requires release 99.0.0.0 or higher!");
  }
  EXPECT_TRUE(s.Import(u"", U16(package), info, nullptr, true, false, false, false, true));
  EXPECT_TRUE(s.ConfigValueExists(u"/rel", u"V"));
}

// Zip archives: every ".xml" item in archive order; unsafe names and oversized items refused
// before anything is written.
template <class Backend>
void RunZipImport() {
  Installation installation;
  Fixture<Backend> f({});
  M& s = *f.store;
  qztest::TempDir dir("qzzip");
  auto doc = [](const std::string& root, int v) {
    return "<?xml version=\"1.0\"?>\n<n7Document FormatVersion=\"1.5\" Type=\"Default\"><Content RootNode=\"" + root +
           "\"><Property Name=\"V\" DataType=\"INT\">" + std::to_string(v) + "</Property></Content></n7Document>";
  };
  auto makeZip = [&](const std::string& name, const std::vector<std::pair<std::string, std::string>>& items) {
    std::string script = "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)\n";
    std::vector<std::string> args{dir.Path() + "/" + name};
    for (std::size_t i = 0; i < items.size(); ++i) {
      script += "z.writestr(sys.argv[" + std::to_string(2 + 2 * i) + "], sys.argv[" + std::to_string(3 + 2 * i) + "])\n";
      args.push_back(items[i].first);
      args.push_back(items[i].second);
    }
    qztest::RunPython(script + "z.close()\n", args);
    return U16(dir.Path() + "/" + name);
  };
  UnicodeString info;
  ASSERT_TRUE(s.Import(u"", makeZip("good.zip", {{"dir/a.xml", doc("/za", 1)}, {"readme.txt", "text"},
                                                 {"b.XML", doc("/za", 2)}}),
                       info, nullptr, true, false, false, false, false))
      << U8(s.Message);
  EXPECT_EQ(RowsBelow(f.b, "/za"), (std::vector<std::string>{"/za", "/za:V=INT:2"}));

  const auto rowsBefore = Rows(f.b);
  struct Bad {
    std::string zip;
    std::vector<std::pair<std::string, std::string>> items;
    std::string message;
  };
  s.MaxPackageItemSize = 4096;
  for (const Bad& bad : std::vector<Bad>{
           {"evil.zip", {{"a.xml", doc("/zb", 1)}, {"../evil.xml", doc("/zc", 1)}},
            "the archive item \"../evil.xml\" has no acceptable name"},
           {"abs.zip", {{"/etc/evil.xml", doc("/zc", 1)}}, "the archive item \"/etc/evil.xml\" has no acceptable name"},
           {"big.zip", {{"a.xml", doc("/zb", 1)}, {"big.xml", doc("/zc", 1) + std::string(5000, ' ')}},
            "the archive item \"big.xml\" is larger than 4096 bytes"}}) {
    SCOPED_TRACE(bad.zip);
    EXPECT_FALSE(s.Import(u"", makeZip(bad.zip, bad.items), info, nullptr, true, false, false, false, false));
    EXPECT_EQ(U8(s.Message), bad.message);
    EXPECT_EQ(Rows(f.b), rowsBefore);
  }
}

// ---------------------------------------------------------------------------------------------
// Deletion

template <class Backend>
void RunDeletion() {
  Installation installation;
  Fixture<Backend> f({"/d/a:X=INT:1", "/d/a/b:Y=INT:2", "/d/a/b/c", "/d/keep:Z=INT:3", "/v:P=INT:1", "/v/child:Q=INT:2"});
  M& s = *f.store;
  EXPECT_FALSE(s.DeleteConfigTree(u"/missing"));
  EXPECT_EQ(s.Message, u"");
  EXPECT_TRUE(installation.Backups().empty());

  TConfigNodes list;
  ASSERT_TRUE(s.GetChildNodes(u"/d/a", list, false));  // cached: d/a/b/
  ASSERT_TRUE(s.DeleteConfigTree(u"/d/a"));
  EXPECT_EQ(RowsBelow(f.b, "/d"), (std::vector<std::string>{"/d", "/d/keep", "/d/keep:Z=INT:3"}));
  TIdType id;
  EXPECT_FALSE(s.GetCacheKeyId(u"d/a/b/", id, false));
  ASSERT_EQ(installation.Backups().size(), 1u);

  s.BackupChanges = false;
  ASSERT_TRUE(s.DeleteConfigTree(u"/d/keep"));
  EXPECT_EQ(installation.Backups().size(), 1u);
  s.BackupChanges = true;

  ASSERT_TRUE(s.DeleteNodeProperties(u"/v"));
  EXPECT_EQ(RowsBelow(f.b, "/v"), (std::vector<std::string>{"/v", "/v/child", "/v/child:Q=INT:2"}));
  const auto backups = installation.Backups();
  ASSERT_EQ(backups.size(), 2u);
  const std::string valuesBackup = backups[0].rfind("n7backup.", 0) == 0 ? backups[0] : backups[1];
  EXPECT_EQ(ReadExport(installation.root.Path() + "/sys/backup/" + valuesBackup),
            (std::vector<std::string>{"n7Document FormatVersion,Type FormatVersion=1.5 Type=Default", "Content /v",
                                      ":P=INT:1"}));
  ASSERT_TRUE(s.DeleteNodeProperties(u"/made/new"));
  EXPECT_TRUE(s.NodeExists(u"/made/new", false));
}

// ---------------------------------------------------------------------------------------------
// Rename, search, in-store backups, locale settings

template <class Backend>
void RunRenameAndSearch() {
  const std::string longText = std::string(79, 'a') + "needle" + std::string(115, 'b');  // hit at 80
  const std::string early = std::string(9, 'c') + "needle" + std::string(185, 'd');      // hit at 10
  Fixture<Backend> f({"/r/a/k", "/r/b", "/r:v=INT:1", "/s:Under=STRING:a_b",
                      "/s:Long=STRING:" + longText, "/s:Early=STRING:" + early, "/s:Blob=BINARY:needle",
                      "/s:needle1=STRING:x", "/s:needle2=STRING:y"});
  M& s = *f.store;
  ASSERT_TRUE(s.SetConfigValue(u"/s", u"Path", Variant(u"C:\\temp\\x"), u"STRING"));
  struct Rename {
    const char16_t* key;
    const char16_t* name;
    bool result;
    std::string message;
  };
  for (const Rename& r : std::vector<Rename>{{u"/r/a", u"a", false, "configuration node with name a already exists!"},
                                             {u"/r/a", u"v", false, "configuration node with name v already exists!"},
                                             {u"/r/a", u" ", false, "empty node names not allowed here!"},
                                             {u"/r/zz", u"q", false, ""}}) {
    SCOPED_TRACE(U8(r.key) + " -> " + U8(r.name));
    EXPECT_EQ(s.RenameKey(r.key, r.name), r.result);
    EXPECT_EQ(U8(s.Message), r.message);
  }
  TIdType id;
  ASSERT_FALSE(s.GetParentTreeId(u"/r/a/k", false, false).empty());  // cached with its parent
  ASSERT_TRUE(s.RenameKey(u"/r/a", u"x%2Fy")) << U8(s.Message);
  EXPECT_TRUE(s.GetParentTreeId(u"/r/a/k", false, false).empty());  // the old paths left the cache
  EXPECT_EQ(RowsBelow(f.b, "/r"), (std::vector<std::string>{"/r", "/r/b", "/r/x/y", "/r/x/y/k", "/r:v=INT:1"}));
  EXPECT_EQ(s.GetParentTreeId(u"/r/x%2Fy/k", false, false), f.Id("/r/a/k"));

  auto search = [&](const char16_t* text, int max) {
    TSearchResults results;
    EXPECT_TRUE(s.Search(text, max, results)) << U8(s.Message);
    std::vector<std::string> out;
    for (const auto& r : results) out.push_back(U8(r.Key) + "|" + U8(r.Name) + "|" + U8(r.Value));
    return out;
  };
  EXPECT_EQ(search(u"C:\\temp", 0), std::vector<std::string>{"/s|Path|C:\\temp\\x"});
  EXPECT_EQ(search(u"a_b", 0), std::vector<std::string>{"/s|Under|a_b"});
  EXPECT_EQ(search(u"needle", 0),
            (std::vector<std::string>{"/s|Early|" + early.substr(0, 50) + "...",
                                      "/s|Long|..." + longText.substr(59, 50) + "...", "/s|needle1|x", "/s|needle2|y"}));
  EXPECT_EQ(search(u"needle*", 0), (std::vector<std::string>{"/s|needle1|x", "/s|needle2|y"}));
  EXPECT_EQ(search(u"needle", 3).size(), 3u);
  const std::string all = f.b.Cli("SELECT COUNT(*) FROM qz_configuration WHERE DATATYPE <> 'BINARY'");
  EXPECT_EQ(std::to_string(search(u"", 0).size()) + "\n", all);  // every row but the binary, nodes too
  EXPECT_EQ(search(u"x/y", 0), std::vector<std::string>{"/r/x%2Fy||"});  // a node row: no name
}

template <class Backend>
void RunBackupsAndLocale() {
  Installation installation;
  Fixture<Backend> f({"/n:A=INT:1", "/n:B=STRING:b", "/n:ChangeDate=DATE:2023-01-01"});
  M& s = *f.store;
  TStringList names;
  names.Add(u"A");
  names.Add(u"Missing");
  int64_t ms = platform::UtcDateTimeToUnixMs(platform::EncodeDate(2024, 1, 1));
  auto at = [&](int64_t t) {
    platform::SetClock([t] { return std::chrono::system_clock::time_point(std::chrono::milliseconds(t)); });
  };
  at(ms);
  ASSERT_TRUE(s.CreateBackup(u"/n", names, u"first", -1, true));
  at(ms + 1);
  ASSERT_TRUE(s.CreateBackup(u"/n", names, u"", -1, false));
  at(ms + 2);
  ASSERT_TRUE(s.CreateBackup(u"/n", names, u"", -1, false));
  at(ms + 3);
  ASSERT_TRUE(s.CreateBackup(u"/n", names, u"new", 2, false));
  platform::ResetClock();
  TConfigNodes list;
  ASSERT_TRUE(s.GetChildNodes(u"/kesta/Classes/Backups/n", list, false));
  std::vector<std::string> kept;
  for (const auto& n : list) {
    TProperties values;
    s.GetNodeProperties(n.Key, values, true, false, false, u"", "", false, true, false);
    std::string text = U8(n.Name).substr(0, 7) + "+" + std::to_string(U8(n.Name).size()) + ":";
    for (const auto& v : values) text += " " + U8(v.Name) + (v.Name == u"User" || v.Name == u"CreationDate" ? "" : "=" + Show(v.Value));
    kept.push_back(text);
  }
  EXPECT_EQ(kept, (std::vector<std::string>{
                      "Backup_+24: A=INT64:1 Comment=UCS4STR:first CreationDate Date=DATE:2023-01-01 "
                      "Persistent=BOOLEAN:True User",
                      "Backup_+24: A=INT64:1 CreationDate Date=DATE:2023-01-01 User",
                      "Backup_+24: A=INT64:1 Comment=UCS4STR:new CreationDate Date=DATE:2023-01-01 User"}));

  // The locale node is filled on the first call; a stored separator wins.
  const platform::TFormatSettings first = s.GetN7FormatSettings();
  EXPECT_EQ(first.DecimalSeparator, u'.');
  TProperties locale;
  ASSERT_TRUE(s.GetNodeProperties(u"/kesta/Classes/Behaviour/Local", locale, true, false, false, u"", "", false, true,
                                  false));
  EXPECT_EQ(locale.size(), 8u);
  ASSERT_TRUE(s.SetConfigValue(u"/kesta/Classes/Behaviour/Local", u"DecimalSeparator", Variant(u",")));
  ASSERT_TRUE(s.SetConfigValue(u"/kesta/Classes/Behaviour/Local", u"ShortDateFormat", Variant(u"dd.mm.yyyy")));
  const platform::TFormatSettings second = s.GetN7FormatSettings();
  EXPECT_EQ(second.DecimalSeparator, u',');
  EXPECT_EQ(U8(second.ShortDateFormat), "dd.mm.yyyy");
}

// ---------------------------------------------------------------------------------------------
// Service registry

inline std::string Service(const std::string& rest) { return "/kesta/Software/kesta module15 daemon/Services/" + rest; }
inline std::string ClusterNode(const std::string& rest) { return "/kesta/Software/kesta module15 daemon/Cluster/" + rest; }

template <class Backend>
void RunServiceRegistry() {
  Installation installation;
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").filename().string();
  Fixture<Backend> f({Service("A:ServicePath=STRING:/opt/kesta/sys/qzmodule01srv.exe"), Service("A:Active=BOOLEAN:True"),
                      Service("A:Instances=INT:3"), Service("B:Active=BOOLEAN:False"), Service("B:Instances=INT:2"),
                      Service("C:Active=BOOLEAN:True"), Service("C/Cluster/Node 2:NodeId=INT:2"),
                      Service("C/Cluster/Node 2:Instances=INT:3"), ClusterNode("Node 2:Active=BOOLEAN:True"),
                      Service("D:Active=BOOLEAN:True"), Service("D/Cluster/Node 2:NodeId=INT:3"),
                      Service("D/Cluster/Node 2:Instances=INT:3"), ClusterNode("Node 3:Active=BOOLEAN:False"),
                      Service("Self:ServicePath=STRING:/opt/kesta/sys/" + self), Service("Port:RootPort=INT:5000"),
                      Service("Port:ServicePath=STRING:/opt/other.exe"), Service("NoRoot:ServicePath=STRING:/opt/x.exe")});
  M& s = *f.store;
  auto readyStates = [&](const std::string& service) {
    std::vector<std::string> out;
    for (const auto& row : RowsBelow(f.b, Service(service) + "/Cluster")) {
      if (row.find(':') != std::string::npos) out.push_back(row.substr(Service(service).size()));
    }
    return out;
  };

  // Instance numbering: 0 .. n-1 on the node with NodeId 0, else 1 .. n; inactive services and
  // cluster nodes are left alone.
  EXPECT_TRUE(s.ResetReadyStates(0));
  EXPECT_EQ(readyStates("A"), (std::vector<std::string>{
                                  "/Cluster/Node 0/Instance 0:InstanceReady=BOOLEAN:False",
                                  "/Cluster/Node 0/Instance 1:InstanceReady=BOOLEAN:False",
                                  "/Cluster/Node 0/Instance 2:InstanceReady=BOOLEAN:False",
                                  "/Cluster/Node 0:Instances=INT64:3", "/Cluster/Node 0:NodeId=BYTE:0"}));
  EXPECT_EQ(readyStates("B"), std::vector<std::string>{});
  EXPECT_TRUE(s.ResetReadyStates(2));
  const auto c = readyStates("C");
  EXPECT_EQ(std::vector<std::string>(c.begin(), c.begin() + 3),
            (std::vector<std::string>{"/Cluster/Node 0/Instance 0:InstanceReady=BOOLEAN:False",
                                      "/Cluster/Node 0:Instances=INT:1", "/Cluster/Node 0:NodeId=BYTE:0"}));
  EXPECT_EQ(std::vector<std::string>(c.begin() + 3, c.end()),
            (std::vector<std::string>{"/Cluster/Node 2/Instance 1:InstanceReady=BOOLEAN:False",
                                      "/Cluster/Node 2/Instance 2:InstanceReady=BOOLEAN:False",
                                      "/Cluster/Node 2/Instance 3:InstanceReady=BOOLEAN:False",
                                      "/Cluster/Node 2:Instances=INT:3", "/Cluster/Node 2:NodeId=INT:2"}));
  for (const auto& row : readyStates("D")) EXPECT_EQ(row.find("Node 2/"), std::string::npos) << row;

  // Started but not ready: counted; ready, or without a token: not.
  ASSERT_TRUE(s.SetConfigValue(U16(Service("C/Cluster/Node 2/Instance 1")), u"InstanceToken", Variant(u"T1")));
  ASSERT_TRUE(s.SetConfigValue(U16(Service("C/Cluster/Node 2/Instance 2")), u"InstanceToken", Variant(u"T2")));
  ASSERT_TRUE(s.SetConfigValue(U16(Service("C/Cluster/Node 2/Instance 2")), u"InstanceReady", Variant(true)));
  EXPECT_EQ(s.CheckReadyStates(2), 1);

  // Publishing: the running program's entry, and another program's entry by its root port.
  struct Publish {
    int32_t instance, port;
    bool manual;
    std::vector<std::string> written;  // service:value names
  };
  for (const Publish& p : std::vector<Publish>{{2, 5002, false, {"Port:4", "Self:4"}},
                                               {1, 0, false, {"Self:2"}},
                                               {3, 5003, true, {"Port:2", "Self:2"}},
                                               {4, 4, false, {"Self:4"}}}) {
    SCOPED_TRACE(std::to_string(p.instance) + "/" + std::to_string(p.port));
    ASSERT_TRUE(s.SetConfigValue(u"/kesta/Software/Basics/Common", u"ManualServiceUrlConfig", Variant(p.manual)));
    EXPECT_TRUE(s.PublishInstanceToken(TIdType("TOKEN"), p.instance, p.port));
    std::vector<std::string> written;
    for (const char* service : {"NoRoot", "Port", "Self"}) {
      TProperties values;
      s.GetNodeProperties(U16(Service(std::string(service) + "/Cluster/Node 0/Instance " + std::to_string(p.instance))),
                          values, true, false, false, u"", "", false, true, false);
      if (!values.empty()) written.push_back(std::string(service) + ":" + std::to_string(values.size()));
    }
    EXPECT_EQ(written, p.written);
  }
  const UnicodeString selfKey = U16(Service("Self/Cluster/Node 0/Instance 2"));
  EXPECT_EQ(Show(s.GetConfigValue(selfKey, u"InstanceToken", Variant(u""), false)), "UCS4STR:TOKEN");
  EXPECT_EQ(Show(s.GetConfigValue(selfKey, u"InstanceHandle", Variant(u""), false)),
            "INT64:" + std::to_string(::getpid()));
  EXPECT_EQ(U8(s.GetConfigValue(selfKey, u"InstanceUrl", Variant(u""), false).AsString()),
            "http://" + U8(TqzTools::GetComputerNameEx(3)) + ":5002");
  EXPECT_TRUE(s.PublishReadyState(2));
  EXPECT_EQ(Show(s.GetConfigValue(selfKey, u"InstanceReady", Variant(false), false)), "BOOLEAN:True");
  EXPECT_FALSE(s.ConfigValueExists(U16(Service("Port/Cluster/Node 0/Instance 2")), u"InstanceReady"));

  // Addresses and tokens.
  EXPECT_EQ(U8(s.GetServiceUrl(qzESVC_Module15, 0, 0)), "http://localhost:4040");
  ASSERT_TRUE(s.SetConfigValue(U16(ClusterNode("Node 0")), u"InstanceUrl", Variant(u"")));
  EXPECT_EQ(U8(s.GetServiceUrl(qzESVC_Module15, 0, 0)), "http://localhost:4040/");
  ASSERT_TRUE(s.SetConfigValue(U16(Service("A/Cluster/Node 0/Instance 1")), u"InstanceUrl", Variant(u"http://a:1")));
  EXPECT_EQ(U8(s.GetServiceUrl(qzESVC_Module01, 0, 1)), "http://a:1/");
  const int32_t port02 = TqzKesta::GetDefaultServicePort(qzESVC_Module02);
  EXPECT_EQ(U8(s.GetServiceUrl(qzESVC_Module02, 0, 0)),
            port02 > 0 ? "http://localhost:" + std::to_string(port02) + "/" : "");
  ASSERT_TRUE(s.SetConfigValue(U16(Service("A/Cluster/Node 0/Instance 1")), u"InstanceToken", Variant(u"TA")));
  EXPECT_EQ(U8(s.GetServiceToken(qzESVC_Module01, 0, 1)), "TA");
  EXPECT_EQ(U8(s.GetServiceToken(qzESVC_Module15, 5, 0)), "");
  EXPECT_TRUE(s.ConfigValueExists(U16(ClusterNode("Node 5")), u"InstanceToken"));
}

template <class Backend>
void RunPermissionObjects() {
  Installation installation;
  Fixture<Backend> f({"/src/p1:Roles=STRING:r1", "/src/p1:SingleInstance=BOOLEAN:True", "/src/p1/sub",
                      "/src/p2:Active=BOOLEAN:False", "/kesta/Permissions/Objects/obj/p2:Roles=STRING:x",
                      "/kesta/Permissions/Objects/obj/old:SessionToken=STRING:S",
                      "/kesta/Permissions/Objects/obj/gone:Roles=STRING:y"});
  EXPECT_TRUE(f.store->PublishPermissionObjects(u"/src", u"obj", false, true));
  std::vector<std::string> objects;
  TConfigNodes list;
  ASSERT_TRUE(f.store->GetRecursiveChildNodes(u"/kesta/Permissions/Objects/obj", list, true, true, false));
  for (const auto& n : list) {
    TProperties values;
    f.store->GetNodeProperties(n.Key, values, true, false, false, u"", "", false, true, false);
    objects.push_back(U8(n.RelKey) + " " + Props(values));
  }
  EXPECT_EQ(objects, (std::vector<std::string>{"old SessionToken=STRING:UCS4STR:S",
                                               "p1 Roles=UCS2STR:UCS4STR:r1 SingleInstance=BOOLEAN:BOOLEAN:True",
                                               "p1/sub Roles=UCS2STR:UCS4STR: SingleInstance=BOOLEAN:BOOLEAN:False"}));
}

}  // namespace config_import
