// Node and value lists of the configuration store, node tests, subtree values, node XML texts
// and the package export, run on SQLite (qzConfigManagerLists_test.cpp) and on a private MariaDB
// server (qzConfigManagerLists_integration_test.cpp). What the store wrote is read back with the
// database's own client; export files are checked with xmllint and Python's XML, zlib and hash
// modules.
#pragma once

#include "ConfigStoreSuite.h"
#include <signal.h>
#include <sys/resource.h>

#include <random>

#include "qzBase64.h"
#include "qzConfigTools.h"
#include "qzDateTime.h"
#include "qzScriptTools.h"

namespace config_lists {

using namespace config_suite;
using M = TqzConfigManager;

// The database dialect the store reads from the installation settings.
inline void SetDatabaseType(const StoreEnvironment& env, const std::string& type) {
  qztest::WriteFile(env.registry.Path() + "/HKLM.reg",
                    "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\kesta\\System]\n"
                    "\"DatabaseType\"=\"" + type + "\"\n");
}

inline std::string Nodes(const TConfigNodes& list) {
  std::string out;
  for (const TConfigNode& n : list) out += (out.empty() ? "" : " ") + U8(n.Key) + "|" + U8(n.RelKey) + "|" + U8(n.Name);
  return out;
}

// Name=DataType:value-type:text per entry.
inline std::string Props(const TProperties& list) {
  std::string out;
  for (const TProperty& p : list) out += (out.empty() ? "" : " ") + U8(p.Name) + "=" + U8(p.DataType) + ":" + Show(p.Value);
  return out;
}

template <class Backend>
struct Fixture {
  StoreEnvironment env;
  Backend b;
  std::map<std::string, std::string> ids;
  std::unique_ptr<M> store;
  explicit Fixture(const std::vector<std::string>& rows, const std::string& dialect = "MYSQL") {
    SetDatabaseType(env, dialect);
    ids = Seed(b, rows);
    store = std::make_unique<M>(false, b.ConnectionString(), u"qz_configuration");
  }
  TIdType Id(const std::string& path) const { return TIdType(ids.at(path)); }
};

// ---------------------------------------------------------------------------------------------
// Node lists: the tree a with b (child c) and d; the walk's three flags.

template <class Backend>
void RunNodeLists() {
  Fixture<Backend> f({"/a/b/c", "/a/d", "/a/b:V=INT:1", "/z"});
  M& s = *f.store;
  struct Row {
    bool parents, roots, rootKey;
    std::string listed;
  };
  const std::vector<Row> rows = {
      {false, false, false, "a/b/c/|b/c|c"},
      {false, true, false, "a/b/c/|b/c|c a/d/|d|d"},
      {true, false, false, "a/b/|b|b a/b/c/|b/c|c a/d/|d|d"},
      {true, true, false, "a/b/|b|b a/b/c/|b/c|c a/d/|d|d"},
      {false, false, true, "a/|| a/b/c/|b/c|c"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.parents) + std::to_string(r.roots) + std::to_string(r.rootKey));
    TConfigNodes list{TConfigNode{TIdType("X"), u"stale", u"", u""}};
    ASSERT_TRUE(s.GetRecursiveChildNodes(u"/a", list, r.parents, r.roots, r.rootKey)) << U8(s.Message);
    EXPECT_EQ(Nodes(list), r.listed);
    for (const TConfigNode& n : list) EXPECT_EQ(n.Id, f.Id("/" + U8(TqzConfigManager::Convert2NamedRelKey(n.Key))));
  }

  TConfigNodes list;
  ASSERT_TRUE(s.GetChildNodes(u"/a", list, false));
  EXPECT_EQ(Nodes(list), "a/b/|b|b a/d/|d|d");
  TIdType cached;
  EXPECT_TRUE(s.GetCacheKeyId(u"a/d/", cached, false));  // listed nodes enter the key cache
  EXPECT_EQ(cached, f.Id("/a/d"));
  ASSERT_TRUE(s.GetRootNodes(list));
  EXPECT_EQ(Nodes(list), "a/|a|a kesta/|kesta|kesta z/|z|z");  // the store's class nodes too
  EXPECT_TRUE(s.NodeExists(u"/a/b/c", false));
  EXPECT_FALSE(s.NodeExists(u"/a/q", false));

