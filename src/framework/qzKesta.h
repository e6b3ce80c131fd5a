// TqzKesta: where the product installation lives and how it is set up, one class of static
// operations without state. Every call reads the registry, the environment and the file system
// anew (the registry layer keeps parsed hives cached by file identity, so repeated reads do not
// parse the hive again).
//
// Installation root (GetSysPath), first that gives a non-blank text:
//   1. the machine value "Path" under "SOFTWARE\kesta\System\",
//   2. the environment variable "KESTASYS",
//   3. the folder of the running executable (TqzConsoleTools::ParamStrW(0)).
// The system's extra lookup in a second registry view of 32-bit processes has no meaning here,
// and neither has the memory-allocator switch the system makes when this unit is loaded: nothing
// happens at load.
//
// Paths: every folder text ends with "/" ("cfg/", "sys/temp/"); texts read from the registry or
// the environment are only trimmed and given a trailing "/" (TqzFiles::CheckPathExt). Executable
// and file names of the product ("qzmodule15srv.exe", "qzsyscfg.udl", "FREngine.dll") are kept as
// the product names them.
//
// Settings live under "SOFTWARE\kesta\System\" in HKEY_LOCAL_MACHINE; "DocuMode", "Language" and
// "ThemeActive" may be overridden in HKEY_CURRENT_USER (the machine value is the default of the
// user read). A Boolean setting is a DWORD (non-zero is true) or a text that converts to a
// Boolean ("true"/"false", or a number where non-zero is true); anything else is the default.
#pragma once

#include <cstdint>

#include "Text.h"
#include "qzTypes.h"

class TqzKesta {
 public:
  TqzKesta() = delete;

  // The registry key of the installation settings.
  static constexpr const char16_t* SystemKey = u"SOFTWARE\\kesta\\System\\";

  // ---- Installation -------------------------------------------------------------------------
  // True when the machine value "Path" exists, its folder part exists (the value as read), and
  // the root holds "cfg/qzsyscfg.udl" and "sys/qzmodule15srv.exe".
  static bool IsKestaInstalled();
  // The installation root, ending with "/". Never raises: any failure gives the executable's
  // folder.
  static UnicodeString GetSysPath();

  // ---- The folder tree (root = GetSysPath) ----------------------------------------------------
  static UnicodeString GetConfigPath();      // root + "cfg/"
  static UnicodeString GetBinaryPath();      // root + "sys/"
  static UnicodeString GetPubRootPath();     // root + "sys/pub/"
  static UnicodeString GetSupplyPath();      // root + "sys/pub/supply/"
  static UnicodeString GetBackupPath();      // root + "sys/backup/", created when missing
  static UnicodeString GetPluginsPath();     // root + "sys/plugins/"
  // root + "sys/com/" for Version -1, else root + "sys/com/" + Version + "/".
  static UnicodeString GetComponentPath(int32_t Version = -1);
  static UnicodeString GetLogPath();         // root + "log/"
  static UnicodeString GetBatchLogPath();    // root + "log/batch/"
  // The start parameter "--DebugPath=", else the machine value "DebugPath", else
  // root + "log/debug/" (also when the value is blank).
  static UnicodeString GetDebugPath();
  static UnicodeString GetDataPath();        // root + "data/"
  static UnicodeString GetBlobPath();        // root + "data/blobs/"
  static UnicodeString GetDataBackupPath();  // root + "backup/"
  static UnicodeString GetDocPath();         // root + "doc/"
  static UnicodeString GetPackagesPath();    // root + "packages/"
  // The shared (Common) or the user's local application-data folder + "kesta/"; "kesta/" alone
  // when the folder is unknown.
  static UnicodeString GetAppDataPath(bool Common);
  // Plug-in folders: plugins folder + "upload/", "updates/" or "supply/" + engine word + "/",
  // then the platform text + "/".
  static UnicodeString GetPluginsUploadPath(TqzOSPlatform OSPlatform);
  static UnicodeString GetPluginsUpdatePath(TqzOSPlatform OSPlatform);
  static UnicodeString GetPluginsSupplyPath(TqzOSPlatform OSPlatform, TEngineType EngineType);
  // Local application-data folder + "plugins/work/" + lower-cased service + "-" + instance in
  // three digits + "~~~/" + platform text + "/", created. An empty Service is this library's file
  // name without folder and extension; qzOSP_Unknown follows this library's processor type and
  // raises Exception("unknown cpu platform for runtime application") when that is neither x86
  // nor x64.
  static UnicodeString GetPluginsWorkPath(TqzOSPlatform OSPlatform, const UnicodeString& Service, int32_t InstanceId);
  // Installed: root + "sys/com/ocr/" + engine folder; else the executable's folder + "ocr/" +
  // engine folder.
  static UnicodeString GetOCRDataPath(TqzOCREngine OCREngine);

