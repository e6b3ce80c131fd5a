#include "qzKesta.h"

#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "CodePage.h"
#include "Database.h"
#include "Exceptions.h"
#include "SysUtils.h"
#include "Variant.h"
#include "qzADO.h"
#include "qzConsoleTools.h"
#include "qzConversion.h"
#include "qzFiles.h"
#include "qzRegistry.h"
#include "qzSQL.h"
#include "qzStrings.h"
#include "qzTools.h"
#include "qzToolsEvo2.h"
#include "qzVersionTools.h"

namespace {

constexpr const char16_t* kModule13Key = u"SOFTWARE\\kesta\\MODULE13\\";
// The text a version resource holds in place of a value that was never filled in.
constexpr const char16_t* kPlaceholder = u"############################";
constexpr const char16_t* kCopyright = u"Copyright (C) kesta. All rights reserved.";

Variant ReadValue(HKEY root, const char16_t* key, const char16_t* name, const Variant& def) {
  return TqzRegistry::GetValue(root, key, name, def, false);
}

Variant MachineValue(const char16_t* name, const Variant& def) {
  return ReadValue(HKEY_LOCAL_MACHINE, TqzKesta::SystemKey, name, def);
}

bool MachineValueExists(const char16_t* name) {
  return TqzRegistry::ValueExists(HKEY_LOCAL_MACHINE, TqzKesta::SystemKey, name);
}

// A Boolean setting: a DWORD (non-zero is true), a Boolean, or a text "true"/"false" or a
// number; anything else gives the default.
bool AsSettingBool(const Variant& v, bool def) {
  try {
    if (v.VarType() == varBoolean) return v.AsBool();
    if (v.IsInteger()) return v.AsInt64() != 0;
    if (v.IsString()) {
      const UnicodeString text = UpperCaseStr(platform::Trim(v.AsString()));
      if (text == u"TRUE") return true;
      if (text == u"FALSE") return false;
      int64_t n = 0;
      if (platform::TryStrToInt64(text, n)) return n != 0;
    }
  } catch (...) {
  }
  return def;
}

int64_t AsSettingInt(const Variant& v, int64_t def) {
  try {
    if (v.IsInteger()) return v.AsInt64();
    if (v.VarType() == varBoolean) return v.AsBool() ? 1 : 0;
    if (v.IsString()) {
      int64_t n = 0;
      if (platform::TryStrToInt64(platform::Trim(v.AsString()), n)) return n;
    }
  } catch (...) {
  }
  return def;
}

bool MachineBool(const char16_t* name, bool def) { return AsSettingBool(MachineValue(name, Variant(def)), def); }

// Machine value, then the user value with the machine value as its default.
bool UserOverMachineBool(const char16_t* name, bool def) {
  const bool machine = MachineBool(name, def);
  return AsSettingBool(ReadValue(HKEY_CURRENT_USER, TqzKesta::SystemKey, name, Variant(machine)), machine);
}

UnicodeString MachineText(const char16_t* name, const UnicodeString& def) {
  return VarToStr(MachineValue(name, Variant(def)));
}

size_t NameStart(std::u16string_view path) {
  for (size_t i = path.size(); i > 0; --i)
    if (path[i - 1] == u'/' || path[i - 1] == u'\\') return i;
  return 0;
}

UnicodeString FileNameOf(const UnicodeString& path) { return path.substr(NameStart(path)); }

// The folder of the running executable, ending with "/".
UnicodeString ExecutableFolder() {
  const UnicodeString exe = TqzConsoleTools::ParamStrW(0);
  return exe.substr(0, NameStart(exe));
}

// A file of that name that is no folder and not hidden.
bool FileExists(const UnicodeString& path) {
  const UnicodeString name = FileNameOf(path);
  if (name.empty() || name[0] == u'.') return false;
  UnicodeString native = path;
  for (char16_t& c : native)
    if (c == u'\\') c = u'/';
  struct stat st {};
  return ::stat(platform::WideToUtf8(native).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// The start parameter read as an integer; a text that is no integer raises the conversion error.
int64_t StartParamAsInteger(const Variant& v) {
  if (!v.IsString()) return v.AsInt64();
  const UnicodeString text = v.AsString();
  int64_t n = 0;
  if (!platform::TryStrToInt64(platform::Trim(text), n))
    throw EConvertError(u"'" + text + u"' is not a valid integer value");
  return n;
}

UnicodeString EngineWord(TEngineType type) {
  switch (type) {
    case qzET_ExportService: return u"export";
    case qzET_ConversionEngine: return u"conversion";
    case qzET_UserExit: return u"userexit";
    case qzET_RecognitionEngine: return u"recognition";
    default: return u"";
  }
}

UnicodeString OCREngineFolder(TqzOCREngine engine) {
  switch (engine) {
    case qzOCR_FineReader: return u"finereader/data/";
    case qzOCR_Transym: return u"transym/";
    case qzOCR_Tesseract: return u"tesseract/";
    case qzOCR_Nicomsoft: return u"nicomsoft/";
    default: return u"";
  }
}

UnicodeString OwnModule() { return TqzTools::GetModuleFileName(); }

bool IsPlaceholder(const UnicodeString& text) { return text.find(kPlaceholder) != UnicodeString::npos; }

}  // namespace

// ---- Installation ------------------------------------------------------------------------------

bool TqzKesta::IsKestaInstalled() {
  try {
    if (!MachineValueExists(u"Path")) return false;
    if (!TqzFiles::PathExists(MachineText(u"Path", u""))) return false;
    if (!FileExists(GetConfigPath() + u"qzsyscfg.udl")) return false;
    return FileExists(GetBinaryPath() + u"qzmodule15srv.exe");
  } catch (...) {
    return false;
  }
}

UnicodeString TqzKesta::GetSysPath() {
  try {
    UnicodeString root;
    if (MachineValueExists(u"Path")) root = TqzFiles::CheckPathExt(MachineText(u"Path", u""));
    if (platform::Trim(root).empty())
      root = TqzFiles::CheckPathExt(TqzTools::GetEnvironmentString(u"KESTASYS"));
    if (platform::Trim(root).empty()) root = ExecutableFolder();
    return root;
  } catch (...) {
    return ExecutableFolder();
  }
}

// ---- The folder tree ---------------------------------------------------------------------------

UnicodeString TqzKesta::GetConfigPath() { return GetSysPath() + u"cfg/"; }
UnicodeString TqzKesta::GetBinaryPath() { return GetSysPath() + u"sys/"; }
UnicodeString TqzKesta::GetPubRootPath() { return GetSysPath() + u"sys/pub/"; }
UnicodeString TqzKesta::GetSupplyPath() { return GetSysPath() + u"sys/pub/supply/"; }

UnicodeString TqzKesta::GetBackupPath() {
  const UnicodeString path = GetSysPath() + u"sys/backup/";
  TqzFiles::CreatePath(path, true);
  return path;
}

UnicodeString TqzKesta::GetPluginsPath() { return GetSysPath() + u"sys/plugins/"; }

UnicodeString TqzKesta::GetComponentPath(int32_t Version) {
  if (Version == -1) return GetSysPath() + u"sys/com/";
  return GetSysPath() + u"sys/com/" + platform::IntToStr(Version) + u"/";
}

UnicodeString TqzKesta::GetLogPath() { return GetSysPath() + u"log/"; }
UnicodeString TqzKesta::GetBatchLogPath() { return GetSysPath() + u"log/batch/"; }

UnicodeString TqzKesta::GetDebugPath() {
  UnicodeString path =
      TqzFiles::CheckPathExt(VarToStr(TqzConsoleTools::GetStartParam(u"DebugPath", Variant(u""), "--")));
  if (!path.empty()) return path;
  const UnicodeString fallback = GetSysPath() + u"log/debug/";
  if (MachineValueExists(u"DebugPath")) {
    path = TqzFiles::CheckPathExt(MachineText(u"DebugPath", fallback));
    if (!path.empty()) return path;
  }
  return fallback;
}

UnicodeString TqzKesta::GetDataPath() { return GetSysPath() + u"data/"; }
UnicodeString TqzKesta::GetBlobPath() { return GetSysPath() + u"data/blobs/"; }
UnicodeString TqzKesta::GetDataBackupPath() { return GetSysPath() + u"backup/"; }
UnicodeString TqzKesta::GetDocPath() { return GetSysPath() + u"doc/"; }
UnicodeString TqzKesta::GetPackagesPath() { return GetSysPath() + u"packages/"; }

UnicodeString TqzKesta::GetAppDataPath(bool Common) {
  return TqzTools::GetSpecialFolderPath(Common ? CSIDL_COMMON_APPDATA : CSIDL_LOCAL_APPDATA) + u"kesta/";
}

UnicodeString TqzKesta::GetPluginsUploadPath(TqzOSPlatform OSPlatform) {
  return GetPluginsPath() + u"upload/" + TqzTypes::GetOSPlatformStr(OSPlatform) + u"/";
}

UnicodeString TqzKesta::GetPluginsUpdatePath(TqzOSPlatform OSPlatform) {
  return GetPluginsPath() + u"updates/" + TqzTypes::GetOSPlatformStr(OSPlatform) + u"/";
}

UnicodeString TqzKesta::GetPluginsSupplyPath(TqzOSPlatform OSPlatform, TEngineType EngineType) {
  return GetPluginsPath() + u"supply/" + EngineWord(EngineType) + u"/" + TqzTypes::GetOSPlatformStr(OSPlatform) +
         u"/";
}

UnicodeString TqzKesta::GetPluginsWorkPath(TqzOSPlatform OSPlatform, const UnicodeString& Service,
                                           int32_t InstanceId) {
  const UnicodeString service = Service.empty() ? TqzFiles::ExtractPureFileName(OwnModule()) : Service;
  TqzOSPlatform platform = OSPlatform;
  if (platform == qzOSP_Unknown) {
    switch (TqzTools::GetExecutableCPUPlatform(OwnModule())) {
      case qzCPU_x86: platform = qzOSP_Win32; break;
      case qzCPU_x64: platform = qzOSP_Win64; break;
      default: throw Exception("unknown cpu platform for runtime application");
    }
  }
  const UnicodeString path = GetAppDataPath(false) + u"plugins/work/" + LowerCaseStr(service) + u"-" +
                             TqzStrings::FillIntNullW(InstanceId, 3) + u"~~~/" +
                             TqzTypes::GetOSPlatformStr(platform) + u"/";
  TqzFiles::CreatePath(path, true);
  return path;
}

UnicodeString TqzKesta::GetOCRDataPath(TqzOCREngine OCREngine) {
  if (IsKestaInstalled()) return GetSysPath() + u"sys/com/ocr/" + OCREngineFolder(OCREngine);
  return ExecutableFolder() + u"ocr/" + OCREngineFolder(OCREngine);
}

// ---- Temporary folders -------------------------------------------------------------------------

UnicodeString TqzKesta::GetTempPath(bool CheckAndCreatePath, bool ServiceSpecific) {
  UnicodeString path;
  try {
    if (IsKestaInstalled()) path = GetSysPath() + u"sys/temp/";
  } catch (...) {
    path.clear();
  }
  if (path.empty()) path = TqzFiles::GetTempPath();
  if (ServiceSpecific) {
    const int64_t instance = StartParamAsInteger(TqzConsoleTools::GetStartParam(u"instanceid", Variant(0), "--"));
    path += GetProgramTechName() + u"-" + TqzStrings::FillIntNullW(instance, 3) + u"~~~/";
  }
  if (CheckAndCreatePath) TqzFiles::CreatePath(path, true);
  return path;
}

UnicodeString TqzKesta::GetTempWorkPath() {
  const UnicodeString path =
      GetTempPath(false, false) + u"work-" + platform::AnsiToWide(TqzTools::CreateId().str()) + u"~~~/";
  TqzFiles::CreatePath(path, false);
  // A folder that could not be made is an error, not a path for the caller to fail on later.
  if (!TqzFiles::PathExists(path)) throw EInOutError(u"cannot create the work folder " + path);
  return path;
}

// ---- Settings ----------------------------------------------------------------------------------

bool TqzKesta::IsDocuModeActive() { return UserOverMachineBool(u"DocuMode", false); }

bool TqzKesta::IsDevModeActive() {
  if (MachineBool(u"Development", false)) return true;
  return TqzConversion::StrToBool(VarToStr(TqzConsoleTools::GetStartParam(u"Debug", Variant(u"false"), "--")));
}

UnicodeString TqzKesta::GetLanguage(const UnicodeString& Default) {
  const UnicodeString machine = MachineText(u"Language", TqzTools::GetShortWindowsLanguage(Default));
  const UnicodeString user = VarToStr(ReadValue(HKEY_CURRENT_USER, SystemKey, u"Language", Variant(machine)));
  return UpperCaseStr(user);
}

TqzThemeOption TqzKesta::IsKestaThemeActive() {
  return UserOverMachineBool(u"ThemeActive", false) ? qzTO_Enabled : qzTO_Disabled;
}

int32_t TqzKesta::GetClusterNode() {
  const int64_t node = AsSettingInt(MachineValue(u"ClusterNode", Variant(0)), 0);
  return node < 0 || node > INT32_MAX ? 0 : static_cast<int32_t>(node);
}

bool TqzKesta::IsProxy() { return MachineBool(u"Proxy", false); }

bool TqzKesta::IsProxy(UnicodeString& ProxyName) {
  ProxyName = TqzKesta::ProxyName();
  return IsProxy();
}

UnicodeString TqzKesta::ProxyName() { return MachineText(u"ProxyName", u"Default"); }

TqzDatabaseType TqzKesta::GetDatabaseType(bool GetCommonType, TqzDatabaseType Default) {
  const UnicodeString type = UpperCaseStr(MachineText(u"DatabaseType", u"MSSQL"));
  if (GetCommonType) {
    static const std::pair<const char16_t*, TqzDatabaseType> prefixes[] = {
        {u"N7", qzDBT_N7},         {u"MSSQL", qzDBT_MSSQL}, {u"MYSQL", qzDBT_MySQL},
        {u"ORACLE", qzDBT_Oracle}, {u"DB2", qzDBT_DB2},     {u"INFORMIX", qzDBT_Informix}};
    for (const auto& [prefix, value] : prefixes)
      if (type.rfind(prefix, 0) == 0) return value;
    return Default;
  }
  static const std::pair<const char16_t*, TqzDatabaseType> names[] = {
      {u"N7", qzDBT_N7},
      {u"MSSQL2000", qzDBT_MSSQL2000},
      {u"MSSQL2005", qzDBT_MSSQL2005},
      {u"MSSQL2008", qzDBT_MSSQL2008},
      {u"MSSQL2012", qzDBT_MSSQL2012},
      {u"MSSQL2014", qzDBT_MSSQL2014},
      {u"MSSQL2016", qzDBT_MSSQL2016},
      {u"MSSQL", qzDBT_MSSQL},
      {u"MYSQL", qzDBT_MySQL},
      {u"ORACLE", qzDBT_Oracle},
      {u"DB2", qzDBT_DB2},
      {u"INFORMIX", qzDBT_Informix}};
  for (const auto& [name, value] : names)
    if (type == name) return value;
  return Default;
}

// ---- Database ----------------------------------------------------------------------------------

UnicodeString TqzKesta::GetConnectionString(bool FileLink) {
  const UnicodeString file = GetConfigPath() + u"qzsyscfg.udl";
  if (FileLink) return u"FILE NAME=" + file;
  try {
    // A file that is not there or cannot be read holds no connection string at all.
    if (!FileExists(file) || ::access(platform::WideToUtf8(file).c_str(), R_OK) != 0) return u"";
    return TqzTools::GetConnectionstringFromUdlFile(file);
  } catch (...) {
    return u"";
  }
}

bool TqzKesta::IsDatabaseAvailable() {
  try {
    if (!IsKestaInstalled()) return false;
    platform::DbConnection connection(GetConnectionString(false));
    connection.Open();
    connection.Close();
    return true;
  } catch (...) {
    return false;
  }
}

UnicodeString TqzKesta::GetDatabaseVersion() {
  TqzDatabaseType type = qzDBT_Unknown;
  try {
    type = GetDatabaseType(true, qzDBT_MSSQL);
    UnicodeString query;
    switch (type) {
      case qzDBT_MSSQL:
        query = u"SELECT SERVERPROPERTY(\"PRODUCTVERSION\"), SERVERPROPERTY (\"PRODUCTLEVEL\"), "
                u"SERVERPROPERTY (\"EDITION\")";
        break;
      case qzDBT_MySQL: query = u"SELECT VERSION()"; break;
      case qzDBT_Oracle: query = u"SELECT * FROM V$VERSION"; break;
      default: throw Exception(u"invalid database type (" + TqzTypes::GetDatabaseTypeStr(type) + u")!");
    }
    TqzADODataSet data;
    data.SetConnectionString(GetConnectionString(false));
    data.SetCommandText(TqzSQL::PrepareSQL(query));
    data.Open();
    UnicodeString joined;
    for (int i = 0; i < data.FieldCount(); ++i) joined += data.Fields(i).AsString() + u" ";
    data.Close();
    joined = TqzStrings::Breaks2BlanksW(joined);
    return TqzTypes::GetDatabaseTypeStr(type) + u" (" + platform::Trim(joined) + u")";
  } catch (const Exception& e) {
    return u"Unable to get database version for " + TqzTypes::GetDatabaseTypeStr(type) + u" (" + e.Message + u")";
  } catch (const std::exception& e) {
    return u"Unable to get database version for " + TqzTypes::GetDatabaseTypeStr(type) + u" (" +
           platform::Utf8ToWide(e.what()) + u")";
  }
}

// ---- Configuration-store keys ------------------------------------------------------------------

UnicodeString TqzKesta::GetN7ClusterNodePath(int32_t ClusterNode) {
  return u"/kesta/Software/kesta module15 daemon/Cluster/Node " + platform::IntToStr(ClusterNode);
}

UnicodeString TqzKesta::GetN7ClusterNodeServicePath(const UnicodeString& Service, int32_t ClusterNode,
                                                    int32_t InstanceId) {
  UnicodeString path = u"/kesta/Software/kesta module15 daemon/Services/" + Service + u"/Cluster/Node " +
                       platform::IntToStr(ClusterNode);
  if (InstanceId >= 0) path += u"/Instance " + platform::IntToStr(InstanceId);
  return path;
}

// ---- Components --------------------------------------------------------------------------------

UnicodeString TqzKesta::GetFineReaderEnginePath() {
  UnicodeString path = GetSysPath() + u"sys/com/fr10/FREngine.dll";
  if (FileExists(path)) return path;
  const UnicodeString module13 =
      TqzFiles::CheckPathExt(VarToStr(ReadValue(HKEY_LOCAL_MACHINE, kModule13Key, u"Path", Variant(u""))));
  if (!module13.empty()) {  // an empty value names no folder (not the current one)
    path = module13 + u"ocr/finereader/10/FREngine.dll";
    if (FileExists(path)) return path;
  }
  return ExecutableFolder() + u"FREngine.dll";
}

bool TqzKesta::StyleDefinitionExists() {
  return FileExists(ExecutableFolder() + u"qzStyle.xml") || FileExists(GetConfigPath() + u"qzStyle.xml");
}

UnicodeString TqzKesta::GetStyleDefinitionPath() {
  const UnicodeString local = ExecutableFolder() + u"qzStyle.xml";
  if (FileExists(local)) return local;
  return GetConfigPath() + u"qzStyle.xml";
}

// ---- Program -----------------------------------------------------------------------------------

UnicodeString TqzKesta::GetProgramName() {
  TqzFileInfo info;
  if (TqzTools::GetFileInfo(OwnModule(), info) && !IsPlaceholder(info.FileDescription) &&
      !platform::Trim(info.LegalCopyright).empty())
    return info.FileDescription;
  static const std::pair<const char16_t*, const char16_t*> modules[] = {
      {u"qzmodule01srv.exe", u"KESTA MODULE01 DAEMON"},  {u"qzmodule02srv.exe", u"KESTA MODULE02 DAEMON"},
      {u"qzmodule03srv.exe", u"KESTA MODULE03 DAEMON"},  {u"qzmodule04srv.exe", u"KESTA MODULE04 DAEMON"},
      {u"qzmodule05srv.exe", u"KESTA MODULE05 DAEMON"},  {u"qzmodule06srv.exe", u"KESTA MODULE06 DAEMON"},
      {u"qzmodule07srv.exe", u"KESTA MODULE07 DAEMON"},  {u"qzmodule08srv.exe", u"KESTA MODULE08 DAEMON"},
      {u"qzmodule09srv.exe", u"KESTA MODULE09 DAEMON"},  {u"qzmodule11srv.exe", u"KESTA MODULE11 DAEMON"},
      {u"qzmodule12srv.exe", u"KESTA MODULE12 DAEMON"},  {u"qzmodule13bsrv.exe", u"KESTA MODULE13 DAEMON"},
      {u"qzmodule14srv.exe", u"KESTA MODULE14 DAEMON"},  {u"qzmodule15srv.exe", u"KESTA MODULE15 DAEMON"},
      {u"qzmodule16srv.exe", u"KESTA MODULE16 DAEMON"},  {u"qzmodule17srv.exe", u"KESTA MODULE17 DAEMON"},
      {u"qzmodule18srv.exe", u"KESTA MODULE18 DAEMON"},  {u"qzmodule19srv.exe", u"KESTA MODULE19 DAEMON"},
      {u"qzmodule20.exe", u"KESTA MODULE20 STUDIO"}};
  const UnicodeString exe = LowerCaseStr(FileNameOf(TqzConsoleTools::ParamStrW(0)));
  for (const auto& [file, name] : modules)
    if (exe == file) return name;
  return u"Unknown";
}

UnicodeString TqzKesta::GetProgramTechName() {
  return LowerCaseStr(TqzFiles::ExtractPureFileName(TqzConsoleTools::ParamStrW(0)));
}

UnicodeString TqzKesta::GetProgramVersionString() {
  const UnicodeString module = OwnModule();
  const UnicodeString cpu = TqzTypes::GetCPUPlatformStr(TqzTools::GetExecutableCPUPlatform(module));
  TqzFileInfo info;
  if (!TqzTools::GetFileInfo(module, info)) return u"unknown build (" + cpu + u")";
  const UnicodeString product = info.ProductVersion;
  const bool development = product.rfind(kPlaceholder, 0) == 0 || product.rfind(u"9999.9999.", 0) == 0 ||
                           platform::Trim(product).empty();
  return platform::AnsiToWide(TqzVersionTools::GetInternalFileVersionStr(module)) + u" (" + cpu + u") " +
         (development ? UnicodeString(u"development build") : u"release " + product);
}

UnicodeString TqzKesta::GetProductVersion() {
  TqzFileInfo info;
  if (!TqzTools::GetFileInfo(OwnModule(), info)) return u"unknown";
  const UnicodeString& product = info.ProductVersion;
  if (IsPlaceholder(product) || product.find(u"9999.9999.9999.9999") != UnicodeString::npos ||
      platform::Trim(product).empty())
    return u"development build";
  return product;
}

TqzVersion TqzKesta::GetProductTqzVersion() { return TqzVersionTools::GetVersionFromStr(GetProductVersion()); }

UnicodeString TqzKesta::GetProductCopyright() {
  TqzFileInfo info;
  if (TqzTools::GetFileInfo(OwnModule(), info) && !IsPlaceholder(info.LegalCopyright) &&
      !platform::Trim(info.LegalCopyright).empty())
    return info.LegalCopyright;
  return kCopyright;
}

int32_t TqzKesta::GetDefaultServicePort(TqzEnterpriseService Service) {
  switch (Service) {
    case qzESVC_Module01: return 4410;
    case qzESVC_Module02: return 4420;
    case qzESVC_Module03: return 4610;
    case qzESVC_Module04: return 4520;
    case qzESVC_Module05: return 4540;
    case qzESVC_Module06: return 4580;
    case qzESVC_Module07: return 4490;
    case qzESVC_Module08: return 4440;
    case qzESVC_Module09: return 4450;
    case qzESVC_Module10: return 4500;
    case qzESVC_Module11: return 4430;
    case qzESVC_Module12: return 4620;
    case qzESVC_Module13: return 4630;
    case qzESVC_Module14: return 4590;
    case qzESVC_Module15: return 4040;
    case qzESVC_Module16: return 4680;
    case qzESVC_Module17: return 4690;
    case qzESVC_Module18: return 4700;
  }
  return 0;
}

// ---- Priorities --------------------------------------------------------------------------------

AnsiString TqzKesta::GetPriorityStr(int32_t Priority) {
  static const char* names[] = {"Idle", "Lowest", "Lower", "Normal", "Higher", "Highest", "Timecritical"};
  if (Priority >= 0 && Priority <= 6) return names[Priority];
  if (Priority >= 7 && Priority <= 99999) return "Timecritical (" + platform::IntToStrA(Priority) + ")";
  return "Unknown (" + platform::IntToStrA(Priority) + ")";
}

int32_t TqzKesta::GetPriorityFromStr(const AnsiString& Priority) {
  AnsiString word = Priority.substr(0, Priority.find(' '));
  for (char& c : word)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  static const char* names[] = {"IDLE", "LOWEST", "LOWER", "NORMAL", "HIGHER", "HIGHEST", "TIMECRITICAL"};
  for (int32_t i = 0; i < 7; ++i)
    if (word == names[i]) return i;
  return 0;
}
