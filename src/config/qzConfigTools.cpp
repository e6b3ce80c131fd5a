// TqzConfigTools: the list of parts, paths and keys, and the operations on parts and attributes.
#include "qzConfigTools.h"

#include <algorithm>

#include "CodePage.h"
#include "Exceptions.h"
#include "qzFiles.h"
#include "qzToolsEvo2.h"

// --- TqzConfigList -------------------------------------------------------------------------------

void TqzConfigList::SetLength(int count) {
  count = std::max(count, 0);
  for (int i = count; i < Length(); ++i) {
    if (parts_[static_cast<size_t>(i)].Active) Unindex(i);
  }
  parts_.resize(static_cast<size_t>(count));
  freeHint_ = std::min(freeHint_, count);
}

void TqzConfigList::Clear() {
  parts_.clear();
  index_.clear();
  active_ = 0;
  freeHint_ = 0;
}

void TqzConfigList::Trim() {
  int last = Length() - 1;
  while (last >= 0 && !parts_[static_cast<size_t>(last)].Active) --last;
  SetLength(last + 1);
}

int TqzConfigList::FirstFree() const {
  int i = freeHint_;
  while (i < Length() && parts_[static_cast<size_t>(i)].Active) ++i;
  freeHint_ = i;
  return i < Length() ? i : -1;
}

int TqzConfigList::TakeFreeSlot() {
  int i = FirstFree();
  if (i >= 0) return i;
  i = Length();
  SetLength(parts_.empty() ? 100 : Length() * 2);
  return i;
}

void TqzConfigList::Unindex(int index) {
  TqzConfigPart& part = parts_[static_cast<size_t>(index)];
  auto it = index_.find(part.SORTL);
  if (it != index_.end()) {
    std::vector<int>& ids = it->second;
    auto pos = std::lower_bound(ids.begin(), ids.end(), index);
    if (pos != ids.end() && *pos == index) ids.erase(pos);
    if (ids.empty()) index_.erase(it);
  }
  --active_;
}

void TqzConfigList::Activate(int index, UnicodeString param, UnicodeString key, Variant value, bool binary) {
  TqzConfigPart& part = parts_.at(static_cast<size_t>(index));
  if (part.Active) {
    Unindex(index);
  } else {
    part.Attributes.clear();  // a new part starts without attributes
  }
  part.Active = true;
  part.Param = std::move(param);
  part.SORTL = std::move(key);
  part.Value = std::move(value);
  part.Binary = binary;
  std::vector<int>& ids = index_[part.SORTL];
  if (ids.empty() || ids.back() < index) {
    ids.push_back(index);
  } else {
    ids.insert(std::lower_bound(ids.begin(), ids.end(), index), index);
  }
  ++active_;
}

void TqzConfigList::Release(int index) {
  TqzConfigPart& part = parts_.at(static_cast<size_t>(index));
  if (part.Active) Unindex(index);
  part = TqzConfigPart();
  freeHint_ = std::min(freeHint_, index);
}

int TqzConfigList::FindFirst(const UnicodeString& key) const {
  auto it = index_.find(key);
  return it == index_.end() ? -1 : it->second.front();
}

// --- Paths and keys ------------------------------------------------------------------------------

