// TqzKesta over a real file tree: a temporary folder holding the registry hives (hand-written
// .reg files), an installation root, the folder named by KESTASYS, the system's temporary folder
// and a SQLite database behind the installation's data-link file; the command line is injected.
#include "qzKesta.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "BuildVersion.h"
#include "CodePage.h"
#include "DbFixtures.h"
#include "Exceptions.h"
#include "Registry.h"
#include "TestSupport.h"
#include "Udl.h"
#include "qzConsoleTools.h"
#include "qzVersionTools.h"

namespace {

using platform::Utf8ToWide;
using platform::WideToUtf8;

using qztest::W;

bool IsDir(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void MakeDirs(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i)
    if (i == path.size() || path[i] == '/') ::mkdir(path.substr(0, i).c_str(), 0755);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  MakeDirs(path.substr(0, path.rfind('/')));
  std::ofstream(path, std::ios::binary) << bytes;
}

using qztest::ScopedEnv;

// One machine: T/reg (hives), T/bin/svc.exe (the executable), T/inst (installation root
// candidate), T/env (KESTASYS candidate), T/systemp (the system's temporary folder), T/xdg (the
// user's data folder), T/db.sqlite behind the data-link file.
class Machine {
 public:
  explicit Machine(std::vector<UnicodeString> args = {})
      : t_(tmp_.Path()),
        registry_("KESTA_REGISTRY_DIR", t_ + "/reg"),
        kestasys_("KESTASYS", std::nullopt),
        tmpdir_("TMPDIR", t_ + "/systemp"),
        xdg_("XDG_DATA_HOME", t_ + "/xdg"),
        locale_("LC_ALL", "C") {
    MakeDirs(t_ + "/reg");
    MakeDirs(t_ + "/bin");
    MakeDirs(t_ + "/systemp");
    args.insert(args.begin(), W(t_ + "/bin/svc.exe"));
    TqzConsoleTools::SetCommandLine(std::move(args));
  }
  ~Machine() { TqzConsoleTools::ResetCommandLine(); }

  const std::string& T() const { return t_; }
  // "{T}" in a text stands for the machine's folder.
  std::string Expand(std::string s) const {
    for (size_t p; (p = s.find("{T}")) != std::string::npos;) s.replace(p, 3, t_);
    return s;
  }
  // Writes a hive: lines of "name"=value under the installation key.
  void Hive(const char* file, const char* root, const std::string& values, const char* key = "SOFTWARE\\kesta\\System") {
    WriteFile(t_ + "/reg/" + file, "Windows Registry Editor Version 5.00\r\n\r\n[" + std::string(root) + "\\" + key +
                                       "]\r\n" + Expand(values) + "\r\n");
  }
  void Machine_(const std::string& values) { Hive("HKLM.reg", "HKEY_LOCAL_MACHINE", values); }
  void User(const std::string& values) { Hive("HKCU.reg", "HKEY_CURRENT_USER", values); }
  // Restored with the machine (kestasys_ keeps the value from before).
  void SetKestaSys(const std::string& value) { ::setenv("KESTASYS", Expand(value).c_str(), 1); }
  // The files an installation consists of.
  void InstallUdl(const std::string& root, const UnicodeString& connection) {
    MakeDirs(Expand(root) + "/cfg");
    platform::WriteUdlFile(Expand(root) + "/cfg/qzsyscfg.udl", connection);
  }
  void InstallModule15(const std::string& root) { WriteFile(Expand(root) + "/sys/qzmodule15srv.exe", "MZ"); }

