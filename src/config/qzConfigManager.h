// TqzConfigManager: the configuration store. Hierarchical configuration trees kept in one
// database table (default "qz_configuration"): every node and every value is one row.
//
//   column      content
//   ID          32 upper-case hexadecimal digits (TqzTools::CreateId), primary key
//   PARENTID    ID of the node holding the row; empty (or NULL) at the root
//   KEYNAME     the node's or value's name, decoded ("/" stored as "/")
//   DIMENSION   layout V2 only; never written by the store
//   DATATYPE    "TREE" for a node; for a value its type name (GetVarTypeStr, or the writer's)
//   KEYVALUE    the value as its locale-independent storage text (TqzTypes::VarToStrExt)
//   CHANGEUSER  layout V2 only: user of the last tracked change
//   CHANGEDATE  layout V2 only: local time of the last tracked change
//
// The store never creates its table; src/config/sql/ holds the DDL for SQLite and MariaDB.
//
// One class, one header; the definitions are split by concern:
//   qzConfigManager.cpp        construction, the connection and its check thread, the error
//                              convention, statement helpers, change columns
//   qzConfigManagerKeys.cpp    key path forms, node resolution, id -> path, the key cache
//   qzConfigManagerValues.cpp  typed values, change ticks and per-flag signals
//   qzConfigManagerLists.cpp   node lists, the recursive walk, value lists of a node and the
//                              in-memory list helpers
//   qzConfigManagerSubtrees.cpp child-node tests, subtree values, prefixed values, context help
//   qzConfigManagerXml.cpp     node values and child lists as XML configuration texts, key
//                              parts, the namespace test and the short display path
//   qzConfigManagerExport.cpp  export of a subtree as a plain document or a package
//   qzConfigManagerDelete.cpp  deletion of a tree or of a node's values, with backup files
//   qzConfigManagerMaintenance.cpp  rename, search, in-store backups, locale settings
//   qzConfigManagerImport.cpp  package import (files and zip archives) and package information
//   qzConfigManagerServices.cpp the service registry: instance tokens, ready states, service
//                              addresses and tokens, change-event registration, permissions
//
// Error convention of the public operations: on success Message is emptied; on an exception
// Message takes its text, the operation gives its failure result, the connection is checked
// (which may overwrite Message), and the exception is raised again as the base Exception only
// when RaiseExceptions is set. Node resolution retries, then raises whatever RaiseExceptions says.
//
// Decisions where the rules leave room, and sound behaviour where they describe a fault:
//  * The connection status is "1" when the database layer's dead-connection test says the link
//    is alive (DbConnection::LinkAlive). The provider named in messages is the ODBC driver of the
//    connection string.
//  * A failed rebuild leaves the store offline: the failed connection is dropped and every
//    statement raises "not connected" until a later check opens a new one.
//  * The layout probe reads the table's columns (SELECT * on no rows): a missing change column
//    means V1; an error leaves the layout undecided (V1 meanwhile) and the probe runs again after
//    the next successful rebuild.
//  * The key cache compares keys the way the table's KEYNAME collation does: folded to upper case
//    where the table ignores case (SQLite COLLATE NOCASE: ASCII letters; MariaDB *_ci collations:
//    every letter), exactly otherwise. It keeps the first-free-slot, no-insert-when-full and
//    lease-expiry-on-lookup rules and finds entries through hash indexes, so a lookup is O(1).
//  * Walks up PARENTID stop after 256 levels with an error (a looping table cannot hang them).
//  * Nodes are created under a store-wide creation lock (MariaDB: a named lock; SQLite: a write
//    transaction), and re-read under it, so two processes that create one path at once end with
//    one node. The same holds for a new value row.
//  * GetConfigValue, ConfigValueExists and ConfigValueChangedByUser read value rows only, and take
//    a key without "/" as a node id only when it is exactly 32 hexadecimal digits (else as a path).
//  * DeleteConfigValue and DeleteConfigValueById never delete node rows; the alike form escapes
//    "%", "_" and "!" in the name and says ESCAPE '!'.
//  * Values are always stored as VarToStrExt's text (dates "yyyy-mm-dd hh:nn:ss", "." decimals),
//    also with an explicit data type, and the unchanged-write test compares that text.
//  * Per-flag signals: a check remembers the value it read and never writes it back; each flag
//    keeps its own read time.
//  * Re-keying a node (GetParentTreeId with DefKeyId) moves the rows below it to the new id,
//    drops the process's own cache entries for it and signals a structural change.
//  * The check run by the helper thread does not write Message (callers' threads own it). After
//    a failed operation Message keeps the operation's error unless the check finds the
//    connection still offline (then the check's text says so).
//  * A negative cache size from the store counts as 0; 100000 and more as 100000.
//  * Recursive walks down the tree stop after 256 levels with an error, as the walks up do.
//  * Name prefixes in LIKE patterns (GetNodeProperties, GetNodeSubProperties) are matched
//    literally: "%", "_" and "!" are escaped by "!" (ESCAPE '!').
//  * ChildNodesExistsFast answers from the cache only with an unexpired entry whose key begins
//    with the node's key and is longer; everything else goes to the table.
//  * Export builds the file in a temporary file beside the target and renames it over the old one
//    at the end, streaming the document (one node's values held at a time): a failing export
//    (store, disk) leaves an older file untouched and reports false. A failed value read or child
//    listing fails the export instead of leaving parts out of it.
//  * DeleteConfigTree collects the subtree at most 256 levels deep (else an error, nothing
//    deleted) and deletes its rows, children before their nodes, one statement each inside one
//    transaction: a failure deletes nothing. DeleteNodeProperties writes its backup into the
//    installation's backup folder (GetBackupPath), as DeleteConfigTree does.
//  * Renaming drops the renaming process's cache entries of the old path and of every path below
//    it. Search matches "*" and "%" as wildcards and every other character literally (also "_"
//    and "\"): the pattern is escaped by "!" with ESCAPE '!' on every database.
//  * Import checks every file before it writes anything: a package whose "Hash" does not match
//    (over the four header texts as written), a release that is too new, a zip item whose name
//    is empty, absolute or holds "..", or an item larger than MaxPackageItemSize fails the whole
//    import with nothing written. Zip items are read into memory by their base name; items that
//    are not ".xml" files are skipped.
//  * Service registry: a service whose program is another one matches a publishing instance by
//    port only when that port is above 0 and the service stores a "RootPort"; stored instance
//    counts are read as at most 1024. The local machine in fallback addresses is "localhost".
//    PublishPermissionObjects answers true once both listings succeeded.
//  * Package dates ("PackageDate", "Date") are written "yyyy-mm-dd hh:nn:ss" with a fixed ":"
//    and "-", so the "Hash" over the header texts verifies on every machine.
//  * The tick source and the pauses of the open loop and of the rebuild are injectable for tests
//    (SetTickSource, SetPauseFunction).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Database.h"
#include "Exceptions.h"
#include "FormatSettings.h"
#include "XmlDocument.h"
#include "StringList.h"
#include "Text.h"
#include "Variant.h"
#include "qzADO.h"
#include "qzTypes.h"

