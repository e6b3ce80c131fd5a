// Shared records and enumerations of the library, with their text forms.
//
// Every subsystem exchanges these declarations: identifiers, rectangles on a page, version numbers,
// document fields and files, recognised metadata, URL parameters, hit lists, IP addresses, the
// archive protocol's parameter items, and the enumerations of log kinds, database products,
// platforms, service modules and the like.
//
// Enumerations are unscoped with their value names as the system spells them (qzDBT_MSSQL ...);
// their ordinal values start at 0 in the order declared, and stored data relies on that order.
//
// `TqzTypes` (a class of static operations only) turns the enumerations into texts and back,
// converts Variants to and from their storage texts, JSON texts and BSON values, writes and reads
// sets and rectangles as comma lists. None of the text-form operations raise.
//
// Decisions where the rules leave room:
//  * The storage texts of dates (VarToStrExt, VarToJSONStrExt) are locale-independent: "-" in
//    dates and ":" in times always, so a value written under one locale reads back under any.
//  * VarToInt64 keeps the full 64-bit range for the integer kinds 16, 18, 19 and 21 (a LongWord
//    above 2^31 converts); only an unsigned value beyond the signed range raises EVariantError.
//  * Variants hold their values directly: there are no by-reference Variants to follow.
//  * A storage text of code 4, 5 or 6 reads back as a double, so a currency value keeps its four
//    decimals exactly only within the 15 significant digits of a double.
#pragma once

#include <algorithm>
#include <array>
#include <compare>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <bson/bson.h>

#include "Text.h"
#include "Variant.h"

// ---------------------------------------------------------------------------------------------
// Identifier and text arrays

// An identifier of at most 32 8-bit characters (the 32 hexadecimal digits of a new GUID).
// Like the short string it stands for, a longer text is cut to its first 32 characters.
class TIdType {
 public:
  static constexpr std::size_t MaxLength = 32;

  TIdType() = default;
  TIdType(std::string_view s) : value_(s.substr(0, std::min(s.size(), MaxLength))) {}
  TIdType(const char* s) : TIdType(std::string_view(s ? s : "")) {}
  TIdType(const AnsiString& s) : TIdType(std::string_view(s)) {}

  operator const AnsiString&() const { return value_; }
  const AnsiString& str() const { return value_; }
  std::size_t size() const { return value_.size(); }
  std::size_t length() const { return value_.size(); }
  bool empty() const { return value_.empty(); }

  friend bool operator==(const TIdType& a, const TIdType& b) { return a.value_ == b.value_; }
  friend auto operator<=>(const TIdType& a, const TIdType& b) { return a.value_ <=> b.value_; }

 private:
  AnsiString value_;
};

// Lists of date formats of the date tools.
using TStringArray = std::vector<UnicodeString>;
// Result of TqzTypes::VarArrayAsStringArray; package node properties of the configuration store.
using TWideStringArray = std::vector<UnicodeString>;

// ---------------------------------------------------------------------------------------------
// Rectangles

// A zone on a page; the values are stored as given, no unit is implied.
struct TRelRect {
  double Left = 0, Top = 0, Right = 0, Bottom = 0, Width = 0, Height = 0;
};

struct TAdvRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0, Width = 0, Height = 0;
};

// The platform rectangle (Windows layout): width is Right - Left, height is Bottom - Top.
struct TRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  int32_t Width() const { return Right - Left; }
  int32_t Height() const { return Bottom - Top; }
};

// ---------------------------------------------------------------------------------------------
// Enumerations (ordinal order matters)

enum TFileTimes : uint8_t { ftLastAccess, ftLastWrite, ftCreation };

enum TFileAge : uint8_t { faYounger, faOlder };

enum TCharEncodeType : uint8_t { qzCE_UTF8, qzCE_UTF16 };

enum TqzDataOrigin : uint8_t { qzDO_Database, qzDO_FileSystem, qzDO_Conversion, qzDO_Unknown, qzDO_TempData };

enum TqzSchemeFieldType : uint8_t {
  qzSFT_Editbox, qzSFT_Checkbox, qzSFT_Combobox, qzSFT_Memobox, qzSFT_Datebox, qzSFT_Separator
};