 private:
  qztest::TempDir tmp_{"qzkesta"};
  std::string t_;
  ScopedEnv registry_;
  ScopedEnv kestasys_;
  ScopedEnv tmpdir_, xdg_, locale_;
};

const UnicodeString kUdlText = u"Provider=MSDASQL;Driver=SQLite3;Database=/nowhere/db.sqlite";

// ---- Root, installation, temporary and debug folders, connection string ------------------------

TEST(qzKestaEnvironment, ScenarioTable) {
  struct Scenario {
    const char* name;
    const char* hklm;      // values under the installation key (empty: no key)
    const char* kestasys;  // nullptr: unset
    bool udl, module15;    // files in {T}/inst
    std::vector<UnicodeString> args;
    const char* root;
    bool installed;
    const char* temp;
    const char* debug;
    bool connection;  // the data-link file's text, else empty
  };
  const Scenario scenarios[] = {
      {"nothing: the executable's folder", "", nullptr, false, false, {}, "{T}/bin/", false, "{T}/systemp/",
       "{T}/bin/log/debug/", false},
      {"blank Path, then KESTASYS", "\"Path\"=\"   \"", " {T}/env ", false, false, {}, "{T}/env/", false,
       "{T}/systemp/", "{T}/env/log/debug/", false},
      {"blank KESTASYS", "", "  ", false, false, {}, "{T}/bin/", false, "{T}/systemp/", "{T}/bin/log/debug/", false},
      {"installed", "\"Path\"=\"{T}/inst\"\r\n\"DebugPath\"=\"{T}/dbg\"", "{T}/env", true, true, {}, "{T}/inst/", true,
       "{T}/inst/sys/temp/", "{T}/dbg/", true},
      {"installed, debug folder from the start parameter", "\"Path\"=\"{T}/inst/\"\r\n\"DebugPath\"=\"{T}/dbg\"",
       nullptr, true, true, {u"--DEBUGPATH= /var/tmp/argdbg "}, "{T}/inst/", true, "{T}/inst/sys/temp/",
       "/var/tmp/argdbg/", true},
      {"installed, blank debug value", "\"Path\"=\"{T}/inst/\"\r\n\"DebugPath\"=\" \"", nullptr, true, true, {},
       "{T}/inst/", true, "{T}/inst/sys/temp/", "{T}/inst/log/debug/", true},
      {"no data-link file", "\"Path\"=\"{T}/inst/\"", "{T}/env", false, true, {}, "{T}/inst/", false, "{T}/systemp/",
       "{T}/inst/log/debug/", false},
      {"no module 15", "\"Path\"=\"{T}/inst/\"", nullptr, true, false, {}, "{T}/inst/", false, "{T}/systemp/",
       "{T}/inst/log/debug/", true},
      {"Path names a missing folder", "\"Path\"=\"{T}/missing/\"", nullptr, false, false, {}, "{T}/missing/", false,
       "{T}/systemp/", "{T}/missing/log/debug/", false},
  };
  for (const Scenario& s : scenarios) {
    SCOPED_TRACE(s.name);
    Machine m(s.args);
    if (*s.hklm) m.Machine_(s.hklm);
    if (s.kestasys) m.SetKestaSys(s.kestasys);
    if (s.udl) m.InstallUdl("{T}/inst", kUdlText);
    if (s.module15) m.InstallModule15("{T}/inst");
    EXPECT_EQ(TqzKesta::GetSysPath(), W(m.Expand(s.root)));
    EXPECT_EQ(TqzKesta::IsKestaInstalled(), s.installed);
    EXPECT_EQ(TqzKesta::GetTempPath(false, false), W(m.Expand(s.temp)));
    EXPECT_EQ(TqzKesta::GetDebugPath(), W(m.Expand(s.debug)));
    EXPECT_EQ(TqzKesta::GetConnectionString(true), W(m.Expand(std::string("FILE NAME=") + s.root + "cfg/qzsyscfg.udl")));
    EXPECT_EQ(TqzKesta::GetConnectionString(false), s.connection ? kUdlText : u"");
  }
}

TEST(qzKestaEnvironment, FolderTree) {
  Machine m;
  m.Machine_("\"Path\"=\" {T}/inst \"");
  const std::string r = m.T() + "/inst/";
  const std::pair<std::function<UnicodeString()>, std::string> rows[] = {
      {TqzKesta::GetConfigPath, "cfg/"},          {TqzKesta::GetBinaryPath, "sys/"},
      {TqzKesta::GetPubRootPath, "sys/pub/"},     {TqzKesta::GetSupplyPath, "sys/pub/supply/"},
      {TqzKesta::GetPluginsPath, "sys/plugins/"}, {[] { return TqzKesta::GetComponentPath(-1); }, "sys/com/"},
      {[] { return TqzKesta::GetComponentPath(10); }, "sys/com/10/"},
      {TqzKesta::GetLogPath, "log/"},             {TqzKesta::GetBatchLogPath, "log/batch/"},
      {TqzKesta::GetDataPath, "data/"},           {TqzKesta::GetBlobPath, "data/blobs/"},
      {TqzKesta::GetDataBackupPath, "backup/"},   {TqzKesta::GetDocPath, "doc/"},
      {TqzKesta::GetPackagesPath, "packages/"},
      {[] { return TqzKesta::GetPluginsUploadPath(qzOSP_Win64); }, "sys/plugins/upload/Win64/"},
      {[] { return TqzKesta::GetPluginsUpdatePath(qzOSP_Common); }, "sys/plugins/updates/Common/"},
      {[] { return TqzKesta::GetPluginsSupplyPath(qzOSP_Win32, qzET_UserExit); }, "sys/plugins/supply/userexit/Win32/"},
      {[] { return TqzKesta::GetPluginsSupplyPath(qzOSP_Win32, qzET_WorkerEngine); }, "sys/plugins/supply//Win32/"},
      {[] { return TqzKesta::GetPluginsSupplyPath(qzOSP_None, qzET_ExportService); }, "sys/plugins/supply/export//"},
  };
  for (const auto& [op, rel] : rows) EXPECT_EQ(op(), W(r + rel)) << rel;
  // Only the backup folder is made on demand.
  EXPECT_FALSE(IsDir(r + "cfg"));
  EXPECT_EQ(TqzKesta::GetBackupPath(), W(r + "sys/backup/"));
  EXPECT_TRUE(IsDir(r + "sys/backup"));

  EXPECT_EQ(TqzKesta::GetAppDataPath(false), W(m.T() + "/xdg/kesta/"));
  EXPECT_EQ(TqzKesta::GetAppDataPath(true), u"/var/lib/kesta/");
  // Not installed: OCR data beside the executable.
  EXPECT_EQ(TqzKesta::GetOCRDataPath(qzOCR_FineReader), W(m.T() + "/bin/ocr/finereader/data/"));
  EXPECT_EQ(TqzKesta::GetOCRDataPath(qzOCR_MSO), W(m.T() + "/bin/ocr/"));
  m.InstallUdl("{T}/inst", kUdlText);
  m.InstallModule15("{T}/inst");
  EXPECT_EQ(TqzKesta::GetOCRDataPath(qzOCR_Tesseract), W(r + "sys/com/ocr/tesseract/"));
}

TEST(qzKestaEnvironment, PluginWorkFolder) {
  Machine m;
  const std::string work = m.T() + "/xdg/kesta/plugins/work/";
  EXPECT_EQ(TqzKesta::GetPluginsWorkPath(qzOSP_Win32, u"MyÄService", 7), W(work + "myäservice-007~~~/Win32/"));
  EXPECT_TRUE(IsDir(work + "myäservice-007~~~/Win32"));
  // The platform of this program's own (64-bit) file, and its name for an empty service.
  const UnicodeString own = TqzKesta::GetPluginsWorkPath(qzOSP_Unknown, u"", 1234);
  EXPECT_EQ(own, W(work + "qzkesta_test-1234~~~/Win64/"));
  EXPECT_TRUE(IsDir(WideToUtf8(own)));
}

TEST(qzKestaEnvironment, TemporaryFolders) {
  {
    Machine m({u"--InstanceId=12"});
    // Not installed: the system's temporary folder, then program, instance and "~~~".
    EXPECT_EQ(TqzKesta::GetTempPath(false, true), W(m.T() + "/systemp/svc-012~~~/"));
    EXPECT_FALSE(IsDir(m.T() + "/systemp/svc-012~~~"));
    EXPECT_EQ(TqzKesta::GetTempPath(true, true), W(m.T() + "/systemp/svc-012~~~/"));
    EXPECT_TRUE(IsDir(m.T() + "/systemp/svc-012~~~"));
    // Every work folder is new, made, and named after a fresh identifier.
    const UnicodeString a = TqzKesta::GetTempWorkPath(), b = TqzKesta::GetTempWorkPath();
    EXPECT_NE(a, b);
    for (const UnicodeString& w : {a, b}) {
      EXPECT_TRUE(std::regex_match(WideToUtf8(w), std::regex(m.T() + "/systemp/work-[0-9A-F]{32}~~~/")))
          << WideToUtf8(w);
      EXPECT_TRUE(IsDir(WideToUtf8(w)));
    }
  }
  {
    Machine m({u"--instanceid=3"});
    m.Machine_("\"Path\"=\"{T}/inst\"");
    m.InstallUdl("{T}/inst", kUdlText);
    m.InstallModule15("{T}/inst");
    EXPECT_EQ(TqzKesta::GetTempPath(true, false), W(m.T() + "/inst/sys/temp/"));
    EXPECT_TRUE(IsDir(m.T() + "/inst/sys/temp"));
    EXPECT_EQ(TqzKesta::GetTempPath(false, true), W(m.T() + "/inst/sys/temp/svc-003~~~/"));
  }
  {
    Machine m({u"--instanceid=seven"});
    EXPECT_THROW(TqzKesta::GetTempPath(false, true), EConvertError);
    EXPECT_EQ(TqzKesta::GetTempPath(false, false), W(m.T() + "/systemp/"));
  }
  {
    // A temporary folder that cannot hold a new folder: no work folder is handed out.
    Machine m;
    ScopedEnv tmp("TMPDIR", "/proc/qz-no-such-folder");
    EXPECT_THROW(TqzKesta::GetTempWorkPath(), EInOutError);
  }
}

// ---- Settings ----------------------------------------------------------------------------------

TEST(qzKestaSettings, MachineAndUserValues) {
  struct Row {
    const char* name;
    const char* hklm;
    const char* hkcu;
    bool docu, theme, proxy, dev;
    const char16_t* language;
    int32_t node;
    const char16_t* proxyName;
  };
  const Row rows[] = {
      {"nothing stored", "", "", false, false, false, false, u"EN", 0, u"Default"},
      {"machine values", "\"DocuMode\"=dword:00000001\r\n\"ThemeActive\"=\"true\"\r\n\"Proxy\"=dword:00000002\r\n"
       "\"Language\"=\"de\"\r\n\"ClusterNode\"=dword:00000005\r\n\"ProxyName\"=\"squid\"\r\n\"Development\"=\"1\"",
       "", true, true, true, true, u"DE", 5, u"squid"},
      {"the user wins", "\"DocuMode\"=dword:00000001\r\n\"Language\"=\"de\"\r\n\"ThemeActive\"=dword:00000000",
       "\"DocuMode\"=dword:00000000\r\n\"Language\"=\"fr\"\r\n\"ThemeActive\"=\"TRUE\"\r\n\"Proxy\"=dword:00000001",
       false, true, false, false, u"FR", 0, u"Default"},
      {"no machine key, user values", "", "\"DocuMode\"=\"1\"\r\n\"Language\"=\"it\"", true, false, false, false,
       u"IT", 0, u"Default"},
      {"negative and odd values", "\"ClusterNode\"=dword:fffffffd\r\n\"DocuMode\"=\"maybe\"\r\n\"Proxy\"=\"0\"", "",
       false, false, false, false, u"EN", 0, u"Default"},
      {"node as text", "\"ClusterNode\"=\" 12 \"", "", false, false, false, false, u"EN", 12, u"Default"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Machine m;
    if (*r.hklm) m.Machine_(r.hklm);
    if (*r.hkcu) m.User(r.hkcu);
    EXPECT_EQ(TqzKesta::IsDocuModeActive(), r.docu);
    EXPECT_EQ(TqzKesta::IsKestaThemeActive(), r.theme ? qzTO_Enabled : qzTO_Disabled);
    EXPECT_EQ(TqzKesta::IsProxy(), r.proxy);
    EXPECT_EQ(TqzKesta::IsDevModeActive(), r.dev);
    EXPECT_EQ(TqzKesta::GetLanguage(u"en"), r.language);
    EXPECT_EQ(TqzKesta::GetClusterNode(), r.node);
    UnicodeString name;
    EXPECT_EQ(TqzKesta::IsProxy(name), r.proxy);
    EXPECT_EQ(name, r.proxyName);
    EXPECT_EQ(TqzKesta::ProxyName(), r.proxyName);
  }
}

TEST(qzKestaSettings, DevelopmentModeFromTheStartParameter) {
  struct Row {
    std::vector<UnicodeString> args;
    bool dev;
  };
  const Row rows[] = {{{u"--DEBUG=ja"}, true}, {{u"--debug=true"}, true}, {{u"--debug=no"}, false},
                      {{u"--debug"}, false},   {{u"-debug=1"}, false},    {{}, false}};
  for (const Row& r : rows) {
    Machine m(r.args);
    EXPECT_EQ(TqzKesta::IsDevModeActive(), r.dev) << (r.args.empty() ? "" : WideToUtf8(r.args[0]));
  }
}

TEST(qzKestaSettings, DatabaseTypeExactAndCommon) {
  struct Row {
    const char* stored;  // nullptr: no value ("MSSQL")
    TqzDatabaseType exact, common;
  };
  const Row rows[] = {
      {nullptr, qzDBT_MSSQL, qzDBT_MSSQL},
      {"MSSQL", qzDBT_MSSQL, qzDBT_MSSQL},
      {"mssql2012", qzDBT_MSSQL2012, qzDBT_MSSQL},
      {"MSSQL2000", qzDBT_MSSQL2000, qzDBT_MSSQL},
      {"MSSQL2005", qzDBT_MSSQL2005, qzDBT_MSSQL},
      {"MSSQL2008", qzDBT_MSSQL2008, qzDBT_MSSQL},
      {"MSSQL2014", qzDBT_MSSQL2014, qzDBT_MSSQL},
      {"MSSQL2016", qzDBT_MSSQL2016, qzDBT_MSSQL},
      {"MSSQL2019", qzDBT_Unknown, qzDBT_MSSQL},
      {"N7", qzDBT_N7, qzDBT_N7},
      {"n7x", qzDBT_Unknown, qzDBT_N7},
      {"MySql", qzDBT_MySQL, qzDBT_MySQL},
      {"MYSQL8", qzDBT_Unknown, qzDBT_MySQL},
      {"Oracle", qzDBT_Oracle, qzDBT_Oracle},
      {"DB2", qzDBT_DB2, qzDBT_DB2},
      {"informix", qzDBT_Informix, qzDBT_Informix},
      {"SQLITE", qzDBT_Unknown, qzDBT_Unknown},
      {" MSSQL", qzDBT_Unknown, qzDBT_Unknown},  // not trimmed
      {"", qzDBT_Unknown, qzDBT_Unknown},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.stored ? r.stored : "(none)");
    Machine m;
    if (r.stored) m.Machine_(std::string("\"DatabaseType\"=\"") + r.stored + "\"");
    EXPECT_EQ(TqzKesta::GetDatabaseType(false, qzDBT_Unknown), r.exact);
    EXPECT_EQ(TqzKesta::GetDatabaseType(true, qzDBT_Unknown), r.common);
  }
}

// ---- Database ----------------------------------------------------------------------------------

TEST(qzKestaDatabase, VersionAndAvailability) {
  qztest::SqliteDb db;
  // The Oracle catalogue view, as a SQLite table: two rows, a line break inside a value.
  db.Exec("CREATE TABLE \"V$VERSION\" (BANNER TEXT, STATUS TEXT, NOTE TEXT);"
          "INSERT INTO \"V$VERSION\" VALUES ('Oracle Database 19c' || char(13,10) || 'Enterprise', 'Production',"
          " NULL);"
          "INSERT INTO \"V$VERSION\" VALUES ('second row', 'ignored', 'x');");
  const UnicodeString connection = u"Provider=MSDASQL;" + db.ConnectionString();
  struct Row {
    const char* type;
    std::string expectedPrefix;
  };
  const Row rows[] = {
      {"ORACLE", "Oracle (Oracle Database 19c Enterprise Production)"},
      {"MYSQL", "Unable to get database version for MySQL ("},  // SQLite has no VERSION()
      {"MSSQL2012", "Unable to get database version for MSSQL ("},
      {"DB2", "Unable to get database version for DB2 (invalid database type (DB2)!)"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.type);
    Machine m;
    m.Machine_(std::string("\"Path\"=\"{T}/inst/\"\r\n\"DatabaseType\"=\"") + r.type + "\"");
    m.InstallUdl("{T}/inst", connection);
    m.InstallModule15("{T}/inst");
    const std::string version = WideToUtf8(TqzKesta::GetDatabaseVersion());
    EXPECT_EQ(version.substr(0, r.expectedPrefix.size()), r.expectedPrefix) << version;
    EXPECT_TRUE(version.back() == ')') << version;
    EXPECT_TRUE(TqzKesta::IsDatabaseAvailable());
  }
  {
    // Installed, but the database cannot be opened; and the same file without an installation.
    Machine m;
    m.Machine_("\"Path\"=\"{T}/inst/\"\r\n\"DatabaseType\"=\"MYSQL\"");
    m.InstallUdl("{T}/inst", u"Provider=MSDASQL;Driver=NoSuchDriver;Database=x");
    m.InstallModule15("{T}/inst");
    EXPECT_FALSE(TqzKesta::IsDatabaseAvailable());
    Machine n;
    n.InstallUdl("{T}/bin", connection);
    EXPECT_FALSE(TqzKesta::IsDatabaseAvailable());
    EXPECT_EQ(TqzKesta::GetConnectionString(false), connection);
  }
}

// ---- Keys, components, program -----------------------------------------------------------------

TEST(qzKestaProgram, ClusterKeysAndComponents) {
  EXPECT_EQ(TqzKesta::GetN7ClusterNodePath(2), u"/kesta/Software/kesta module15 daemon/Cluster/Node 2");
  EXPECT_EQ(TqzKesta::GetN7ClusterNodeServicePath(u"scan", 1, 0),
            u"/kesta/Software/kesta module15 daemon/Services/scan/Cluster/Node 1/Instance 0");
  EXPECT_EQ(TqzKesta::GetN7ClusterNodeServicePath(u"scan", 1, -1),
            u"/kesta/Software/kesta module15 daemon/Services/scan/Cluster/Node 1");

  Machine m;
  m.Machine_("\"Path\"=\"{T}/inst/\"");
  // FineReader: the installation's copy, else module 13's, else beside the executable.
  EXPECT_EQ(TqzKesta::GetFineReaderEnginePath(), W(m.T() + "/bin/FREngine.dll"));
  WriteFile(m.T() + "/m13/ocr/finereader/10/FREngine.dll", "x");
  m.Hive("HKLM.reg", "HKEY_LOCAL_MACHINE", "\"Path\"=\"{T}/m13\"", "SOFTWARE\\kesta\\MODULE13");
  EXPECT_EQ(TqzKesta::GetFineReaderEnginePath(), W(m.T() + "/m13/ocr/finereader/10/FREngine.dll"));
  m.Machine_("\"Path\"=\"{T}/inst/\"");
  WriteFile(m.T() + "/inst/sys/com/fr10/FREngine.dll", "x");
  EXPECT_EQ(TqzKesta::GetFineReaderEnginePath(), W(m.T() + "/inst/sys/com/fr10/FREngine.dll"));
  // Style file: beside the executable first, then in the configuration folder.
  EXPECT_FALSE(TqzKesta::StyleDefinitionExists());
  EXPECT_EQ(TqzKesta::GetStyleDefinitionPath(), W(m.T() + "/inst/cfg/qzStyle.xml"));
  WriteFile(m.T() + "/inst/cfg/qzStyle.xml", "<x/>");
  EXPECT_TRUE(TqzKesta::StyleDefinitionExists());
  WriteFile(m.T() + "/bin/qzStyle.xml", "<x/>");
  EXPECT_EQ(TqzKesta::GetStyleDefinitionPath(), W(m.T() + "/bin/qzStyle.xml"));
}

TEST(qzKestaProgram, NamesAndVersions) {
  {
    TqzConsoleTools::SetCommandLine({u"/opt/kesta/ScanService.Main.EXE"});
    EXPECT_EQ(TqzKesta::GetProgramTechName(), u"scanservice.main");
    TqzConsoleTools::ResetCommandLine();
  }
  const TqzFileInfo& info = TqzLibraryVersion::FileInfo();
  EXPECT_EQ(TqzKesta::GetProgramName(), info.FileDescription);
  EXPECT_EQ(TqzKesta::GetProductCopyright(), info.LegalCopyright);
  EXPECT_EQ(TqzKesta::GetProductVersion(), platform::ToU16(QZ_VERSION_TEXT));
  const TqzVersion v = TqzKesta::GetProductTqzVersion();
  EXPECT_EQ(v, (TqzVersion{QZ_VERSION_MAJOR, QZ_VERSION_MINOR, QZ_VERSION_REVISION + 0, QZ_VERSION_BUILD + 0}));
  // This test program is a 64-bit ELF file.
  EXPECT_EQ(TqzKesta::GetProgramVersionString(),
            platform::ToU16(std::to_string(QZ_VERSION_MAJOR) + "." + std::to_string(QZ_VERSION_MINOR) + "." +
                            std::to_string(QZ_VERSION_REVISION + 0) + "." + std::to_string(QZ_VERSION_BUILD + 0) +
                            " (x64) release " QZ_VERSION_TEXT));
}

TEST(qzKestaProgram, PortsAndPriorities) {
  const std::pair<TqzEnterpriseService, int32_t> ports[] = {
      {qzESVC_Module01, 4410}, {qzESVC_Module02, 4420}, {qzESVC_Module03, 4610}, {qzESVC_Module04, 4520},
      {qzESVC_Module05, 4540}, {qzESVC_Module06, 4580}, {qzESVC_Module07, 4490}, {qzESVC_Module08, 4440},
      {qzESVC_Module09, 4450}, {qzESVC_Module10, 4500}, {qzESVC_Module11, 4430}, {qzESVC_Module12, 4620},
      {qzESVC_Module13, 4630}, {qzESVC_Module14, 4590}, {qzESVC_Module15, 4040}, {qzESVC_Module16, 4680},
      {qzESVC_Module17, 4690}, {qzESVC_Module18, 4700}, {static_cast<TqzEnterpriseService>(18), 0}};
  for (const auto& [service, port] : ports) EXPECT_EQ(TqzKesta::GetDefaultServicePort(service), port) << int(service);

  const std::pair<int32_t, const char*> texts[] = {
      {0, "Idle"},       {1, "Lowest"},  {2, "Lower"},
      {3, "Normal"},     {4, "Higher"},  {5, "Highest"},
      {6, "Timecritical"}, {7, "Timecritical (7)"}, {12, "Timecritical (12)"},
      {99999, "Timecritical (99999)"}, {100000, "Unknown (100000)"}, {-1, "Unknown (-1)"},
      {INT32_MIN, "Unknown (-2147483648)"}};
  for (const auto& [n, text] : texts) EXPECT_EQ(TqzKesta::GetPriorityStr(n), text) << n;

  const std::pair<const char*, int32_t> back[] = {
      {"Idle", 0},     {"LOWEST", 1},  {"lower", 2},          {"Normal", 3},    {"higher", 4},
      {"Highest", 5},  {"Timecritical", 6}, {"Timecritical (12)", 6}, {"Unknown (-1)", 0},
      {" Normal", 0},  {"", 0},        {"Normal\tx", 0}};
  for (const auto& [text, n] : back) EXPECT_EQ(TqzKesta::GetPriorityFromStr(text), n) << text;
}

// Repeated reads come from the registry layer's cache: the hive is parsed once, not per call.
TEST(qzKestaProgram, RepeatedReadsDoNotParseTheHiveAgain) {
  Machine m;
  m.Machine_("\"Path\"=\"{T}/inst/\"\r\n\"DatabaseType\"=\"MYSQL\"");
  const auto before = platform::Registry::Read(platform::RootKey::LocalMachine);
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(TqzKesta::GetLogPath(), W(m.T() + "/inst/log/"));
    EXPECT_EQ(TqzKesta::GetDatabaseType(true, qzDBT_Unknown), qzDBT_MySQL);
  }
  EXPECT_EQ(platform::Registry::Read(platform::RootKey::LocalMachine).get(), before.get());
  // A changed file is read anew.
  m.Machine_("\"Path\"=\"{T}/other/\"");
  EXPECT_EQ(TqzKesta::GetSysPath(), W(m.T() + "/other/"));
}

}  // namespace