enum TTableStructureType : uint8_t { TST_V1, TST_V2 };

enum TqzKeyCompareResult : uint8_t {
  qzKCR_NoMatch,
  qzKCR_Identical,
  qzKCR_OneLevelLower,
  qzKCR_MoreThanOneLevelLower
};

// A value type name of at most 8 characters.
using TDataTypeStr = UnicodeString;

struct TConfigCacheRecord {
  UnicodeString Key;  // path in prepared form, as it was stored
  TIdType KeyId;
  uint32_t Ticks = 0;
  bool Active = false;
};
using TConfigCache = std::vector<TConfigCacheRecord>;

struct TDbChangeFlag {
  UnicodeString Flag;
  uint32_t Ticks = 0;     // the value last read for the flag
  uint32_t ReadTicks = 0;  // tick count of that read
  bool Read = false;       // read at least once
};
using TDbChangeFlags = std::vector<TDbChangeFlag>;

using TCheckCallBackProc = std::function<void()>;

// One listed node. Key: prepared form ("a/b/c/"); Name: the encoded key part; RelKey: the key
// relative to the listing's starting point, without "/" at either end.
struct TConfigNode {
  TIdType Id;
  UnicodeString Name;
  UnicodeString Key;
  UnicodeString RelKey;
};
using TConfigNodes = std::vector<TConfigNode>;