enum TqzLogInfoType : uint8_t {
  qzLog_Info, qzLog_Error, qzLog_Warning, qzLog_Success, qzLog_Debug, qzLog_Trace, qzLog_Process,
  qzLog_Startup, qzLog_Shutdown, qzLog_Critical, qzLog_Note, qzLog_User, qzLog_Verify, qzLog_Create,
  qzLog_Modify, qzLog_Delete, qzLog_Input, qzLog_Blob, qzLog_Meta, qzLog_Subject, qzLog_Register,
  qzLog_Import, qzLog_Export, qzLog_Unknown
};

enum TqzLogOriginType : uint8_t { qzLOT_System, qzLOT_User };

// The third value carries the prefix "cx", as the system names it.
enum TqzSortOrder : uint8_t { qzSO_Ascending, qzSO_Descending, cxSO_None };

enum TqzDatabaseType : uint8_t {
  qzDBT_Unknown, qzDBT_N7, qzDBT_MSSQL, qzDBT_MSSQL2000, qzDBT_MSSQL2005, qzDBT_MSSQL2008,
  qzDBT_MSSQL2012, qzDBT_MSSQL2014, qzDBT_MSSQL2016, qzDBT_MySQL, qzDBT_Oracle, qzDBT_DB2,
  qzDBT_Informix
};

enum TqzTransactionType : uint8_t { qzTT_Begin, qzTT_Commit, qzTT_RollBack };

enum TqzThemeOption : uint8_t { qzTO_Unknown, qzTO_Enabled, qzTO_Disabled };

enum TqzFieldDataType : uint8_t {
  qzFDT_Text, qzFDT_VarChar, qzFDT_Date, qzFDT_Numeric, qzFDT_Float, qzFDT_Currency, qzFDT_Boolean
};

// Maps one to one, in the same order, onto the cipher's own list of URL encodings.
enum TqzEncoding : uint8_t {
  qzENC_None, qzENC_Base64, qzENC_Strong, qzENC_Mega, qzENC_KQF, qzENC_Service, qzENC_Internal
};

enum TqzOCREngine : uint8_t {
  qzOCR_Unknown, qzOCR_FineReader, qzOCR_Transym, qzOCR_Tesseract, qzOCR_MSO, qzOCR_Nicomsoft
};

enum TqzRecognitionEngine : uint8_t {
  qzRE_Unknown, qzRE_Amyuni, qzRE_Orpalis, qzRE_FineReader, qzRE_Transym, qzRE_Tesseract,
  qzRE_Nicomsoft, qzRE_FreeOCR
};

enum TqzSQLQueryType : uint8_t { qzSQT_SELECT, qzSQT_INSERT, qzSQT_UPDATE, qzSQT_DELETE };

enum TqzCPUPlatform : uint8_t { qzCPU_x86, qzCPU_x64, qzCPU_Unknown };

enum TqzOSPlatform : uint8_t {
  qzOSP_Unknown, qzOSP_Common, qzOSP_Win32, qzOSP_Win64, qzOSP_None, qzOSP_Linux32, qzOSP_Linux64
};

enum TqzHTTPHeaderType : uint8_t { qzHHT_Custom, qzHHT_Raw };

// The 18 service modules of the product family; qzESVC_Module15 is the main daemon.
enum TqzEnterpriseService : uint8_t {
  qzESVC_Module01, qzESVC_Module02, qzESVC_Module03, qzESVC_Module04, qzESVC_Module05,
  qzESVC_Module06, qzESVC_Module07, qzESVC_Module08, qzESVC_Module09, qzESVC_Module10,
  qzESVC_Module11, qzESVC_Module12, qzESVC_Module13, qzESVC_Module14, qzESVC_Module15,
  qzESVC_Module16, qzESVC_Module17, qzESVC_Module18
};

enum TqzHTTPCommands : uint8_t {
  qzHC_Unknown, qzHC_None, qzHC_Head, qzHC_Get, qzHC_Post, qzHC_Delete, qzHC_Put, qzHC_Trace,
  qzHC_Option, qzHC_Options, qzHC_Patch, qzHC_Copy, qzHC_Lock, qzHC_Unlock, qzHC_Mkcol, qzHC_Move,
  qzHC_Propfind, qzHC_Proppatch, qzHC_Link, qzHC_Unlink, qzHC_Purge, qzHC_View
};

