// The export service's module state and command dispatch behind qzWideExport: one instance per
// loaded library (TExportModule::Global), every command working on it. Tests create their own.
#pragma once

#include <array>
#include <memory>
#include <vector>

#include "Ebcdic.h"
#include "StringList.h"
#include "Text.h"
#include "qzADO.h"

// The settings of the configuration text.
struct TExportConfig {
  UnicodeString DocServer;
  UnicodeString DocServerPort;
  UnicodeString LinkConStr;
  bool CreateLink = false;
  UnicodeString KqfDbConStr;
  UnicodeString KqfDbName = u"KQFD";
  UnicodeString KqfTableName = u"ZDMNNCI";
  UnicodeString KqfBcField;
  UnicodeString BcPrefix;
  UnicodeString Client;
  UnicodeString KqfKeyField = u"ZDMKEY";
  UnicodeString DocType;                    // the trimmed value, as the dialog shows it
  std::vector<UnicodeString> DocTypeList;   // its non-empty trimmed items
  bool ChkPageCount = true;
  bool AllowDoublPc = false;
  bool Unsharp = false;
  bool TestMode = false;
  bool AoEnabled = false;
  UnicodeString AoDbConStr;
  UnicodeString AoTable;
};

// One "ASSIGN" row: Doctype, Field, Arc.Fld Id, DateConvert, Db origin, Curr. Convert,
// Clear Zeros, Length, Add Zeros.
using TAssignRow = std::array<UnicodeString, 9>;
// One "ADDONSELECT" row: Source field (comma list), Target field.
using TAddonSelectRow = std::array<UnicodeString, 2>;

class TExportModule {
 public:
  TExportModule();
  ~TExportModule();
  TExportModule(const TExportModule&) = delete;
  TExportModule& operator=(const TExportModule&) = delete;

  // The one module of the loaded library.
  static TExportModule& Global();

  // Runs one command inside the guard; see qzkqfexport.h for the buffers and results.
  int32_t Execute(int32_t Command, char16_t* Param, int32_t Reserved, char16_t* Msg);

  // Deletes the files of DocumentFileList (failures passed over silently).
  void DeleteDocumentFiles();

  // --- State kept between commands -------------------------------------------------------------
  bool Initialised = false;  // between 100 and 900
  bool Finished = false;     // after 900
  std::unique_ptr<TStringList> DocumentFileList;
  std::unique_ptr<TStringList> IndexList;
  std::unique_ptr<TStringList> BarcodePrefixList;
  std::unique_ptr<platform::DbConnection> KqfConnection;
  std::unique_ptr<TqzADODataSet> MainQuery;
  std::unique_ptr<TqzADODataSet> SupplementQuery;
  std::unique_ptr<platform::DbConnection> LinkConnection;
  std::unique_ptr<TqzADODataSet> LinkQuery;
  std::unique_ptr<platform::DbConnection> AddonConnection;
  std::unique_ptr<TqzADODataSet> AddonQuery;
  std::unique_ptr<TEbcdic> Ebcdic;
  std::vector<TAssignRow> AssignTable;
  std::vector<TAddonSelectRow> AddonSelectTable;

  UnicodeString ArchiveName;
  UnicodeString Title;
  UnicodeString RecordKey;
  UnicodeString Barcode;
  UnicodeString UserName;
  UnicodeString InitText;
  Utf8String ConfigurationString;
  TExportConfig Config;

 private:
  // `param` is the text read from Param for the commands that read one, else empty.
  int32_t Dispatch(int32_t Command, const UnicodeString& param, UnicodeString& output, bool& hasOutput,
                   UnicodeString& message);
  void Init(const UnicodeString& text);
  void Done();
  void AddIndex(const UnicodeString& entry);
};

// The export run of command 600 (the document collected since command 200): result 0, -1 or -2;
// `message` receives the text for the host's message buffer when the run writes one.
int32_t RunExport(TExportModule& module, UnicodeString& message, bool& hasMessage);