// One value of a node, as GetNodeProperties reads it or the list helpers set it.
struct TProperty {
  TIdType Id;
  UnicodeString Name;
  UnicodeString SubName;
  UnicodeString SORTL;      // Name upper-cased: every lookup by name compares with it
  uint32_t SORTLN = 0;      // Name (GetNodeSubProperties: SubName) as a number, 0 when none
  UnicodeString Dimension;
  TDataTypeStr DataType;
  Variant Value;
  std::vector<Variant> Values;
  UnicodeString User;
  TDateTime Changed = 0;
  UnicodeString Path;       // visible key of the node read (shortened by relative paths)
};
using TProperties = std::vector<TProperty>;

// One hit of Search: the row's id, the value's name (empty for a node), the visible key of the
// node (for a value: of the node holding it) and a snippet of the row's text.
struct TSearchResult {
  TIdType Id;
  UnicodeString Name;
  UnicodeString Key;
  UnicodeString Value;
};
using TSearchResults = std::vector<TSearchResult>;

// One node of a package file, for display before an import.
struct TqzPackageNode {
  UnicodeString NodeName;  // prepared key form
  bool Complete = true;
  bool RootNode = false;   // the root of its "Content"
  bool HasSubNodes = false;
  TWideStringArray Properties;
};

enum TContextHelpArea : uint8_t { CH_System, CH_Customer, CH_None };

// Called with the visible key (of a node, or of a node and "/" and a value) being worked on.
using TProgressCallBackProc = std::function<void(const UnicodeString&)>;

enum TqzExportFormatVersion : uint8_t { qzEFV_Unknown, qzEFV_V1_2, qzEFV_V1_3, qzEFV_V1_4, qzEFV_V1_5 };

enum TqzPackageDescriptionType : uint8_t { qzPDT_Unknown, qzPDT_PlainText, qzPDT_MarkDown, qzPDT_RichText };

// The header of an export or package file.
struct Tn7PackageInformation {
  UnicodeString FileName;
  TIdType Id;
  TIdType Hash;
  UnicodeString Name;
  TDateTime Date = 0;
  bool IsPackage = false;
  TqzVersion Version{};
  TqzVersion ReleaseRequired{};
  TqzExportFormatVersion FormatVersion = qzEFV_Unknown;
  UnicodeString Description;
  TqzPackageDescriptionType DescriptionType = qzPDT_Unknown;
  std::vector<TqzPackageNode> NodeList;
};

// The connection-check thread: about once a second it counts a tick, and every AdoCheckInterval
// ticks it calls CheckCallBackProc. Terminate() wakes it at once.
class THelperThread {
 public:
  THelperThread(uint32_t adoCheckInterval, TCheckCallBackProc callback);
  ~THelperThread();
  THelperThread(const THelperThread&) = delete;
  THelperThread& operator=(const THelperThread&) = delete;

  void Start();
  // Asks the thread to end and waits for it (a check in progress runs to its end).
  void Terminate();

  TCheckCallBackProc CheckCallBackProc;

 private:
  void Execute();

  uint32_t TimerTicks = 0;
  uint32_t AdoCheckInterval = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool terminated_ = false;
};

class TqzConfigManager {
 public:
  // Connects to the table (UserConStr empty: the installation's data-link file). With n7Init the
  // class nodes are resolved and the cache settings are read from the store.
  TqzConfigManager(bool n7Init, const UnicodeString& UserConStr, const UnicodeString& TableName);
  ~TqzConfigManager();
  TqzConfigManager(const TqzConfigManager&) = delete;
  TqzConfigManager& operator=(const TqzConfigManager&) = delete;

  // ---- Public fields ------------------------------------------------------------------------
  UnicodeString Message;
  AnsiString Version = "5.4.0";
  UnicodeString CfgTabName;
  bool BackupChanges = true;
  int32_t CacheSize = 1000;
  uint32_t CacheLeaseTime = 600000;  // ms
  uint32_t CacheCheckTime = 5000;    // ms
  bool CacheEnabled = true;
  bool RaiseExceptions = false;
  UnicodeString Username;
  TTableStructureType TableStructureType = TST_V1;
  bool TrackChanges = false;
  TIdType KId_ClassesStyleIcons;
  TIdType KId_ClassesContextHelpSys;
  TIdType KId_ClassesContextHelpCus;
  TIdType KId_ClassesStatus;
  TIdType KId_ClassesLocale;