enum TqzCryptingMethod : uint8_t { qzCM_None, qzCM_3DES, qzCM_AES256 };

enum TqzPDFConformance : uint8_t {
  qzPDF_Unknown, qzPDF_Common, qzPDF_A_1a, qzPDF_A_1b, qzPDF_A_2a, qzPDF_A_2b, qzPDF_A_2u,
  qzPDF_A_3a, qzPDF_A_3b, qzPDF_A_3u, qzPDF_UA_1, qzPDF_1_0, qzPDF_1_1, qzPDF_1_2, qzPDF_1_3,
  qzPDF_1_4, qzPDF_1_5, qzPDF_1_6, qzPDF_1_7, qzPDF_2_0
};

enum TqzWindowsVersion : uint8_t {
  qzWV_Unknown, qzWV_WinNT, qzWV_Win2000, qzWV_WinXP, qzWV_WinVista, qzWV_Win7, qzWV_Win8,
  qzWV_Win8_1, qzWV_Win10, qzWV_WinServer2003, qzWV_WinServer2003R2, qzWV_WinServer2008,
  qzWV_WinServer2008R2, qzWV_WinServer2012, qzWV_WinServer2012R2, qzWV_WinServer2016
};

enum TqzVersionComparison : uint8_t { qzVC_Unknown, qzVC_Identical, qzVC_Older, qzVC_Newer };

enum TEngineType : uint8_t {
  qzET_Unknown, qzET_ExportService, qzET_ConversionEngine, qzET_UserExit, qzET_RecognitionEngine,
  qzET_ImportEngine, qzET_WorkerEngine
};

enum TqzIPType : uint8_t { qzIPv4, qzIPv6, qzIPUnknown };

// The platform's thread priority, which has a text form here.
enum TThreadPriority : uint8_t {
  tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical
};

// ---------------------------------------------------------------------------------------------
// Records (each "list" type is a vector of the record before it)

// A four-part version number, compared part by part from Major to Build.
struct TqzVersion {
  uint32_t Major = 0, Minor = 0, Revision = 0, Build = 0;
  friend bool operator==(const TqzVersion&, const TqzVersion&) = default;
};

// The strings of a file's version resource.
struct TqzFileInfo {
  UnicodeString CompanyName, FileDescription, FileVersion, InternalName, LegalCopyright,
      LegalTrademarks, OriginalFilename, ProductName, ProductVersion, Comment;
  friend bool operator==(const TqzFileInfo&, const TqzFileInfo&) = default;
};

// One further candidate value of a recognised field.
struct TqzAlternativeValue {
  UnicodeString Value;   // the value as text
  Variant VarValue;      // the typed value
  uint16_t VarType = 0;  // the variant type code of VarValue
  double Confidence = 0;
  TRelRect Zone;         // where the value stands on its page
  int32_t Page = 0;
};
using TqzAlternativeValues = std::vector<TqzAlternativeValue>;

// A recognised metadata field as the document log writes it.
struct TqzMetaField {
  UnicodeString IntField;  // the internal field name
  UnicodeString ExtField;  // the external field name
  UnicodeString Value;
  Variant VarValue;
  uint16_t VarType = 0;
  double Confidence = 0;
  TRelRect Zone;
  int32_t Page = 0;
  TqzAlternativeValues Alternatives;
};
using TqzMetaData = std::vector<TqzMetaField>;

// An index field of a document (note: Page before Zone here).
struct TqzDocumentField {
  UnicodeString Name;
  Variant Value;
  uint16_t VarType = 0;
  double Confidence = 0;
  int32_t Page = 0;
  TRelRect Zone;
};
using TqzDocumentFields = std::vector<TqzDocumentField>;

// A URL parameter with its encoding (filled by the URL tools).
struct TqzUrlParam {
  UnicodeString Param;   // the parameter name
  UnicodeString Value;   // the decoded value
  AnsiString RawValue;   // the value as it stood in the URL, unescaped
  TqzEncoding Encoding = qzENC_None;
};
using TqzUrlParams = std::vector<TqzUrlParam>;

// A header line of a multipart body.
struct TqzKeyValue {
  UnicodeString Key, Value;
};
using TqzKeyValueList = std::vector<TqzKeyValue>;