  // A missing key: nothing without Create; with Create (and in the walk) its rows are made.
  EXPECT_TRUE(s.GetChildNodes(u"/m/n", list, false));
  EXPECT_EQ(Nodes(list), "");
  EXPECT_EQ(Rows(f.b), (std::vector<std::string>{"/a", "/a/b", "/a/b/c", "/a/b:V=INT:1", "/a/d", "/z"}));
  EXPECT_TRUE(s.GetChildNodes(u"/m/n", list, true));
  ASSERT_TRUE(s.GetRecursiveChildNodes(u"/w/v", list, true, true, true));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(U8(list[0].Key), "w/v/");
  EXPECT_TRUE(list[0].Id.empty());  // missing when the walk began
  EXPECT_TRUE(s.NodeExists(u"/q/r", true));
  EXPECT_EQ(Rows(f.b), (std::vector<std::string>{"/a", "/a/b", "/a/b/c", "/a/b:V=INT:1", "/a/d", "/m", "/m/n",
                                                 "/q", "/q/r", "/w", "/w/v", "/z"}));
}

// ---------------------------------------------------------------------------------------------
// The values of one node

template <class Backend>
void RunNodeProperties() {
  Fixture<Backend> f({"/n:Port=INT:42", "/n:Srv_a=STRING:x", "/n:SrvXa=STRING:y", "/n:Blob=BINARY:QUJD", "/n/child",
                      "/e:Port=INT:5", "/e:port=INT:6"});
  M& s = *f.store;
  f.b.Cli("UPDATE qz_configuration SET CHANGEUSER = 'alice', CHANGEDATE = '2024-05-06 07:08:09' WHERE KEYNAME = 'Port'");
  struct Row {
    const char* what;
    const char16_t* key;
    bool withValues, raw, canCreate;
    const char16_t* prefix;
    bool withBinaries;
    std::string result, listed;
  };
  const std::vector<Row> rows = {
      {"typed values", u"/n", true, false, false, u"", true, "true",
       "Blob=BINARY:UCS4STR:QUJD Port=INT:INT64:42 Srv_a=STRING:UCS4STR:x SrvXa=STRING:UCS4STR:y"},
      {"without binaries", u"n/", true, false, false, u"", false, "true",
       "Port=INT:INT64:42 Srv_a=STRING:UCS4STR:x SrvXa=STRING:UCS4STR:y"},
      {"names only: binaries listed, values Null", u"/n", false, false, false, u"", false, "true",
       "Blob=BINARY:NULL: Port=INT:NULL: Srv_a=STRING:NULL: SrvXa=STRING:NULL:"},
      {"raw texts", u"/n", true, true, false, u"Po", true, "true", "Port=INT:UCS4STR:42"},
      {"a prefix is matched literally", u"/n", true, false, false, u"Srv_", true, "true", "Srv_a=STRING:UCS4STR:x"},
      {"a missing node", u"/gone", true, false, false, u"", true, "true", ""},
      {"a missing node with CanCreate", u"/made", true, false, true, u"", true, "true", ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    TProperties list(2);
    EXPECT_EQ(Show(s.GetNodeProperties(r.key, list, r.withValues, r.raw, r.canCreate, r.prefix, "", false,
                                       r.withBinaries, false)),
              r.result);
    EXPECT_EQ(Props(list), r.listed);
  }
  TProperties list;
  ASSERT_TRUE(s.GetNodeProperties(u"/n", list, true, false, false, u"Port", "", false, true, false));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].Id, f.Id("/n:Port=INT:42"));
  EXPECT_EQ(U8(list[0].SORTL), "PORT");
  EXPECT_EQ(U8(list[0].User), "alice");
  EXPECT_EQ(U8(TqzConfigManager::PackageDateText(list[0].Changed)), "2024-05-06 07:08:09");
  EXPECT_EQ(U8(list[0].Path), "/n");
  EXPECT_EQ(Rows(f.b).size(), 10u);  // /made was created, /gone not
  EXPECT_TRUE(s.NodeExists(u"/made", false));
  EXPECT_FALSE(s.NodeExists(u"/gone", false));

  // Extending: an equal name (exactly) is overwritten, other spellings appended.
  const std::vector<std::pair<bool, std::string>> merges = {
      {false, "Port=INT:INT64:5 Other=:INT:2 port=INT:INT64:6"},
      {true, "Port=:INT:1 Other=:INT:2 Port=INT:INT64:5 port=INT:INT64:6"},
  };
  for (const auto& [duplicates, listed] : merges) {
    TProperties merged(2);
    merged[0].Name = u"Port";
    merged[0].Value = Variant(int32_t{1});
    merged[1].Name = u"Other";
    merged[1].Value = Variant(int32_t{2});
    ASSERT_TRUE(s.GetNodeProperties(u"/e", merged, true, false, false, u"", "", true, true, duplicates));
    EXPECT_EQ(Props(merged), listed);
  }
}

// ---------------------------------------------------------------------------------------------
// Prefixed values and their numeric sort