  // ---- Connection, layout, errors -----------------------------------------------------------
  bool IsConnected();
  bool CheckADOConnection();
  TTableStructureType GetTableStructureType();
  bool ExtendRecord(TqzADODataSet& ADODataSet);
  bool ExtendRecord(TqzADODataSet& ADODataSet, const UnicodeString& Username, TDateTime Date,
                    bool ForceTrackChanges);
  static bool IsTIdStringEmpty(const TIdType& Id);
  void RaiseException(const UnicodeString& MyMessage);
  void WStringCheckCallBackProc();
  static UnicodeString N7PathToWindowsPath(const UnicodeString& Path);

  // ---- Key forms ------------------------------------------------------------------------------
  static UnicodeString PrepareKey(const UnicodeString& Key);
  static UnicodeString Convert2VisKey(const UnicodeString& Key);
  static UnicodeString Convert2NamedRelKey(const UnicodeString& Key);
  static UnicodeString EncodeKeyPart(const UnicodeString& KeyPart);
  static UnicodeString DecodeKeyPart(const UnicodeString& KeyPart);
  static UnicodeString GetNextLowerKey(const UnicodeString& Key);
  static TqzKeyCompareResult CompareKeys(const UnicodeString& Key1, const UnicodeString& Key2);

  // ---- Node resolution ------------------------------------------------------------------------
  TIdType GetParentTreeId(const UnicodeString& Key, bool Create, bool ForceLoad);
  TIdType GetParentTreeId(const UnicodeString& Key, const TIdType& DefKeyId, bool Create);
  UnicodeString GetKeyNameByNodeId(const TIdType& NodeId);

  // ---- Key cache ------------------------------------------------------------------------------
  bool InitCache();
  bool ResetCache();
  bool GetCacheKeyId(const UnicodeString& Key, TIdType& KeyId, bool CheckState);
  bool GetCacheKeyById(const TIdType& KeyId, UnicodeString& Key);
  bool SetCacheKeyId(const UnicodeString& Key, const TIdType& KeyId);
  bool RemoveKeyFromCache(const UnicodeString& Key);
  bool RemoveKeyIdFromCache(const TIdType& KeyId);

  // ---- Values ---------------------------------------------------------------------------------
  bool SetConfigValue(const UnicodeString& Key, const UnicodeString& VarName, const Variant& Value);
  bool SetConfigValue(const UnicodeString& Key, const UnicodeString& VarName, const Variant& Value,
                      bool KeepUserContent);
  bool SetConfigValue(const UnicodeString& Key, const UnicodeString& VarName, const Variant& Value,
                      const TDataTypeStr& DataType);
  // A type name written as a literal is a type name (without this, u"INT" would turn into the
  // Boolean KeepUserContent).
  bool SetConfigValue(const UnicodeString& Key, const UnicodeString& VarName, const Variant& Value,
                      const char16_t* DataType) {
    return SetConfigValue(Key, VarName, Value, TDataTypeStr(DataType ? DataType : u""));
  }
  bool SetConfigValue(const UnicodeString& Key, const UnicodeString& VarName, const Variant& Value,
                      const TDataTypeStr& DataType, bool KeepUserContent);
  bool SetConfigValue(const UnicodeString& Key, const UnicodeString& VarName, const Variant& Value,
                      const TDataTypeStr& DataType, const UnicodeString& User, TDateTime Date,
                      bool ForceTrackChanges);
  Variant GetConfigValue(const UnicodeString& Key, const UnicodeString& VarName,
                         const Variant& Default, bool Create);
  Variant GetConfigValueById(const TIdType& Id, const Variant& Default, bool Raw);
  bool ConfigValueExists(const UnicodeString& Key, const UnicodeString& VarName);
  bool ConfigValueChangedByUser(const UnicodeString& Key, const UnicodeString& VarName);
  bool DeleteConfigValue(const UnicodeString& Key, const UnicodeString& VarName, bool DeleteAlike);
  bool DeleteConfigValueById(const TIdType& PropertyId);

  // ---- Change ticks ---------------------------------------------------------------------------
  bool SetDatabaseChangeState();
  bool CheckDatabaseChangeState();
  bool SetSpecificDatabaseChangeState(const UnicodeString& Flag);
  bool CheckSpecificDatabaseChangeState(const UnicodeString& Flag);