// One file of a document.
struct TqzDocumentBlob {
  bool Active = false;
  UnicodeString Name;
  UnicodeString FileName;
  AnsiString Data;  // the file's bytes
  uint32_t Size = 0;
  TqzDataOrigin Origin = qzDO_Database;
  UnicodeString Extension, MimeType, DocType;
  uint16_t Attributes = 0;
};
using TqzDocumentBlobs = std::vector<TqzDocumentBlob>;

// One column of a hit list.
struct TqzHitlistHeaderField {
  UnicodeString Name;
  int32_t Width = 0;
  TqzSortOrder SortOrder = qzSO_Ascending;
};
using TqzHitlistHeader = std::vector<TqzHitlistHeaderField>;

// One row of a hit list.
struct TqzHitlistRow {
  AnsiString DocId;
  uint32_t Version = 0;
  UnicodeString Subject;
  double DocDate = 0;
  UnicodeString DocType;
  std::array<uint8_t, 3> Language{};  // three bytes, never written by this system
  double Creation = 0;
  double Changed = 0;
  bool ThumbAvail = false;
  AnsiString Thumbnail;
  bool Recent = false;
  uint16_t BlobCount = 0;
  uint16_t NoteCount = 0;
  uint32_t LinkCount = 0;
  std::vector<UnicodeString> Columns;  // one value per header column
};
using TqzHitlistRows = std::vector<TqzHitlistRow>;

// The result of an archive query.
struct TqzHitlist {
  TqzHitlistHeader Header;
  TqzHitlistRows Rows;
};

// An IP address with its type and octets.
struct TqzIPAddress {
  UnicodeString Address;  // the address as written
  TqzIPType IPType = qzIPUnknown;
  std::vector<int32_t> OctetArray;
};
using TqzIPRanges = std::vector<TqzIPAddress>;

// The archive protocol's records.

// The request's parameter items before framing, each "name=value" as 8-bit text.
using TComRes = std::vector<AnsiString>;

// One parameter of a parsed answer.
struct TComPart {
  AnsiString Param;      // the item's name, upper-cased
  AnsiString OrgParam;   // the name as received
  AnsiString Value;      // the value
  bool B64Encoded = false;  // Value still holds Base64 text that the readers decode
};
// The parsed items of one answer, in their order in the answer.
using TComResExt = std::vector<TComPart>;

// One archive server.
struct TqzServer {
  bool Active = false;
  AnsiString Host;  // host name or IPv4 address
  int32_t Port = 0;
};

// The archive servers for failover.
struct TqzServerList {
  std::vector<TqzServer> Server;
  bool Rotate = false;  // each exchange starts one entry after the previous one
  int32_t ActId = 0;    // index of the entry used last
};


// ---------------------------------------------------------------------------------------------
// BSON values

// One owned BSON value (libbson's bson_value_t, deep-copied). A default-constructed value is
// "absent" (no value at all), which reads back as Null like the BSON null.
class TBsonValue {
 public:
  TBsonValue();
  explicit TBsonValue(const bson_value_t& value);  // deep copy
  TBsonValue(const TBsonValue& other);
  TBsonValue(TBsonValue&& other) noexcept;
  TBsonValue& operator=(TBsonValue other) noexcept;
  ~TBsonValue();

  static TBsonValue Null();

  bson_type_t Type() const { return value_.value_type; }
  bool IsAbsent() const { return value_.value_type == BSON_TYPE_EOD; }
  const bson_value_t& Value() const { return value_; }

 private:
  bson_value_t value_{};
};

// A set of enumeration values stored as a bit field of 1, 2 or 4 bytes (bit n = ordinal n):
// the names of the enumeration's values in ordinal order and the storage size in bytes.
struct TqzSetInfo {
  std::vector<AnsiString> Names;
  std::size_t Size = 4;
};

// ---------------------------------------------------------------------------------------------
// Text forms

class TqzTypes {
 public:
  TqzTypes() = delete;

