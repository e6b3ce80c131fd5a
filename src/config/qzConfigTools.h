// TqzConfigTools: a configuration held in memory as a flat list of parts, and its XML text.
//
// A part is a path of names separated by "/" with a Variant value, a flag that marks the value as
// raw bytes (an 8-bit string) and named attributes. Every path has a key, the upper-cased XML
// form of the path, and all lookups compare keys: names match without regard to case, blank, ":"
// and "_" match one another, and '1a' and '_1a' (or 'xmlA' and '_xmlA') name the same part.
//   ' /My Server:1/2nd '  is stored as  'My Server:1/2nd'  with the key  'MY_SERVER_1/_2ND'.
//
// The list (TqzConfigList) keeps free slots between parts, as the text reader and the deletions
// leave them, and a hash index from key to the parts holding it, so lookups by key take constant
// time and finding a free slot does not rescan the list. Parts are read through the list and
// changed only through its operations, which keep the index right.
//
// The XML configuration text (BuiltConfigString / ParseConfigString, SaveConfig / LoadConfig):
//   <?xml version="1.0" encoding="UTF-8"?>
//   <Settings FormatVersion="2.0" Compressed="false" Encoding="none">
//     <Server Type="UCS4STR">alpha</Server><_1st Name="1st"><Mode Type="BOOLEAN">True</Mode></_1st>
//   </Settings>
// Options of the writer: values compressed (zlib, Base64 in lines of 76), typed by a "Type"
// attribute, names carried in a "Name" attribute of elements called DefaultNodeName, and a
// change-protection hash (MD5 over the parts and a fixed salt) in the root's "Hash" attribute.
// The reader takes every format version from "1.0" to "2.1" (and unknown ones as "2.0").
//
// Decisions where the rules leave room, and sound behaviour kept throughout:
//  * Build then parse gives the list back for every writer option: an element that only holds
//    other elements (the enclosing element of a nested path) makes no part; an element that holds
//    a value and further elements is marked by its "Type" attribute when nothing else shows that
//    it holds a value. The hash covers exactly the parts that reading the text gives back, so
//    the writer computes it from the document it wrote.
//  * A name inside a nested path is looked up among the siblings by the name itself, not by its
//    XML form, so 'a b/x' and 'a_b/y' stay apart; a nested part whose element already received a
//    value from an earlier part of the same list gets an element of its own (as single names do)
//    instead of overwriting that value.
//  * A compressed value may declare at most MaxValueSize bytes; the count is checked before
//    anything is allocated. The paths and expanded values of one text together may take at most
//    MaxParsedSize bytes, and elements may nest at most 256 levels deep.
//  * Selecting the parts below a path matches whole names (the key followed by "/"); the part
//    named like the path itself is not below it. The names of the copies are the names after the
//    path's own names, so a path written differently from the part ('1a' against '_1a') still
//    cuts exactly the path off.
//  * AddAttribute refuses an index outside the list.
//  * Texts are saved by writing a temporary file beside the target and renaming it.
//  * Text values keep characters above U+FFFF; characters not allowed in XML become blanks, and
//    a value written with lone LF line ends reads back with CR LF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "StringList.h"
#include "Text.h"
#include "Variant.h"
#include "qzStringsServices.h"

namespace platform {
class XmlNode;
}

struct TqzAttribute {
  UnicodeString Name;
  Variant Value;
};
using TqzAttributes = std::vector<TqzAttribute>;

struct TqzConfigPart {
  bool Active = false;        // false: a free slot
  UnicodeString Param;        // the path, normalised
  UnicodeString SORTL;        // the key
  Variant Value;
  bool Binary = false;        // the value holds raw bytes (an 8-bit string)
  TqzAttributes Attributes;
};

// A path given as separate names (joined with GetPathString).
using TqzPathArray = std::vector<UnicodeString>;

class TqzConfigList {
 public:
  int Length() const { return static_cast<int>(parts_.size()); }
  bool IsEmpty() const { return parts_.empty(); }
  const TqzConfigPart& operator[](int index) const { return parts_.at(static_cast<size_t>(index)); }
  std::vector<TqzConfigPart>::const_iterator begin() const { return parts_.begin(); }
  std::vector<TqzConfigPart>::const_iterator end() const { return parts_.end(); }
  int ActiveCount() const { return active_; }

  // The length set to `count`: existing entries kept, new ones free.
  void SetLength(int count);
  void Clear();
  // The list shortened to end with its last active entry (empty when none is active).
  void Trim();