  // ---- Node and value lists ----------------------------------------------------------------
  bool GetChildNodes(const UnicodeString& Key, TConfigNodes& NodeList, bool Create);
  bool GetRootNodes(TConfigNodes& NodeList);
  bool GetRecursiveChildNodes(const UnicodeString& RootKey, TConfigNodes& NodeList, bool AddParentNodes,
                              bool AddRootNodes, bool AddRootKey);
  static bool SortNodes(TConfigNodes& NodeList);
  bool NodeExists(const UnicodeString& Key, bool CanCreate);
  // ValueSeparator has no effect.
  bool GetNodeProperties(const UnicodeString& Key, TProperties& Properties, bool WithValues, bool Raw,
                         bool CanCreate, const UnicodeString& PropertyPrefix, const AnsiString& ValueSeparator,
                         bool ExtendList, bool WithBinaries, bool AllowDuplicates);
  static int32_t GetPropertyIdByName(const UnicodeString& Name, const TProperties& Properties);
  Variant GetPropertyValueByName(const UnicodeString& Name, const Variant& Default, TProperties& Properties,
                                 bool Extend);
  static Variant GetPropertyValueByName(const UnicodeString& Name, const Variant& Default, const TProperties& Properties,
                                        const TProperties& DefaultProperties);
  // True when the name existed (and was updated), false when an entry was appended.
  bool SetPropertyValueByName(const UnicodeString& Name, const UnicodeString& SubName, const Variant& Value,
                              TProperties& Properties);
  bool SetPropertyValueByName(const UnicodeString& Name, const Variant& Value, TProperties& Properties);
  static bool DeletePropertyValueByName(const UnicodeString& Name, TProperties& Properties);

  // ---- Node tests, subtree values, context help ---------------------------------------------
  bool ChildNodesExists(const UnicodeString& Key);
  bool ChildNodesExistsFast(const TIdType& ParentId);
  bool IsNodeEmpty(const UnicodeString& Key);
  bool GetRecursiveNodeProperties(const UnicodeString& Key, TProperties& Properties, bool WithValues,
                                  bool AddRelativePaths);
  bool GetNodeSubProperties(const UnicodeString& Key, TProperties& Properties, const UnicodeString& PropertyPrefix,
                            bool WithValues, bool NumSort);
  bool SaveNodeProperties(const UnicodeString& Key, TProperties& Properties, bool ForceDataType,
                          bool UsePropertyPath, const TProgressCallBackProc& CallBack);
  bool Check4ContextHelp(const UnicodeString& Key, UnicodeString& HelpBuffer, TContextHelpArea& CHArea);

  // ---- Node XML strings, key parts, namespace test, short path ------------------------------
  AnsiString GetNodeXML(const UnicodeString& Key);
  AnsiString GetNodesXML(const UnicodeString& Key, bool Recursive, bool RelativeNames, bool JustNames);
  bool SaveNodeXML(const UnicodeString& Key, const AnsiString& XML);
  static bool GetNodeParts(const UnicodeString& Key, TStrings& NodeParts);
  static UnicodeString GetTopNodeName(const UnicodeString& Key);
  static bool IsNameSpaceNode(const UnicodeString& Key);
  static UnicodeString GetShortPath(const UnicodeString& Path, int32_t MaxLen);

  // ---- Package export ---------------------------------------------------------------------
  // Writes the subtree below RootKey into FileName (extension made ".xml"): a plain document, or
  // a package (AsPackage), appended as one more "Content" to an existing package file unless
  // OverwritePackage. ValidProperties, when given, lists the only value names written.
  bool Export(const UnicodeString& RootKey, const UnicodeString& FileName, bool SubNodes, bool AsPackage,
              const UnicodeString& PackageName, const UnicodeString& PackageVersion, const UnicodeString& InfoText,
              bool OverwritePackage, TCharEncodeType Encoding, const TProgressCallBackProc& CallBack,
              const TStrings* ValidProperties, TqzPackageDescriptionType InfoTextType, bool PWProtectScripts,
              const AnsiString& ScriptPassword, bool IncludeChangeInfos, const UnicodeString& ReleaseRequired,
              TqzExportFormatVersion FormatVersion);
  static TqzExportFormatVersion GetExportFormatVersion(const UnicodeString& Version);
  static UnicodeString GetExportFormatVersionStr(TqzExportFormatVersion Version);
  static TqzPackageDescriptionType GetPackageDescriptionType(const UnicodeString& DType);
  static UnicodeString GetPackageDescriptionTypeStr(TqzPackageDescriptionType DType);
  // The package "Hash": MD5 hex digest of the UTF-8 bytes (each UTF-16 code unit encoded on its
  // own) of the four header texts joined in this order.
  static AnsiString GetPackageHash(const UnicodeString& PackageName, const UnicodeString& PackageVersion,
                                   const UnicodeString& PackageId, const UnicodeString& PackageDate);
  // A date-time as "yyyy-mm-dd hh:nn:ss" with a fixed "-" and ":".
  static UnicodeString PackageDateText(TDateTime Value);