template <class Backend>
void RunSubProperties() {
  Fixture<Backend> f({"/p:Server=STRING:0", "/p:Server1=STRING:1", "/p:Server 2=STRING:2", "/p:Server_x=STRING:3",
                      "/p:ServerName=STRING:4", "/q:Item10=INT:1", "/q:Item9=INT:2", "/q:Item_x=INT:3",
                      "/r:Item_b=INT:1", "/r:Item_a=INT:2"});
  M& s = *f.store;
  struct Row {
    const char16_t* key;
    const char16_t* prefix;
    bool numSort;
    std::string listed;  // SubName:SORTLN per entry
  };
  const std::vector<Row> rows = {
      {u"/p", u"Server", false, "1:1 2:2 x:0"},
      {u"/q", u"Item", false, "10:10 9:9 x:0"},
      {u"/q", u"Item", true, "x:0 9:9 10:10"},
      {u"/r", u"Item", true, "a:0 b:0"},
      {u"/r", u"", false, "Item_a:0 Item_b:0"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(U8(r.key) + " " + U8(r.prefix));
    TProperties list(3);
    ASSERT_TRUE(s.GetNodeSubProperties(r.key, list, r.prefix, true, r.numSort)) << U8(s.Message);
    // Without NumSort the entries keep the collation's KEYNAME order, which differs between the
    // databases for "_", " " and digits: compared as a set there.
    std::vector<std::string> entries;
    for (const TProperty& p : list) entries.push_back(U8(p.SubName) + ":" + std::to_string(p.SORTLN));
    if (!r.numSort) std::sort(entries.begin(), entries.end());
    std::string out;
    for (const auto& e : entries) out += (out.empty() ? "" : " ") + e;
    EXPECT_EQ(out, r.listed);
  }
}

// ---------------------------------------------------------------------------------------------
// Child-node tests, empty nodes

template <class Backend>
void RunNodeTests() {
  Fixture<Backend> f({"/a/b/c", "/e", "/v:X=INT:1", "/x/a/b/c", "/k/b"});
  M& s = *f.store;
  EXPECT_TRUE(s.ChildNodesExists(u"/a/b"));
  EXPECT_FALSE(s.ChildNodesExists(u"/a/b/c"));
  EXPECT_FALSE(s.ChildNodesExists(u"/e"));
  EXPECT_FALSE(s.ChildNodesExists(u"/new/key"));
  EXPECT_TRUE(s.NodeExists(u"/new/key", false));  // made by the test
  EXPECT_TRUE(s.IsNodeEmpty(u"/a"));
  EXPECT_FALSE(s.IsNodeEmpty(u"/v"));
  EXPECT_TRUE(s.IsNodeEmpty(u"/absent"));
  EXPECT_FALSE(s.NodeExists(u"/absent", false));

  // From the cache: a/b/ with a/b/c/ cached needs no statement; x/a/b/c/ is no child of k/b/.
  TConfigNodes list;
  ASSERT_TRUE(s.GetChildNodes(u"/a", list, false));
  ASSERT_TRUE(s.GetChildNodes(u"/a/b", list, false));
  ASSERT_TRUE(s.GetChildNodes(u"/x/a", list, false));
  ASSERT_TRUE(s.GetChildNodes(u"/k", list, false));
  const auto before = s.StatementCounts().Statements;
  EXPECT_TRUE(s.ChildNodesExistsFast(f.Id("/a/b")));
  EXPECT_FALSE(s.ChildNodesExistsFast(TIdType()));
  EXPECT_EQ(s.StatementCounts().Statements, before);
  EXPECT_FALSE(s.ChildNodesExistsFast(f.Id("/k/b")));
  EXPECT_TRUE(s.ChildNodesExistsFast(f.Id("/x/a")));
  EXPECT_EQ(s.Message, u"");

  // Dialects without a one-row child test.
  Fixture<Backend> other({"/a/b"}, "DB2");
  EXPECT_FALSE(other.store->ChildNodesExists(u"/a"));
  EXPECT_EQ(U8(other.store->Message), "unsupported database type");
  EXPECT_FALSE(other.store->ChildNodesExistsFast(other.Id("/a")));
  EXPECT_EQ(U8(other.store->Message), "unsupported database type");
  other.store->RaiseExceptions = true;
  EXPECT_THROW(other.store->ChildNodesExists(u"/a"), Exception);
}

// ---------------------------------------------------------------------------------------------
// A subtree's values read with relative paths and written below another key

template <class Backend>
void RunSubtreeCopy() {
  Fixture<Backend> f({"/a/b:X=INT:1", "/a/b/c:Y=STRING:t", "/a/b/c/d:Z=DATE:2024-01-02", "/a/other:W=INT:9"});
  M& s = *f.store;
  TProperties list(1);
  list[0].Name = u"Old";
  list[0].Path = u"/a/b/q";
  list[0].Value = Variant(int32_t{7});
  ASSERT_TRUE(s.GetRecursiveNodeProperties(u"/a/b", list, true, true));
  std::string paths;
  for (const TProperty& p : list) paths += "[" + U8(p.Path) + "]" + U8(p.Name) + " ";
  EXPECT_EQ(paths, "[/q]Old []X [/c]Y [/c/d]Z ");

  list.erase(list.begin());
  std::vector<std::string> seen;
  ASSERT_TRUE(s.SaveNodeProperties(u"/x", list, true, true, [&](const UnicodeString& k) { seen.push_back(U8(k)); }));
  EXPECT_EQ(seen, (std::vector<std::string>{"/x/X", "/x/c/Y", "/x/c/d/Z"}));
  ASSERT_TRUE(s.SaveNodeProperties(u"/y", list, false, false, nullptr));
  std::vector<std::string> copied;
  for (const auto& row : Rows(f.b)) {
    if (row.rfind("/x", 0) == 0 || row.rfind("/y", 0) == 0) copied.push_back(row);
  }
  EXPECT_EQ(copied, (std::vector<std::string>{"/x", "/x/c", "/x/c/d", "/x/c/d:Z=DATE:2024-01-02", "/x/c:Y=STRING:t",
                                              "/x:X=INT:1", "/y", "/y:X=INT64:1", "/y:Y=UCS4STR:t",
                                              "/y:Z=DATE:2024-01-02"}));

  // A failed write is reported, and the list stops there.
  s.CfgTabName = u"no_such_table";
  EXPECT_FALSE(s.SaveNodeProperties(u"/x", list, true, true, nullptr));
  EXPECT_NE(U8(s.Message), "");
  s.CfgTabName = u"qz_configuration";
}

// ---------------------------------------------------------------------------------------------
// Context help

template <class Backend>
void RunContextHelp() {
  Fixture<Backend> f({"/kesta/Classes/Help/Context/System:K1=STRING:sys",
                      "/kesta/Classes/Help/Context/Customer:K1=STRING:cus",
                      "/kesta/Classes/Help/Context/Customer:K2=STRING:cus2"});
  struct Row {
    const char16_t* key;
    bool found;
    const char* text;
    TContextHelpArea area;
  };
  for (const Row& r : std::vector<Row>{{u"K1", true, "sys", CH_System},
                                       {u"k2", true, "cus2", CH_Customer},
                                       {u"K3", false, "", CH_None}}) {
    SCOPED_TRACE(U8(r.key));
    UnicodeString text = u"old";
    TContextHelpArea area = CH_System;
    EXPECT_EQ(f.store->Check4ContextHelp(r.key, text, area), r.found);
    EXPECT_EQ(U8(text), r.text);
    EXPECT_EQ(area, r.area);
  }
}

// ---------------------------------------------------------------------------------------------
// Node values and child lists as XML configuration texts

inline std::string Xmllint(const std::string& text) {
  const auto r = qztest::RunProcess({"xmllint", "--noout", "-"}, text);
  return r.ExitCode == 0 ? "valid" : r.Err;
}

template <class Backend>
void RunNodeXml() {
  Fixture<Backend> f({"/n:Port=INT:42", "/n:Name=STRING:Äpfel & <Birnen>", "/n:On=BOOLEAN:True", "/t/A", "/t/B/C"});
  M& s = *f.store;
  const AnsiString xml = s.GetNodeXML(u"/n");
  EXPECT_EQ(Xmllint(xml), "valid");
  ASSERT_TRUE(s.SaveNodeXML(u"/copy", xml)) << U8(s.Message);
  TProperties copied;
  ASSERT_TRUE(s.GetNodeProperties(u"/copy", copied, true, false, false, u"", "", false, true, false));
  EXPECT_EQ(Props(copied), "Name=UCS4STR:UCS4STR:Äpfel & <Birnen> On=BOOLEAN:BOOLEAN:True Port=INT64:INT64:42");

  struct Row {
    bool recursive, relative, justNames;
    std::vector<std::string> values;
  };
  for (const Row& r : std::vector<Row>{{false, false, false, {"t/A/", "t/B/"}},
                                       {false, true, true, {"A", "B"}},
                                       {true, true, false, {"A", "B", "B/C"}},
                                       {true, false, false, {"t/A/", "t/B/", "t/B/C/"}}}) {
    const AnsiString nodes = s.GetNodesXML(u"/t", r.recursive, r.relative, r.justNames);
    EXPECT_EQ(Xmllint(nodes), "valid");
    TqzConfigTools tools;
    UnicodeString root;
    ASSERT_TRUE(tools.ParseConfigString(nodes, root, false));
    std::vector<std::string> values;
    for (const TqzConfigPart& p : tools.ConfigList) {
      if (p.Active) values.push_back(U8(p.Param) + "=" + U8(p.Value.AsString()));
    }
    std::vector<std::string> expected;
    for (const auto& v : r.values) expected.push_back("Node=" + v);
    EXPECT_EQ(values, expected);
  }
  EXPECT_EQ(Xmllint(s.GetNodeXML(u"/t")), "valid");  // no values: an empty configuration

  const auto rowsBefore = Rows(f.b);
  EXPECT_FALSE(s.SaveNodeXML(u"/bad", "<Settings><unclosed></Settings>"));
  EXPECT_EQ(Rows(f.b), rowsBefore);
}

// ---------------------------------------------------------------------------------------------
// Package export

// The export file as lines, read by Python's XML module: the root with its attributes (the hash
// recomputed over the header texts, each UTF-16 code unit UTF-8-encoded on its own), then Info,
// each Content, its nodes as paths and its values as "path:Name=DataType:text [other attributes]";
// a compressed value is inflated, its 4-byte length checked and its bytes shown in Base64 as "z:".
inline std::vector<std::string> ReadExport(const std::string& file) {
  const std::string script = R"PY(
import sys, hashlib, zlib, base64, xml.etree.ElementTree as ET
root = ET.fromstring(open(sys.argv[1], 'rb').read())
def units(s):
    b = s.encode('utf-16-le', 'surrogatepass')
    return ''.join(chr(int.from_bytes(b[i:i+2], 'little')) for i in range(0, len(b), 2)).encode('utf-8', 'surrogatepass')
a = root.attrib
line = root.tag + ' ' + ','.join(a.keys())
for k in ('FormatVersion', 'Type', 'PackageName', 'PackageVersion', 'ReleaseRequired'):
    if k in a: line += ' ' + k + '=' + a[k]
if 'Hash' in a:
    ok = hashlib.md5(units(a['PackageName'] + a['PackageVersion'] + a['PackageId'] + a['PackageDate'])).hexdigest().upper() == a['Hash']
    line += ' hash=' + ('ok' if ok else 'bad') + ' id=' + str(len(a['PackageId'])) + ' date=' + str(len(a['PackageDate']))
out = [line]
def walk(el, path):
    for c in el:
        rest = ','.join(k + '=' + v for k, v in c.attrib.items() if k not in ('Name', 'DataType'))
        rest = ' [' + rest + ']' if rest else ''
        if c.tag == 'Property':
            text = c.text or ''
            if c.get('Compressed') == 'true':
                raw = zlib.decompress(base64.b64decode(text))
                assert int.from_bytes(raw[:4], 'little') == len(raw) - 4
                text = 'z:' + base64.b64encode(raw[4:]).decode()
            out.append(path + ':' + c.get('Name') + '=' + c.get('DataType') + ':' + text + rest)
        elif c.tag == 'Node':
            out.append(path + '/' + c.get('Name') + rest)
            walk(c, path + '/' + c.get('Name'))
for c in root:
    if c.tag == 'Info':
        out.append('Info ' + c.get('Contains') + ' ' + (c.text or '').replace('\r', '\\r').replace('\n', '\\n'))
    elif c.tag == 'Content':
        rest = ' [Complete=' + c.get('Complete') + ']' if c.get('Complete') else ''
        out.append('Content ' + c.get('RootNode') + rest)
        walk(c, '')
sys.stdout.buffer.write('\n'.join(out).encode('utf-8'))
)PY";
  std::vector<std::string> lines;
  std::string text = qztest::RunPython(script, {file});
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

inline std::vector<std::string> ExportTree() {
  return {"/pkg:Port=INT:42",
          "/pkg:Name=STRING:Äpfel & Birnen",
          "/pkg:Blob=BINARY:AAECAwT/",
          "/pkg:Empty=BINARY:",
          "/pkg:Def=STRING:stored",
          "/pkg:Secret=STRING:s",
          "/pkg/sub:When=DATE:2024-01-02 03:04:05",
          "/pkg/sub/deep:X=INT:1",
          "/pkg/skip/inner:Y=INT:2",
          "/kesta/Classes/Behaviour/Export/Exclusions:/pkg/skip/=STRING:",
          "/kesta/Classes/Behaviour/Export/Exclusions:/PKG/secret=STRING:",
          "/kesta/Classes/Behaviour/Export/Defaults:/pkg/Def=INT:7",
          "/kesta/Scripts/Process/S1:Script=STRING:print(1)",
          "/kesta/Scripts/Process/S1:Secured=BOOLEAN:False",
          "/kesta/Scripts/Process/S1:ScriptBackup=STRING:old",
          "/kesta/Scripts/Process/S1:LockDate=STRING:x",
          "/kesta/Scripts/Process/S1:Redirect=STRING:r",
          "/kesta/Scripts/Process/S1:Markers=STRING:m",
          "/kesta/Scripts/Process/S2:Script=STRING:locked already",
          "/kesta/Scripts/Process/S2:Secured=BOOLEAN:True",
          "/v12:Ä=STRING:é",
          "/v12:D=DATE:2024-01-02 03:04:05"};
}

inline const std::vector<std::string>& PkgLines() {
  static const std::vector<std::string> lines = {
      "Content /pkg",
      ":Blob=BINARY:z:AAECAwT/ [Compressed=true]",
      ":Def=INT:7",
      ":Empty=BINARY:",
      ":Name=STRING:Äpfel & Birnen",
      ":Port=INT:42",
      "/sub",
      "/sub:When=DATE:2024-01-02 03:04:05",
      "/sub/deep",
      "/sub/deep:X=INT:1"};
  return lines;
}

inline std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

template <class Backend>
void RunExport() {
  Fixture<Backend> f(ExportTree());
  M& s = *f.store;
  qztest::TempDir dir("qzexport");
  const std::string file = dir.Path() + "/out/package.xml";
  const UnicodeString name = U16(file);
  std::vector<std::string> visited;
  auto callback = [&](const UnicodeString& key) { visited.push_back(U8(key)); };
  const std::string header =
      "n7Document FormatVersion,Type,PackageName,PackageVersion,PackageDate,PackageId,Hash,ReleaseRequired "
      "FormatVersion=1.5 Type=Package PackageName=Paket Ä😀 PackageVersion=1.2.3.4 ReleaseRequired=5.0.0.0 "
      "hash=ok id=32 date=19";

  // A package in a new folder, then a second subtree appended to it.
  ASSERT_TRUE(s.Export(u"/pkg", name, true, true, u"Paket Ä😀", u"1.2.3.4", u"Hello\nworld", false, qzCE_UTF8,
                       callback, nullptr, qzPDT_MarkDown, false, "", false, u"5.0.0.0", qzEFV_V1_5))
      << U8(s.Message);
  EXPECT_EQ(s.Message, u"");
  EXPECT_EQ(visited, (std::vector<std::string>{"/pkg", "/pkg/sub", "/pkg/sub/deep"}));
  EXPECT_EQ(Xmllint(qztest::ReadFile(file)), "valid");
  EXPECT_EQ(ReadExport(file), Join({header, "Info MarkDown Hello\\nworld"}, PkgLines()));

  ASSERT_TRUE(s.Export(u"/kesta/Scripts", name, true, true, u"Other", u"9.9.9.9", u"ignored", false, qzCE_UTF16,
                       nullptr, nullptr, qzPDT_PlainText, true, "pw", false, u"", qzEFV_V1_2))
      << U8(s.Message);
  EXPECT_EQ(Xmllint(qztest::ReadFile(file)), "valid");
  std::vector<std::string> lines = ReadExport(file);
  ASSERT_EQ(lines.size(), 20u);
  std::string locked;
  for (auto& line : lines) {
    const std::string prefix = "/Process/S1:Script=STRING:";
    if (line.rfind(prefix, 0) == 0) {
      locked = line.substr(prefix.size());
      line = prefix + "(locked)";
    }
  }
  EXPECT_EQ(lines, Join(Join({header, "Info MarkDown Hello\\nworld"}, PkgLines()),
                        {"Content /kesta/Scripts", "/Process", "/Process/S1", "/Process/S1:Script=STRING:(locked)",
                         "/Process/S1:Secured=BOOLEAN:True", "/Process/S2", "/Process/S2:Script=STRING:locked already",
                         "/Process/S2:Secured=BOOLEAN:True"}));
  EXPECT_TRUE(TqzScriptTools::IsScriptProtected(locked)) << locked;
  EXPECT_EQ(TqzScriptTools::UnlockScript(locked, true), "print(1)");
  EXPECT_EQ(Show(s.GetConfigValue(u"/kesta/Scripts/Process/S1", u"Script", Variant(u""), false)), "UCS4STR:print(1)");

  // Overwriting replaces the package; a plain export always replaces, with ".xml" for the extension.
  ASSERT_TRUE(s.Export(u"/pkg/sub", name, false, true, u"Demo", u"1.0.0.0", u"", true, qzCE_UTF8, nullptr, nullptr,
                       qzPDT_Unknown, false, "", false, u"", qzEFV_Unknown));
  EXPECT_EQ(ReadExport(file),
            (std::vector<std::string>{"n7Document FormatVersion,Type,PackageName,PackageVersion,PackageDate,PackageId,"
                                      "Hash,ReleaseRequired FormatVersion=1.5 Type=Package PackageName=Demo "
                                      "PackageVersion=1.0.0.0 ReleaseRequired= hash=ok id=32 date=19",
                                      "Content /pkg/sub", ":When=DATE:2024-01-02 03:04:05"}));
  TStringList valid;
  valid.Add(u"Port");
  valid.Add(u"x");
  ASSERT_TRUE(s.Export(u"/pkg", U16(dir.Path() + "/out/package.txt"), true, false, u"Demo", u"1", u"text", false,
                       qzCE_UTF8, nullptr, &valid, qzPDT_PlainText, false, "", false, u"", qzEFV_V1_4));
  EXPECT_EQ(ReadExport(file), (std::vector<std::string>{"n7Document FormatVersion,Type FormatVersion=1.4 Type=Default",
                                                        "Info PlainText text", "Content /pkg [Complete=false]",
                                                        ":Port=INT:42", "/sub [Complete=false]",
                                                        "/sub/deep [Complete=false]", "/sub/deep:X=INT:1"}));

  // UTF-16 with change information (format 1.3).
  f.b.Cli("UPDATE qz_configuration SET CHANGEUSER = 'alice', CHANGEDATE = '2024-05-06 07:08:09' WHERE KEYNAME = 'Port'");
  const std::string file16 = dir.Path() + "/utf16.xml";
  ASSERT_TRUE(s.Export(u"/pkg", U16(file16), false, true, u"Paket Ä😀", u"1.2.3.4", u"", false, qzCE_UTF16, nullptr,
                       nullptr, qzPDT_Unknown, false, "", true, u"5.0.0.0", qzEFV_V1_3));
  const std::string bytes16 = qztest::ReadFile(file16);
  EXPECT_EQ(bytes16.substr(0, 2), "\xFF\xFE");
  const auto converted = qztest::RunProcess({"iconv", "-f", "UTF-16", "-t", "UTF-8", file16});
  ASSERT_EQ(converted.ExitCode, 0) << converted.Err;
  EXPECT_NE(converted.Out.find("PackageName=\"Paket Ä😀\""), std::string::npos);
  EXPECT_EQ(Xmllint(bytes16), "valid");
  std::vector<std::string> expected16 = {
      "n7Document FormatVersion,Type,PackageName,PackageVersion,PackageDate,PackageId,Hash,ReleaseRequired "
      "FormatVersion=1.3 Type=Package PackageName=Paket Ä😀 PackageVersion=1.2.3.4 ReleaseRequired=5.0.0.0 "
      "hash=ok id=32 date=19"};
  for (std::size_t i = 0; i < 6; ++i) expected16.push_back(PkgLines()[i]);
  expected16.back() = ":Port=INT:42 [User=alice,Date=2024-05-06 07:08:09]";
  EXPECT_EQ(ReadExport(file16), expected16);

  // Format 1.2 in UTF-8: names and texts doubly encoded, dates as time stamps.
  const std::string file12 = dir.Path() + "/v12.xml";
  ASSERT_TRUE(s.Export(u"/v12", U16(file12), false, false, u"", u"", u"", false, qzCE_UTF8, nullptr, nullptr,
                       qzPDT_Unknown, false, "", true, u"", qzEFV_V1_2));
  const std::string bytes12 = qztest::ReadFile(file12);
  EXPECT_EQ(Xmllint(bytes12), "valid");
  EXPECT_NE(bytes12.find("Name=\"\xC3\x83\xE2\x80\x9E\" DataType=\"STRING\">\xC3\x83\xC2\xA9</Property>"),
            std::string::npos)
      << bytes12;
  const AnsiString stamp = TqzDateTime::DateTimeToTimeStampStr(
      platform::EncodeDate(2024, 1, 2) + platform::EncodeTime(3, 4, 5, 0), false);
  EXPECT_NE(bytes12.find("Name=\"D\" DataType=\"DATE\">" + stamp + "</Property>"), std::string::npos) << bytes12;
}

// Values larger than the export writes at a time: a binary of 3 MiB (read on its own when it is
// written), a binary whose data type is stored in lower case, and a text of about 1.7 MB with
// markup characters, CR, LF, a control character, "Ä" and a surrogate pair all along it. Python's
// XML, zlib and codecs read every form back; the control character comes back as a blank.
template <class Backend>
void RunExportLargeValues() {
  std::mt19937_64 rng(22);
  const std::string stored = TqzBase64::StrToBase64(qztest::RandomBytes(rng, (3 << 20) + 5), false);
  std::string text, expected;
  for (int i = 0; i < 60000; ++i) {
    const std::string piece = "Ä😀 a&b<c>\"d'\te\rf\n" + std::to_string(i) + "g";
    text += piece + "\x01";
    expected += piece + " ";
  }
  Fixture<Backend> f({"/big:Blob=BINARY:" + stored, "/big:Small=binary:AAECAwT/", "/big:Text=STRING:" + text,
                      "/big/child:X=INT:1"});
  M& s = *f.store;
  qztest::TempDir dir("qzexportlarge");
  qztest::WriteFile(dir.Path() + "/stored.txt", stored);
  qztest::WriteFile(dir.Path() + "/expected.txt", expected);
  const std::string script = R"PY(
import sys, zlib, base64, xml.etree.ElementTree as ET
root = ET.fromstring(open(sys.argv[1], 'rb').read())
stored = open(sys.argv[2]).read()
expected = open(sys.argv[3], encoding='utf-8', newline='').read()
def undo12(s):
    return s.encode('cp1252').decode('utf-8', 'surrogatepass').encode('utf-16-le', 'surrogatepass').decode('utf-16-le')
for p in root.iter('Property'):
    text = p.text or ''
    if p.get('Compressed') == 'true':
        raw = zlib.decompress(base64.b64decode(text))
        assert int.from_bytes(raw[:4], 'little') == len(raw) - 4
        text = base64.b64encode(raw[4:]).decode()
    elif root.get('FormatVersion') == '1.2' and p.get('DataType') == 'STRING':
        text = undo12(text)
    print(p.get('Name'), p.get('DataType'), p.get('Compressed'), 'stored' if text == stored else 'expected' if text == expected else repr(text[:40]))
)PY";
  struct Case {
    TCharEncodeType encoding;
    TqzExportFormatVersion format;
    std::string lines;
  };
  const std::string compressed =
      "Blob BINARY true stored\nSmall binary true 'AAECAwT/'\nText STRING None expected\nX INT None '1'\n";
  const std::vector<Case> cases = {
      {qzCE_UTF8, qzEFV_V1_5, compressed},
      {qzCE_UTF16, qzEFV_V1_5, compressed},
      {qzCE_UTF8, qzEFV_V1_2, "Blob BINARY None stored\nSmall binary None 'AAECAwT/'\nText STRING None expected\n"
                              "X INT None '1'\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.encoding) + " " + U8(TqzConfigManager::GetExportFormatVersionStr(c.format)));
    const std::string file = dir.Path() + "/big.xml";
    ASSERT_TRUE(s.Export(u"/big", U16(file), true, false, u"", u"", u"", false, c.encoding, nullptr, nullptr,
                         qzPDT_Unknown, false, "", false, u"", c.format))
        << U8(s.Message);
    EXPECT_EQ(Xmllint(qztest::ReadFile(file)), "valid");
    EXPECT_EQ(qztest::RunPython(script, {file, dir.Path() + "/stored.txt", dir.Path() + "/expected.txt"}), c.lines);
  }
}

// A failing store or a full disk during an export leaves the earlier file as it was.
template <class Backend>
void RunExportFaults() {
  std::vector<std::string> tree = ExportTree();
  tree.push_back("/pkg/sub/deep:Big=STRING:" + std::string(200000, 'x'));
  Fixture<Backend> f(tree);
  M& s = *f.store;
  qztest::TempDir dir("qzexportfault");
  const std::string file = dir.Path() + "/keep.xml";
  ASSERT_TRUE(s.Export(u"/pkg", U16(file), false, true, u"Old", u"1.0.0.0", u"", false, qzCE_UTF8, nullptr, nullptr,
                       qzPDT_Unknown, false, "", false, u"", qzEFV_V1_5));
  const std::string old = qztest::ReadFile(file);
  auto leftovers = [&] {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path())) n += e.path().filename() != "keep.xml";
    return n;
  };

  // The table goes away while the tree is read.
  auto failing = [&](const UnicodeString& key) {
    if (key == u"/pkg/sub") s.CfgTabName = u"qz_gone";
  };
  EXPECT_FALSE(s.Export(u"/pkg", U16(file), true, true, u"New", u"2.0.0.0", u"", true, qzCE_UTF8, failing, nullptr,
                        qzPDT_Unknown, false, "", false, u"", qzEFV_V1_5));
  EXPECT_NE(U8(s.Message), "");
  s.CfgTabName = u"qz_configuration";
  EXPECT_EQ(qztest::ReadFile(file), old);
  EXPECT_EQ(leftovers(), 0);

  // The disk is full: no file may grow beyond 64 KiB while the export writes.
  {
    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previous);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 65536;
    setrlimit(RLIMIT_FSIZE, &small);
    const bool result = s.Export(u"/pkg", U16(file), true, true, u"New", u"2.0.0.0", u"", true, qzCE_UTF8, nullptr,
                                 nullptr, qzPDT_Unknown, false, "", false, u"", qzEFV_V1_5);
    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &previous, nullptr);
    EXPECT_FALSE(result);
    EXPECT_NE(U8(s.Message).find("File too large"), std::string::npos) << U8(s.Message);
  }
  EXPECT_EQ(qztest::ReadFile(file), old);
  EXPECT_EQ(leftovers(), 0);

  // With RaiseExceptions the failure is raised as well.
  s.RaiseExceptions = true;
  EXPECT_THROW(s.Export(u"/pkg", U16(file), true, true, u"", u"", u"", true, qzCE_UTF8,
                        failing, nullptr, qzPDT_Unknown, false, "", false, u"", qzEFV_V1_5),
               Exception);
  s.CfgTabName = u"qz_configuration";
}

}  // namespace config_lists