  // Index of the first free entry, -1 when there is none.
  int FirstFree() const;
  // Index of the first free entry; when there is none the list doubles (to 100 entries when it
  // is empty) and the first new entry is taken.
  int TakeFreeSlot();
  // The entry becomes an active part with these fields; a part that was active keeps its
  // attributes, a free slot starts without any.
  void Activate(int index, UnicodeString param, UnicodeString key, Variant value, bool binary);
  // The entry becomes a free slot: no path, no value, no attributes.
  void Release(int index);

  // Index of the first active part with the key, -1 when none.
  int FindFirst(const UnicodeString& key) const;

  // The parts' own fields that carry no key.
  void SetValue(int index, Variant value) { parts_.at(static_cast<size_t>(index)).Value = std::move(value); }
  TqzAttributes& Attributes(int index) { return parts_.at(static_cast<size_t>(index)).Attributes; }

 private:
  void Unindex(int index);

  std::vector<TqzConfigPart> parts_;
  std::unordered_map<UnicodeString, std::vector<int>> index_;  // key -> active entries, ascending
  int active_ = 0;
  mutable int freeHint_ = 0;  // no entry before it is free
};

enum TqzCfgFormatVersion : uint8_t {
  qzFV_10, qzFV_11, qzFV_12, qzFV_13, qzFV_14, qzFV_15, qzFV_16, qzFV_17, qzFV_18, qzFV_20, qzFV_21,
  qzFV_Unknown
};

class TqzConfigTools {
 public:
  TqzConfigTools() = default;
  virtual ~TqzConfigTools() = default;

  TqzConfigList ConfigList;
  UnicodeString Message;             // text of the last error of a build or parse
  bool AllowMultiParams = true;      // several parts may share one key
  UnicodeString RootNodeName;        // root element of the last text parsed into ConfigList
  UnicodeString DefaultNodeName = u"Field";
  bool AllowNameAttribute = false;   // a part may carry an attribute called "Name"
  bool ChangeProtection = false;     // texts carry and must match a hash
  // Largest byte count a compressed value of a parsed text may declare.
  size_t MaxValueSize = TqzStringsServices::DefaultMaxDecompressedSize;
  // Largest size, in bytes, of the paths (two bytes a character) and expanded compressed values
  // that one parsed text may give together, so that a small text cannot expand without bound.
  size_t MaxParsedSize = TqzStringsServices::DefaultMaxDecompressedSize;

  // --- Paths and keys ---------------------------------------------------------------------------
  // Control and white-space characters removed at both ends, then one leading "/" and the
  // characters at both ends again.
  static UnicodeString NormalizeConfigPath(std::u16string_view Path);
  // The names of the normalised path (empty names left out).
  static std::vector<UnicodeString> SplitConfigPath(std::u16string_view Path);
  // "_" put in front of a name that starts with a digit or, upper-cased, with "XML".
  static UnicodeString ToXMLName(std::u16string_view Name);
  // The normalised path with blanks and ":" turned into "_" and every name made an XML name.
  static UnicodeString ToXMLPath(std::u16string_view Path);
  // The key of a path: its XML form upper-cased.
  static UnicodeString ConfigKey(std::u16string_view Path);

  // Every element that is not empty after normalising, each with "/" in front; normalised at the
  // end with Prepare.
  static UnicodeString GetPathString(const TqzPathArray& Param, bool Prepare);