  // ---- Deletion with backups -----------------------------------------------------------------
  bool DeleteConfigTree(const UnicodeString& Key);
  bool DeleteNodeProperties(const UnicodeString& Key);

  // ---- Rename, search, in-store backups, locale settings ---------------------------------------
  bool RenameKeyById(const TIdType& KeyId, const UnicodeString& NewName);
  bool RenameKey(const UnicodeString& Key, const UnicodeString& NewName);
  // MaxHits 0 or less: no limit.
  bool Search(const UnicodeString& Value, int32_t MaxHits, TSearchResults& Results);
  // Copies the named values of Key into a new dated node below "/kesta/Classes/Backups", after
  // pruning the older non-persistent backups to MaxBackups (no pruning for a negative MaxBackups).
  bool CreateBackup(const UnicodeString& Key, const TStrings& Properties, const UnicodeString& Comment,
                    int32_t MaxBackups, bool Persistent);
  // The user's locale settings with the formats and separators kept in the store's locale node
  // (missing ones are written there from the locale first).
  platform::TFormatSettings GetN7FormatSettings();

  // ---- Package import and information -------------------------------------------------------
  // Imports an export or package file, or every ".xml" item of a ".zip" archive; true when every
  // file was imported.
  bool Import(const UnicodeString& RootKey, const UnicodeString& FileName, UnicodeString& InfoText,
              const TProgressCallBackProc& CallBack, bool Overwrite, bool UploadPackageData, bool OnlyNodeCallback,
              bool KeepUserContent, bool IgnoreReleaseWarning);
  Tn7PackageInformation GetPackageInformation(platform::XmlDocument& XMLDoc);
  Tn7PackageInformation GetPackageInformation(const UnicodeString& FileName);
  Tn7PackageInformation GetPackageDetails(const UnicodeString& FileName, bool IncludeProperties);
  bool GetPackageDetails(const UnicodeString& FileName, bool& IsPackage, UnicodeString& InfoText,
                         UnicodeString& InfoTextType, UnicodeString& PackageName, UnicodeString& PackageVersion,
                         UnicodeString& PackageId, std::vector<TqzPackageNode>& NodeList);
  // Largest item of a zip archive that Import unpacks (bytes).
  uint64_t MaxPackageItemSize = uint64_t{256} << 20;

  // ---- Service registry ------------------------------------------------------------------------
  bool PublishPermissionObjects(const UnicodeString& SourcePath, const UnicodeString& PermissionObject,
                                bool SingleInstance, bool CheckActiveState);
  bool PublishInstanceToken(const TIdType& Token, int32_t InstanceId, int32_t InstancePort);
  bool PublishReadyState(int32_t InstanceId);
  bool ResetReadyStates(int32_t ClusterNode);
  int32_t CheckReadyStates(int32_t ClusterNode);
  bool RegisterServiceToChangeEvent(const UnicodeString& ChangeEvent, const UnicodeString& InstanceToken);
  UnicodeString GetServiceUrl(TqzEnterpriseService Service, int32_t ClusterNode, int32_t InstanceId);
  UnicodeString GetServiceToken(TqzEnterpriseService Service, int32_t ClusterNode, int32_t InstanceId);

  // ---- Diagnostics ----------------------------------------------------------------------------
  // Statements this object has sent: all of them, and those that wrote (INSERT, UPDATE, DELETE).
  struct TqzStatementCounts {
    uint64_t Statements = 0;
    uint64_t Writes = 0;
  };
  TqzStatementCounts StatementCounts() const { return {statements_.load(), writes_.load()}; }

  // ---- Time sources (process-wide; tests replace them, an empty function restores) ------------
  // The tick count in ms (default: TqzTools::GetTickCount).
  static void SetTickSource(std::function<uint32_t()> source);
  // The pauses of the open loop (5000 ms) and of a rebuild (1000 ms).
  static void SetPauseFunction(std::function<void(uint32_t)> pause);