  // Enumeration texts. The reverse operations never raise; each normalises its input in its own
  // way (trimming and/or case folding) and gives a fixed value or the caller's default when no
  // text matches.
  static UnicodeString GetThreadPriorityStr(TThreadPriority Priority);
  static TThreadPriority GetThreadPriority(int32_t Priority);
  static UnicodeString GetSchemeFieldTypeStr(TqzSchemeFieldType FieldType);
  static TqzSchemeFieldType GetSchemeFieldTypeFromStr(const UnicodeString& FieldType);
  static UnicodeString GetFieldDataTypeStr(TqzFieldDataType FieldDataType);
  static TqzFieldDataType GetFieldDataTypeFromStr(const UnicodeString& FieldDataType);
  static uint16_t GetVarTypeFromFieldDataType(TqzFieldDataType DataType);
  static UnicodeString GetCPUPlatformStr(TqzCPUPlatform CPUPlatform);
  static TqzCPUPlatform GetCPUPlatformFromOSPlatform(TqzOSPlatform OSPlatform);
  static UnicodeString GetOSPlatformStr(TqzOSPlatform OSPlatform);
  static TqzOSPlatform GetOSPlatformFromStr(const UnicodeString& OSPlatform, TqzOSPlatform Default);
  static UnicodeString GetEnterpriseServiceStr(TqzEnterpriseService Service);
  static UnicodeString GetDatabaseTypeStr(TqzDatabaseType DbType);
  static TqzDatabaseType GetDatabaseType(const UnicodeString& DbType);
  static UnicodeString GetWindowsVersionTypeStr(TqzWindowsVersion WinVer);
  static UnicodeString GetEncryptionTypeStr(TqzCryptingMethod Encryption);
  static TqzCryptingMethod GetEncryptionType(const UnicodeString& CryptStr);
  static TqzPDFConformance GetPDFConformanceType(const UnicodeString& ConformanceStr);
  static UnicodeString GetLogTypeText(TqzLogInfoType Typ);
  static TqzLogInfoType GetLogTypeFromText(const UnicodeString& Typ);
  static UnicodeString GetOCREngineTypeText(TqzOCREngine Typ);
  static TqzOCREngine GetOCREngineTypeFromText(const UnicodeString& Typ);
  static UnicodeString GetRecoEngineTypeText(TqzRecognitionEngine Typ);
  static TqzRecognitionEngine GetRecoEngineTypeFromText(const UnicodeString& Typ);

  // ---- Variant type names and kinds ----------------------------------------------------------
  // Type codes are the COM codes plus 256 (8-bit text), 257 (any), 258 (UTF-16 text), with the
  // flags 0x2000 (array) and 0x4000 (by reference).
  static uint16_t GetVarType(const Variant& Value);
  // "EMPTY", "NULL", "SMALLINT", "INT", ... "UCS4STR"; "UNKNOWN" for other codes and for codes
  // combined with a flag.
  static UnicodeString GetVarTypeStr(uint16_t VarType);
  // Trimmed and upper-cased; also "FLOAT"/"REAL" (5), "TIME" (7), "BOOL" (11), "UNKNOWN" (13).
  static uint16_t GetVarTypeFromStr(const UnicodeString& VarType, uint16_t Default);

  static bool IsStringVariant(const Variant& myVar);   // 8, 72, 74, 256, 258
  static bool IsNumericVariant(const Variant& myVar);  // 2, 3, 16..21
  static bool IsMathVariant(const Variant& myVar);     // 2..7, 16..21 (the date counts)
  static bool IsFloatVariant(const Variant& myVar);    // 4, 5, 6
  static bool IsBooleanVariant(const Variant& myVar);  // 11
  static bool IsDateVariant(const Variant& myVar);     // 7
  static bool IsArrayVariant(const Variant& V);
  static bool IsMathVarType(uint16_t VarType);         // 2..6, 16..21 (the date does not count)
  static bool VarIsType(const Variant& V, const std::vector<int32_t>& AVarTypes);
  static bool VarIsInitial(const Variant& myVar);      // empty or null