  // --- The list ---------------------------------------------------------------------------------
  bool ClearConfig();
  static bool InitList(TqzConfigList& CfgList, int ItemCount);
  bool InitList(int ItemCount);
  bool ConfigParamExists(const UnicodeString& Param) const;
  bool ConfigParamExists(const TqzPathArray& Param) const;
  int GetEmptyConfigParam() const;
  // The value of the first part with the key; an empty UTF-16 text when there is none.
  Variant GetConfigParam(const UnicodeString& Param) const;
  // The part's value when its text is not empty; for an empty one Default when Default is a
  // number, date or Boolean, else the empty value; Default when no part has the key.
  Variant GetConfigParam(const UnicodeString& Param, const Variant& Default) const;
  static Variant GetConfigParam(const TqzConfigList& CfgList, const UnicodeString& Param, const Variant& Default);
  static Variant GetConfigParam(const TqzConfigList& CfgList, const TqzPathArray& Param, const Variant& Default);
  Variant GetConfigParam(const TqzPathArray& Param, const Variant& Default) const;
  int GetConfigParamListId(const UnicodeString& Param) const;
  // Deletes every part with the key (only the first without AllowMultiParams).
  bool DeleteConfigParam(const UnicodeString& Param);
  bool DeleteConfigParam(const TqzPathArray& Param);
  // Index of the part, -1 for a path without a name. Without AllowMultiParams or with Replace the
  // first part with the key takes the value (keeping its attributes).
  int AddConfigParam(const UnicodeString& Param, const Variant& Value, bool Binary, bool Replace);
  int AddConfigParam(const TqzPathArray& Param, const Variant& Value, bool Binary, bool Replace);
  // Always a new part in CfgList.
  static int AddConfigParam(TqzConfigList& CfgList, const UnicodeString& Param, const Variant& Value, bool Binary);
  // A new binary part holding the file's bytes; false when the path is empty or the file unreadable.
  bool AddBlobConfigParam(const UnicodeString& Param, const AnsiString& FileName);
  // "Type" is always refused, "Name" unless AllowNameAttribute; an attribute of that exact name
  // that the part already has stays as it is.
  bool AddAttribute(TqzConfigList& CfgList, int ConfigId, const UnicodeString& Attribute, const Variant& Value) const;
  bool AddAttribute(int ConfigId, const UnicodeString& Attribute, const Variant& Value);
  // The first attribute of that exact name whose text is not empty (or the first one at all with
  // AcceptEmptyAttributeValue); Default when there is none or ConfigId is outside the list.
  Variant GetAttribute(int ConfigId, const UnicodeString& Attribute, const Variant& Default,
                       bool AcceptEmptyAttributeValue) const;
  Variant GetAttribute(const UnicodeString& Param, const UnicodeString& Attribute, const Variant& Default,
                       bool AcceptEmptyAttributeValue) const;
  int GetListSize() const;
  // Copies of the parts below Path (every part for an empty Path) into CfgList, named from below
  // the path unless KeepOrgPath.
  bool GetConfigList(const UnicodeString& Path, TqzConfigList& CfgList, bool KeepOrgPath) const;
  bool GetConfigList(const TqzPathArray& Path, TqzConfigList& CfgList, bool KeepOrgPath) const;
  // The names of the children below Path (sorted, without duplicates), or Path + "/" + name.
  bool GetNodeElements(const UnicodeString& Path, TStringList& List, bool GetFullPath) const;
  bool GetNodeElements(const TqzPathArray& Path, TStringList& List) const;
  std::unique_ptr<TStringList> GetNodeElements(const TqzPathArray& Path) const;

  // --- The XML configuration text ---------------------------------------------------------------
  static TqzCfgFormatVersion GetConfigFormatVersion(const UnicodeString& FStr);
  // The UTF-8 text of the list. Raises on every error (after setting Message): node paths with
  // NodeNameByAttrib, a name that is no valid XML name, a value for an element that already
  // holds elements.
  AnsiString BuiltConfigString(const TqzConfigList& CfgList, const UnicodeString& ConfigType, bool Compress,
                               bool Enhanced, bool NodeNameByAttrib);
  AnsiString BuiltConfigString(const UnicodeString& ConfigType, bool Compress, bool Enhanced, bool NodeNameByAttrib);
  // Refills CfgList from the text; Root receives the root element's name. False with Message set
  // on an error (raised too with RaiseExceptions). An empty or blank text is an empty list.
  bool ParseConfigString(TqzConfigList& CfgList, const AnsiString& Config, UnicodeString& Root,
                         bool RaiseExceptions);
  bool ParseConfigString(const AnsiString& Config, UnicodeString& Root, bool RaiseExceptions);
  bool ParseConfigString(const AnsiString& Config);
  bool SaveConfig(const UnicodeString& FileName, const UnicodeString& ConfigType, bool Compress, bool Enhanced);
  bool LoadConfig(const UnicodeString& FileName);

 private:
  static bool HasNodePaths(const TqzConfigList& CfgList);
  static UnicodeString ValueToXMLText(const Variant& Value);
  static UnicodeString GetHashSalt();
  static AnsiString CalcChangeProtectionHash(const TqzConfigList& CfgList);
  static int CheckChangeProtectionHash(const UnicodeString& Hash, const TqzConfigList& CfgList);
  static UnicodeString ToXMLElementName(const UnicodeString& Name, bool& Differs);
  // Reads the elements below Root into CfgList; compressed values may declare at most ValueCap
  // bytes, and paths and expanded values together take at most Budget bytes.
  static void ReadConfigNodes(TqzConfigList& CfgList, const platform::XmlNode& Root, TqzCfgFormatVersion Version,
                              bool Compressed, size_t ValueCap, size_t Budget);
};