 private:
  // ---- Statement helpers (every file of the class uses them) ---------------------------------
  using TqzParams = std::vector<std::pair<UnicodeString, Variant>>;

  // A query on the shared data set: takes DatabaseLock, opens the statement with its
  // parameters, and closes the data set when it goes. Raises "not connected" when offline.
  class TqzQuery {
   public:
    TqzQuery(TqzConfigManager& store, const UnicodeString& sql, const TqzParams& params);
    ~TqzQuery();
    TqzQuery(const TqzQuery&) = delete;
    TqzQuery& operator=(const TqzQuery&) = delete;
    TqzADODataSet& operator*() { return *data_; }
    TqzADODataSet* operator->() { return data_; }
    bool Found() const { return !data_->IsEmpty(); }
    // Post with the write counted.
    void Post();

   private:
    TqzConfigManager& store_;
    std::unique_lock<std::recursive_mutex> lock_;
    TqzADODataSet* data_;
  };

  // Runs a statement without result through the command object, under DatabaseLock; the rows it
  // changed.
  int64_t ExecCommand(const UnicodeString& sql, const TqzParams& params);
  // "SELECT * FROM <table> " + tail, the statement form most operations use.
  UnicodeString SelectFrom(const UnicodeString& tail) const;
  // The checked table name (letters, digits, "_", "$", "#", "."); raises otherwise.
  const UnicodeString& Table() const;
  // Runs body under the store-wide creation lock (see the header comment); the caller holds
  // DatabaseLock.
  void WithCreationLock(const std::function<void()>& body);
  // The error convention around an operation's body.
  template <class R, class F>
  R Guarded(R failure, F&& body);
  void HandleError(const UnicodeString& text);

  // ---- Small helpers the definitions share ------------------------------------------------------
  // A row id as a statement parameter (its text, UTF-16).
  static Variant IdVariant(const TIdType& id);
  // The id held in an ID or PARENTID field's text (blanks trimmed).
  static TIdType IdOfText(const UnicodeString& text);
  // A stored flag: a Boolean as it is, anything else by its storage text (StrToBool's yes-words).
  static bool ValueIsTrue(const Variant& v);
  // The deepest level walks down or up the tree accept: deeper is an error (a PARENTID loop).
  static constexpr int kMaxTreeLevels = 256;

  // ---- Connection ------------------------------------------------------------------------------
  void OpenConnection(bool withLoop);
  UnicodeString ConnectionStatus();
  UnicodeString ProviderName() const;
  // The connection check; its text goes to Message when setMessage, and to *text when given.
  bool RunConnectionCheck(bool setMessage, UnicodeString* text = nullptr);
  void ProbeDialect();
  void InitClassNodeIds(bool Force);
  static uint32_t Ticks();
  static void Pause(uint32_t ms);
  TIdType NewId() const;

  // ---- Keys and cache --------------------------------------------------------------------------
  // The cache's comparison form of a prepared key (folded as the table's collation folds).
  UnicodeString CacheFold(const UnicodeString& preparedKey) const;
  // The node id of an operation's key: a path, or (where allowed) a 32-digit node id.
  TIdType NodeIdOfKey(const UnicodeString& Key, bool Create, bool AllowId);
  static bool IsNodeIdText(const UnicodeString& Key);
  TIdType WalkPath(const UnicodeString& prepared, bool Create, bool& usePrefixCache);
  // The node row of that name below parent (the root when parent is empty); with Create a
  // missing one is made, with newId when given.
  TIdType FindOrCreateNode(const UnicodeString& name, const TIdType& parent, bool Create,
                           const TIdType& newId = TIdType());
  UnicodeString NodeLookupSql(const TIdType& parent) const;
  void FreeCacheSlot(std::size_t slot);
  bool LookupCache(const UnicodeString& preparedKey, TIdType& KeyId);