  // ---- Lenient conversions -------------------------------------------------------------------
  // These pass on the platform's EVariantError for values that cannot convert.
  static UnicodeString VarToStr(const Variant& V);
  // Floats and dates round half to even; texts are read by the lenient float reading (the
  // first ',' becomes '.', then the longest leading number; no number gives 0).
  static int32_t VarToInteger(const Variant& V);
  static int64_t VarToInt64(const Variant& V);
  static double VarToFloat(const Variant& V);
  // VarToInteger(V) != 0: the text "True" gives false, the text "2" true.
  static bool VarToBoolean(const Variant& V);
  // A date unchanged, a number as a day count, a text by the locale's date and time formats.
  static TDateTime VarToDateTime(const Variant& V);
  static intptr_t VarToIntObject(const Variant& V);
  static void* VarToObject(const Variant& V);
  static Variant ObjectToVar(const void* Obj);  // a 64-bit integer Variant (code 20)
  // One text per element of a one-dimensional array; raises "invalid array dimension" otherwise.
  static TWideStringArray VarArrayAsStringArray(const Variant& V);

  // ---- Storage texts (never raise) -----------------------------------------------------------
  // Empty/null ""; integers in decimal; floats with '.' and 2 to 7 decimals (currency 2 to 4);
  // dates "yyyy-mm-dd", "hh:nn:ss" or "yyyy-mm-dd hh:nn:ss"; Booleans "True"/"False"; anything
  // else VarToStr. The empty text when the value cannot be written.
  static UnicodeString VarToStrExt(const Variant& Value);
  // As VarToStrExt, but a date with both parts is "yyyy-mm-ddThh:nn:ss.zzzZ".
  static UnicodeString VarToJSONStrExt(const Variant& Value);
  // The Variant of a storage text for a type code: Null for an empty text of code 0/1, integers
  // as code 20, floats as code 5, dates, Booleans, any other code a UTF-16 text. Null when the
  // text cannot be converted.
  static Variant StrToVarExt(const UnicodeString& Value, uint16_t VarType);
  // The same for a type name; a leading "CDT_" is removed, unknown names give a UTF-16 text.
  static Variant StrToVarExt(const UnicodeString& Value, const UnicodeString& VarType);

  // ---- BSON (never raise) --------------------------------------------------------------------
  // Null for empty/null (and on failure), int64 for integers, double for floats, a date as an
  // ISO 8601 string (AISO8601DateStrings) or as a UTC date-time taken without zone shift,
  // Boolean, else a string.
  static TBsonValue VarToBsonValueByRef(const Variant& AValue, bool AISO8601DateStrings);
  // AVarType 7 reads a string as an ISO 8601 date-time; Null for anything unreadable.
  static Variant BsonValueToVariantByRef(const TBsonValue& AValue, uint16_t AVarType);
  static Variant BsonValueToVariant(TBsonValue AValue, uint16_t AVarType);

  // ---- Sets and rectangles -------------------------------------------------------------------
  // The names of the set's members in ordinal order, joined by ",", in "[...]" with Brackets.
  static AnsiString SetToString(const TqzSetInfo& Info, const void* SetParam, bool Brackets);
  // Reads such a list (blanks and brackets allowed, names ignoring ASCII case). An unknown name
  // leaves the empty set. False only for a storage size other than 1, 2 or 4.
  static bool StringToSet(const TqzSetInfo& Info, void* SetParam, const AnsiString& Value);

  static TRelRect FloatRect(double Left, double Top, double Right, double Bottom);
  static TRelRect StrToFloatRect(const UnicodeString& Rect);      // "L,T,R,B"
  static TRelRect StrToFloatRectLTWH(const UnicodeString& Rect);  // "L,T,W,H"
  static TAdvRect FloatRectToAdvRect(const TRelRect& Rect);
  static TRect FloatRectToTRect(const TRelRect& Rect);
  static TRelRect TRectToFloatRect(const TRect& Rect);
  static TAdvRect AdvRect(int32_t Left, int32_t Top, int32_t Right, int32_t Bottom);
  static AnsiString AdvRectToStr(const TAdvRect& Rect);
  static AnsiString RectToStr(const TRect& Rect);
  static TAdvRect StrToAdvRect(const UnicodeString& Rect);
  static TRect StrToRect(const UnicodeString& Size);
  static bool IsRectEmpty(const TRect& Rect);
  static bool IsRectEmpty(const TRelRect& Rect);
  static bool IsRectEmpty(const TAdvRect& Rect);
};

// The short date format of the process's format settings, "/" standing for the date separator.
AnsiString ShortDateFormatA();