  // ---- Temporary folders --------------------------------------------------------------------
  // Installed: root + "sys/temp/"; else the user's temporary folder. ServiceSpecific appends the
  // program's technical name + "-" + the start parameter "--instanceid=" in three digits +
  // "~~~/" (a non-numeric instance raises EConvertError). CheckAndCreatePath creates the folder.
  static UnicodeString GetTempPath(bool CheckAndCreatePath, bool ServiceSpecific);
  // A new folder GetTempPath(false, false) + "work-" + new identifier + "~~~/", created.
  static UnicodeString GetTempWorkPath();

  // ---- Settings -----------------------------------------------------------------------------
  static bool IsDocuModeActive();
  // The machine value "Development", or the start parameter "--Debug=" read as a yes-word.
  static bool IsDevModeActive();
  // "Language" (user over machine; default the user's language, else Default), upper-cased.
  static UnicodeString GetLanguage(const UnicodeString& Default);
  static TqzThemeOption IsKestaThemeActive();
  // "ClusterNode"; a negative value gives 0.
  static int32_t GetClusterNode();
  static bool IsProxy();
  static bool IsProxy(UnicodeString& ProxyName);
  static UnicodeString ProxyName();
  // "DatabaseType" (default "MSSQL"), upper-cased; by prefix in common mode, else exactly.
  // Any other text gives Default.
  static TqzDatabaseType GetDatabaseType(bool GetCommonType, TqzDatabaseType Default);

  // ---- Database -----------------------------------------------------------------------------
  // FileLink: "FILE NAME=" + GetConfigPath() + "qzsyscfg.udl"; otherwise the connection string
  // read out of that file (empty when it cannot be read).
  static UnicodeString GetConnectionString(bool FileLink);
  // Installed, and a connection with that file's connection string opens.
  static bool IsDatabaseAvailable();
  // The database type and the server's version texts, e.g. "MSSQL (13.0.5026.0 SP2 Standard
  // Edition (64-bit))"; "Unable to get database version for <type> (<reason>)" on any error.
  static UnicodeString GetDatabaseVersion();

  // ---- Configuration-store keys of the cluster ----------------------------------------------
  static UnicodeString GetN7ClusterNodePath(int32_t ClusterNode);
  static UnicodeString GetN7ClusterNodeServicePath(const UnicodeString& Service, int32_t ClusterNode,
                                                   int32_t InstanceId);

  // ---- Components ---------------------------------------------------------------------------
  static UnicodeString GetFineReaderEnginePath();
  static bool StyleDefinitionExists();
  static UnicodeString GetStyleDefinitionPath();

  // ---- Program ------------------------------------------------------------------------------
  static UnicodeString GetProgramName();
  // The running executable's file name without folder and extension, lower-cased.
  static UnicodeString GetProgramTechName();
  static UnicodeString GetProgramVersionString();
  static UnicodeString GetProductVersion();
  static TqzVersion GetProductTqzVersion();
  static UnicodeString GetProductCopyright();
  // The module's default TCP port; 0 for a value outside the 18 modules.
  static int32_t GetDefaultServicePort(TqzEnterpriseService Service);

  // ---- Priorities (8-bit texts) -------------------------------------------------------------
  static AnsiString GetPriorityStr(int32_t Priority);
  static int32_t GetPriorityFromStr(const AnsiString& Priority);
};