  // ---- Lists ---------------------------------------------------------------------------------
  // The child nodes of the node with this id (the root for an empty id: roots), appended in
  // KEYNAME order, each keyed below parentKey (prepared form) and entered into the key cache.
  void ListChildNodes(const TIdType& parentId, const UnicodeString& parentKey, bool roots, TConfigNodes& NodeList);
  // The values of the node with this id appended to Properties as GetNodeProperties describes
  // (the list already emptied by the caller unless it extends); raises on a failed statement.
  // With TextsLeftOut (values read) the rows of data type "BINARY" come without their text, and
  // (*TextsLeftOut)[i] tells whether entry i is such a row: a caller that handles large binaries
  // one at a time reads each with ReadValueText.
  void ReadNodeProperties(const TIdType& id, const UnicodeString& visKey, TProperties& Properties, bool WithValues,
                          bool Raw, const UnicodeString& PropertyPrefix, bool ExtendList, bool WithBinaries,
                          bool AllowDuplicates, std::vector<bool>* TextsLeftOut = nullptr);
  // The stored text (KEYVALUE) of the row with this id; false when there is no such row.
  bool ReadValueText(const TIdType& id, UnicodeString& Text);
  // The child test statement of the connection's dialect.
  bool ChildTest(const TIdType& parentId);
  // "%", "_" and "!" escaped by "!" for a LIKE pattern with ESCAPE '!'.
  static UnicodeString EscapeLike(const UnicodeString& text);
  class TqzExportWriter;
  // The header of a loaded file into Info; false (Message set) for a wrong root or a hash that
  // does not match.
  bool ReadPackageInformation(platform::XmlDocument& XMLDoc, Tn7PackageInformation& Info);
  // Local time as "yyyymmddhhnnsszzz" (backup names).
  static UnicodeString StampText(TDateTime Value);
  // The ids of every row below the node (children after their node), at most 256 levels deep.
  void CollectSubtreeIds(const TIdType& nodeId, std::vector<TIdType>& ids, int level);

  // ---- Values ----------------------------------------------------------------------------------
  bool WriteValue(const UnicodeString& Key, const UnicodeString& VarName, const Variant& Value,
                  const UnicodeString& typeName, const UnicodeString& compareType, bool compare,
                  const std::function<void(TqzADODataSet&)>& extend);
  static uint32_t TicksOfValue(const Variant& v);

  // ---- Fields ----------------------------------------------------------------------------------
  std::unique_ptr<platform::DbConnection> ADOConnection;
  std::unique_ptr<TqzADODataSet> ADODataSet;
  std::unique_ptr<platform::DbCommand> ADOCommand;
  UnicodeString ConnectionString;
  bool n7Mode = false;
  std::recursive_mutex DatabaseLock;
  std::recursive_mutex CacheLock;
  std::unique_ptr<THelperThread> HelperThread;
  TConfigCache ConfigCache;
  uint32_t LastDbChangeTicks = 0;
  uint32_t LastDbChangeTicksTest = 0;
  TDbChangeFlags DbChangeFlags;
  int32_t MaxDbRetry = 2;
  TqzDatabaseType DatabaseType = qzDBT_MSSQL;
  int32_t ADOConCheckCount = 0;

  int32_t conTimeout_ = 120;      // seconds: login time-out and bound of the open loop
  int32_t conCmdTimeout_ = 180;   // seconds: the connection's command time-out
  int32_t dataCmdTimeout_ = 120;  // seconds: the data set's command time-out
  int32_t checkInterval_ = 1800;  // helper-thread ticks between checks
  bool online_ = false;           // statements may run (false after a failed rebuild)
  bool layoutKnown_ = false;      // the layout probe has decided
  bool dialectKnown_ = false;
  bool mariaDb_ = false;          // MariaDB/MySQL: named locks
  bool sqlite_ = false;           // SQLite: write transactions
  int creationDepth_ = 0;         // WithCreationLock bodies running (the lock is held)
  enum class Fold : uint8_t { Exact, Ascii, Unicode };
  std::atomic<Fold> fold_{Fold::Exact};
  // Cache indexes: comparison key -> slot, id -> slots, free slots in order.
  std::unordered_map<UnicodeString, std::size_t> keyIndex_;
  std::unordered_multimap<AnsiString, std::size_t> idIndex_;
  std::vector<UnicodeString> slotFold_;
  std::set<std::size_t> freeSlots_;
  std::atomic<uint64_t> statements_{0};
  std::atomic<uint64_t> writes_{0};
};

template <class R, class F>
R TqzConfigManager::Guarded(R failure, F&& body) {
  try {
    R result = body();
    Message.clear();
    return result;
  } catch (const Exception& e) {
    HandleError(e.Message);
    return failure;
  }
}