namespace {

bool IsTrimmedChar(char16_t c) {
  if (c <= 0x1F || (c >= 0x7F && c <= 0x9F)) return true;  // control characters
  switch (c) {
    case 0x20: case 0xA0: case 0x1680: case 0x2028: case 0x2029: case 0x202F: case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

std::u16string_view TrimConfigChars(std::u16string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsTrimmedChar(s[b])) ++b;
  while (e > b && IsTrimmedChar(s[e - 1])) --e;
  return s.substr(b, e - b);
}

UnicodeString JoinNames(const std::vector<UnicodeString>& names, size_t from) {
  UnicodeString out;
  for (size_t i = from; i < names.size(); ++i) {
    if (i > from) out += u'/';
    out += names[i];
  }
  return out;
}

// The text of a value for the emptiness tests: arrays and values that cannot be written as
// text count as not empty.
bool ValueTextEmpty(const Variant& v) {
  if (v.IsEmptyOrNull()) return true;
  try {
    return VarToStr(v).empty();
  } catch (const Exception&) {
    return false;
  }
}

}  // namespace

UnicodeString TqzConfigTools::NormalizeConfigPath(std::u16string_view Path) {
  std::u16string_view s = TrimConfigChars(Path);
  if (!s.empty() && s.front() == u'/') s = TrimConfigChars(s.substr(1));
  return UnicodeString(s);
}

std::vector<UnicodeString> TqzConfigTools::SplitConfigPath(std::u16string_view Path) {
  const UnicodeString path = NormalizeConfigPath(Path);
  std::vector<UnicodeString> names;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find(u'/', start);
    if (slash == UnicodeString::npos) slash = path.size();
    if (slash > start) names.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  return names;
}

UnicodeString TqzConfigTools::ToXMLName(std::u16string_view Name) {
  UnicodeString name(Name);
  if (!name.empty() && name[0] >= u'0' && name[0] <= u'9') name.insert(name.begin(), u'_');
  if (name.size() >= 3 && UpperCaseStr(std::u16string_view(name).substr(0, 3)) == u"XML") {
    name.insert(name.begin(), u'_');
  }
  return name;
}

UnicodeString TqzConfigTools::ToXMLPath(std::u16string_view Path) {
  UnicodeString path = NormalizeConfigPath(Path);
  for (char16_t& c : path) {
    if (c == u' ' || c == u':') c = u'_';
  }
  if (path.empty()) return path;
  if (path.find(u'/') == UnicodeString::npos) return ToXMLName(path);
  std::vector<UnicodeString> names = SplitConfigPath(path);
  for (UnicodeString& n : names) n = ToXMLName(n);
  return JoinNames(names, 0);
}

UnicodeString TqzConfigTools::ConfigKey(std::u16string_view Path) { return UpperCaseStr(ToXMLPath(Path)); }

UnicodeString TqzConfigTools::GetPathString(const TqzPathArray& Param, bool Prepare) {
  UnicodeString out;
  for (const UnicodeString& element : Param) {
    UnicodeString n = NormalizeConfigPath(element);
    if (n.empty()) continue;
    out += u'/';
    out += n;
  }
  return Prepare ? NormalizeConfigPath(out) : out;
}

// --- The list ------------------------------------------------------------------------------------

bool TqzConfigTools::ClearConfig() {
  ConfigList.Clear();
  return true;
}

bool TqzConfigTools::InitList(TqzConfigList& CfgList, int ItemCount) {
  CfgList.SetLength(ItemCount);
  return true;
}

bool TqzConfigTools::InitList(int ItemCount) { return InitList(ConfigList, ItemCount); }

bool TqzConfigTools::ConfigParamExists(const UnicodeString& Param) const {
  return ConfigList.FindFirst(ConfigKey(Param)) >= 0;
}

bool TqzConfigTools::ConfigParamExists(const TqzPathArray& Param) const {
  return ConfigParamExists(GetPathString(Param, true));
}

int TqzConfigTools::GetEmptyConfigParam() const { return ConfigList.FirstFree(); }

Variant TqzConfigTools::GetConfigParam(const UnicodeString& Param) const {
  const int id = ConfigList.FindFirst(ConfigKey(Param));
  return id < 0 ? Variant(UnicodeString()) : ConfigList[id].Value;
}

Variant TqzConfigTools::GetConfigParam(const TqzConfigList& CfgList, const UnicodeString& Param,
                                       const Variant& Default) {
  const int id = CfgList.FindFirst(ConfigKey(Param));
  if (id < 0) return Default;
  const Variant& value = CfgList[id].Value;
  if (!ValueTextEmpty(value)) return value;
  switch (Default.VarType()) {
    case varSmallint: case varInteger: case varSingle: case varDouble: case varCurrency: case varDate:
    case varBoolean: case varByte: case varWord: case varLongWord: case varInt64:
      return Default;
    default:
      return value;
  }
}

Variant TqzConfigTools::GetConfigParam(const UnicodeString& Param, const Variant& Default) const {
  return GetConfigParam(ConfigList, Param, Default);
}

Variant TqzConfigTools::GetConfigParam(const TqzConfigList& CfgList, const TqzPathArray& Param,
                                       const Variant& Default) {
  return GetConfigParam(CfgList, GetPathString(Param, false), Default);
}

Variant TqzConfigTools::GetConfigParam(const TqzPathArray& Param, const Variant& Default) const {
  return GetConfigParam(ConfigList, GetPathString(Param, false), Default);
}

int TqzConfigTools::GetConfigParamListId(const UnicodeString& Param) const {
  return ConfigList.FindFirst(ConfigKey(Param));
}

bool TqzConfigTools::DeleteConfigParam(const UnicodeString& Param) {
  const UnicodeString key = ConfigKey(Param);
  bool deleted = false;
  for (int id = ConfigList.FindFirst(key); id >= 0; id = ConfigList.FindFirst(key)) {
    ConfigList.Release(id);
    deleted = true;
    if (!AllowMultiParams) break;
  }
  return deleted;
}

bool TqzConfigTools::DeleteConfigParam(const TqzPathArray& Param) {
  return DeleteConfigParam(GetPathString(Param, true));
}

int TqzConfigTools::AddConfigParam(const UnicodeString& Param, const Variant& Value, bool Binary, bool Replace) {
  try {
    UnicodeString key = ConfigKey(Param);
    if (key.empty()) return -1;
    int id = -1;
    if (!AllowMultiParams || Replace) id = ConfigList.FindFirst(key);
    if (id < 0) id = ConfigList.TakeFreeSlot();
    ConfigList.Activate(id, NormalizeConfigPath(Param), std::move(key), Value, Binary);
    return id;
  } catch (const Exception&) {
    return -1;
  }
}

int TqzConfigTools::AddConfigParam(const TqzPathArray& Param, const Variant& Value, bool Binary, bool Replace) {
  return AddConfigParam(GetPathString(Param, false), Value, Binary, Replace);
}

int TqzConfigTools::AddConfigParam(TqzConfigList& CfgList, const UnicodeString& Param, const Variant& Value,
                                   bool Binary) {
  try {
    UnicodeString param = NormalizeConfigPath(Param);
    UnicodeString key = ConfigKey(param);
    if (param.empty() || key.empty()) return -1;
    const int id = CfgList.TakeFreeSlot();
    CfgList.Activate(id, std::move(param), std::move(key), Value, Binary);
    return id;
  } catch (const Exception&) {
    return -1;
  }
}

bool TqzConfigTools::AddBlobConfigParam(const UnicodeString& Param, const AnsiString& FileName) {
  UnicodeString param = NormalizeConfigPath(Param);
  UnicodeString key = ConfigKey(param);
  if (param.empty() || key.empty()) return false;
  AnsiString bytes;
  if (!TqzFiles::LoadFileToString(platform::AnsiToWide(FileName), bytes)) return false;
  const int id = ConfigList.TakeFreeSlot();
  ConfigList.Activate(id, std::move(param), std::move(key), Variant::FromAnsi(std::move(bytes)), true);
  return true;
}

bool TqzConfigTools::AddAttribute(TqzConfigList& CfgList, int ConfigId, const UnicodeString& Attribute,
                                  const Variant& Value) const {
  const UnicodeString upper = UpperCaseStr(Attribute);
  if ((!AllowNameAttribute && upper == u"NAME") || upper == u"TYPE") return false;
  if (ConfigId < 0 || ConfigId >= CfgList.Length()) return false;
  TqzAttributes& attributes = CfgList.Attributes(ConfigId);
  for (const TqzAttribute& a : attributes) {
    if (a.Name == Attribute) return true;
  }
  attributes.push_back({Attribute, Value});
  return true;
}

bool TqzConfigTools::AddAttribute(int ConfigId, const UnicodeString& Attribute, const Variant& Value) {
  return AddAttribute(ConfigList, ConfigId, Attribute, Value);
}

Variant TqzConfigTools::GetAttribute(int ConfigId, const UnicodeString& Attribute, const Variant& Default,
                                     bool AcceptEmptyAttributeValue) const {
  if (ConfigId < 0 || ConfigId >= ConfigList.Length()) return Default;
  for (const TqzAttribute& a : ConfigList[ConfigId].Attributes) {
    if (a.Name != Attribute) continue;
    if (AcceptEmptyAttributeValue || !ValueTextEmpty(a.Value)) return a.Value;
  }
  return Default;
}

Variant TqzConfigTools::GetAttribute(const UnicodeString& Param, const UnicodeString& Attribute,
                                     const Variant& Default, bool AcceptEmptyAttributeValue) const {
  return GetAttribute(GetConfigParamListId(Param), Attribute, Default, AcceptEmptyAttributeValue);
}

int TqzConfigTools::GetListSize() const { return ConfigList.ActiveCount(); }

namespace {

// Calls visit(part, names below the path) for every active part below Path, or for every active
// part with all its names when Path has none. Below means: the part's key begins with the key of
// Path followed by "/"; the names below are the part's names after as many names as Path has.
template <class Visit>
void ForEachBelow(const TqzConfigList& list, const UnicodeString& Path, Visit&& visit) {
  const UnicodeString key = TqzConfigTools::ConfigKey(Path);
  const size_t depth = TqzConfigTools::SplitConfigPath(Path).size();
  const UnicodeString prefix = key + u'/';
  for (const TqzConfigPart& part : list) {
    if (!part.Active) continue;
    if (!key.empty() && part.SORTL.compare(0, prefix.size(), prefix) != 0) continue;
    std::vector<UnicodeString> names = TqzConfigTools::SplitConfigPath(part.Param);
    if (names.size() <= depth) continue;
    names.erase(names.begin(), names.begin() + static_cast<ptrdiff_t>(depth));
    visit(part, names);
  }
}

}  // namespace

bool TqzConfigTools::GetConfigList(const UnicodeString& Path, TqzConfigList& CfgList, bool KeepOrgPath) const {
  CfgList.Clear();
  const bool whole = ConfigKey(Path).empty();
  ForEachBelow(ConfigList, Path, [&](const TqzConfigPart& part, const std::vector<UnicodeString>& names) {
    UnicodeString param = (whole || KeepOrgPath) ? part.Param : JoinNames(names, 0);
    UnicodeString key = ConfigKey(param);
    const int id = CfgList.TakeFreeSlot();
    CfgList.Activate(id, std::move(param), std::move(key), part.Value, part.Binary);
    CfgList.Attributes(id) = part.Attributes;
  });
  CfgList.Trim();
  return true;
}

bool TqzConfigTools::GetConfigList(const TqzPathArray& Path, TqzConfigList& CfgList, bool KeepOrgPath) const {
  return GetConfigList(GetPathString(Path, false), CfgList, KeepOrgPath);
}

bool TqzConfigTools::GetNodeElements(const UnicodeString& Path, TStringList& List, bool GetFullPath) const {
  List.SetSorted(true);
  List.SetDuplicates(dupIgnore);
  const UnicodeString path = NormalizeConfigPath(Path);
  ForEachBelow(ConfigList, Path, [&](const TqzConfigPart&, const std::vector<UnicodeString>& names) {
    List.Add(GetFullPath && !path.empty() ? path + u'/' + names.front() : names.front());
  });
  return true;
}

bool TqzConfigTools::GetNodeElements(const TqzPathArray& Path, TStringList& List) const {
  return GetNodeElements(GetPathString(Path, true), List, false);
}

std::unique_ptr<TStringList> TqzConfigTools::GetNodeElements(const TqzPathArray& Path) const {
  auto list = std::make_unique<TStringList>();
  GetNodeElements(Path, *list);
  return list;
}
