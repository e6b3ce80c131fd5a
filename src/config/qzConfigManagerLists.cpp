// TqzConfigManager: child and root node lists, the recursive walk, node sorting and the node
// test; the values of one node as a list, and the in-memory helpers that find, read, set and
// remove entries of such a list.
#include <algorithm>
#include <functional>
#include <unordered_map>

#include "Clock.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "SysUtils.h"
#include "qzConfigManager.h"
#include "qzConversion.h"
#include "qzToolsEvo2.h"
#include "qzTools.h"

namespace {

// Characters up to U+0020 removed at both ends.
UnicodeString TrimLow(const UnicodeString& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && text[begin] <= u' ') ++begin;
  while (end > begin && text[end - 1] <= u' ') --end;
  return text.substr(begin, end - begin);
}

uint32_t NameNumber(const UnicodeString& text) {
  return static_cast<uint32_t>(TqzConversion::StrToInt(text, 0));
}

}  // namespace

// =============================================================================================
// Node lists

void TqzConfigManager::ListChildNodes(const TIdType& parentId, const UnicodeString& parentKey, bool roots,
                                      TConfigNodes& NodeList) {
  const UnicodeString sql =
      roots ? u"SELECT ID,KEYNAME FROM " + Table() +
                  u" WHERE (PARENTID = :PARENTID OR PARENTID IS NULL) AND DATATYPE = :DATATYPE ORDER BY KEYNAME"
            : u"SELECT ID,KEYNAME FROM " + Table() + u" WHERE PARENTID = :PARENTID AND DATATYPE = :DATATYPE ORDER BY KEYNAME";
  TqzQuery q(*this, sql, {{u"PARENTID", IdVariant(parentId)}, {u"DATATYPE", Variant(u"TREE")}});
  platform::DbField& idField = q->FieldByName(u"ID");
  platform::DbField& nameField = q->FieldByName(u"KEYNAME");
  for (q->First(); !q->Eof(); q->Next()) {
    TConfigNode node;
    node.Name = EncodeKeyPart(nameField.AsString());
    node.Key = parentKey + node.Name + u"/";
    node.RelKey = node.Name;
    node.Id = IdOfText(idField.AsString());
    NodeList.push_back(node);
    SetCacheKeyId(node.Key, node.Id);
  }
}

bool TqzConfigManager::GetChildNodes(const UnicodeString& Key, TConfigNodes& NodeList, bool Create) {
  NodeList.clear();
  return Guarded(false, [&] {
    const TIdType id = GetParentTreeId(Key, Create, false);
    if (IsTIdStringEmpty(id)) return !Create;
    ListChildNodes(id, PrepareKey(Key), false, NodeList);
    return true;
  });
}

bool TqzConfigManager::GetRootNodes(TConfigNodes& NodeList) {
  NodeList.clear();
  return Guarded(false, [&] {
    ListChildNodes(TIdType(), UnicodeString(), true, NodeList);
    return true;
  });
}

bool TqzConfigManager::GetRecursiveChildNodes(const UnicodeString& RootKey, TConfigNodes& NodeList,
                                              bool AddParentNodes, bool AddRootNodes, bool AddRootKey) {
  const UnicodeString root = PrepareKey(RootKey);
  NodeList.clear();
  try {
    if (AddRootKey) {
      TConfigNode entry;
      entry.Key = root;
      entry.Id = GetParentTreeId(root, false, false);
      NodeList.push_back(entry);
    }
    TConfigNodes top;
    if (!GetChildNodes(root, top, true)) throw Exception(u"getchildnodes operation failed (" + Message + u")");

    // A node, then its children: each node is listed before the nodes below it.
    std::function<void(const TConfigNode&, int)> walk = [&](const TConfigNode& node, int level) {
      if (level > kMaxTreeLevels) {
        throw Exception(u"the tree below " + Convert2VisKey(root) + u" has more than 256 levels");
      }
      TConfigNodes children;
      try {
        ListChildNodes(node.Id, node.Key, false, children);
      } catch (const Exception& e) {
        throw Exception(u"getchildnodes operation failed (" + e.Message + u")");
      }
      if (AddParentNodes || (children.empty() && (level >= 2 || AddRootNodes))) {
        TConfigNode entry;
        entry.Name = EncodeKeyPart(node.Name);
        entry.Key = node.Key;
        entry.RelKey = Convert2NamedRelKey(node.Key.substr(std::min(root.size(), node.Key.size())));
        entry.Id = node.Id;
        NodeList.push_back(entry);
      }
      for (const TConfigNode& child : children) walk(child, level + 1);
    };
    for (const TConfigNode& child : top) walk(child, 1);
    Message.clear();
    return true;
  } catch (const Exception& e) {
    Message = e.Message;
    NodeList.clear();
    RaiseException(Message);
    return false;
  }
}

bool TqzConfigManager::SortNodes(TConfigNodes& NodeList) {
  std::stable_sort(NodeList.begin(), NodeList.end(),
                   [](const TConfigNode& a, const TConfigNode& b) { return a.Name < b.Name; });
  return true;
}

bool TqzConfigManager::NodeExists(const UnicodeString& Key, bool CanCreate) {
  return !IsTIdStringEmpty(GetParentTreeId(Key, CanCreate, false));
}

// =============================================================================================
// The values of a node

void TqzConfigManager::ReadNodeProperties(const TIdType& id, const UnicodeString& visKey, TProperties& Properties,
                                          bool WithValues, bool Raw, const UnicodeString& PropertyPrefix,
                                          bool ExtendList, bool WithBinaries, bool AllowDuplicates,
                                          std::vector<bool>* TextsLeftOut) {
  const bool v2 = TableStructureType == TST_V2;
  const bool leaveOut = WithValues && TextsLeftOut;
  UnicodeString columns = !WithValues ? u"ID,DATATYPE,KEYNAME"
                          : leaveOut ? u"ID,DATATYPE,KEYNAME,CASE WHEN DATATYPE = 'BINARY' THEN NULL ELSE KEYVALUE END "
                                       u"AS KEYVALUE,CASE WHEN DATATYPE = 'BINARY' THEN 1 ELSE 0 END AS LEFTOUT"
                                     : u"ID,DATATYPE,KEYNAME,KEYVALUE";
  if (v2) columns += u",DIMENSION,CHANGEUSER,CHANGEDATE";
  const bool skipBinaries = WithValues && !WithBinaries;
  const UnicodeString sql = u"SELECT " + columns + u" FROM " + Table() +
                            u" WHERE PARENTID = :PARENTID AND NOT(DATATYPE = :DATATYPE)" +
                            (skipBinaries ? u" AND NOT(DATATYPE = :BINDATATYPE)" : u"") +
                            u" AND KEYNAME LIKE :NAMEPREFIX ESCAPE '!' ORDER BY KEYNAME";
  TqzParams params = {{u"PARENTID", IdVariant(id)}, {u"DATATYPE", Variant(u"TREE")}};
  if (skipBinaries) params.emplace_back(u"BINDATATYPE", Variant(u"BINARY"));
  params.emplace_back(u"NAMEPREFIX", Variant(EscapeLike(PropertyPrefix) + u"%"));

  TqzQuery q(*this, sql, params);
  std::size_t n = Properties.size();
  // The first entry of each name, for the merge of an extended list.
  std::unordered_map<UnicodeString, std::size_t> firstOfName;
  const bool merge = ExtendList && !AllowDuplicates;
  if (merge) {
    for (std::size_t i = 0; i < n; ++i) firstOfName.emplace(Properties[i].Name, i);
  }
  Properties.resize(n + static_cast<std::size_t>(q->RecordCount()));

  platform::DbField& idField = q->FieldByName(u"ID");
  platform::DbField& typeField = q->FieldByName(u"DATATYPE");
  platform::DbField& nameField = q->FieldByName(u"KEYNAME");
  platform::DbField* valueField = WithValues ? &q->FieldByName(u"KEYVALUE") : nullptr;
  platform::DbField* dimField = v2 ? &q->FieldByName(u"DIMENSION") : nullptr;
  platform::DbField* userField = v2 ? &q->FieldByName(u"CHANGEUSER") : nullptr;
  platform::DbField* dateField = v2 ? &q->FieldByName(u"CHANGEDATE") : nullptr;
  platform::DbField* leftOutField = leaveOut ? &q->FieldByName(u"LEFTOUT") : nullptr;
  if (leaveOut) TextsLeftOut->resize(Properties.size(), false);
  for (q->First(); !q->Eof(); q->Next()) {
    const UnicodeString name = TrimLow(nameField.AsString());
    std::size_t target = n;
    if (merge) {
      auto [it, added] = firstOfName.emplace(name, n);
      target = it->second;
      if (added) ++n;
    } else {
      ++n;
    }
    TProperty& entry = Properties[target];
    entry.Name = name;
    entry.SubName.clear();
    entry.SORTL = UpperCaseStr(name);
    entry.SORTLN = NameNumber(name);
    entry.Id = IdOfText(idField.AsString());
    const UnicodeString dataType = typeField.AsString();
    entry.DataType = platform::Trim(dataType).substr(0, 8);
    entry.Values.clear();
    entry.Path = visKey;
    if (v2) {
      entry.User = platform::Trim(userField->AsString());
      entry.Changed = dateField->AsDateTime();
      entry.Dimension = platform::Trim(dimField->AsString());
    } else {
      entry.User.clear();
      entry.Changed = 0;
      entry.Dimension.clear();
    }
    if (leaveOut) (*TextsLeftOut)[target] = leftOutField->AsInteger() != 0;
    if (!WithValues) {
      entry.Value = Variant::Null();
    } else if (Raw) {
      entry.Value = Variant(valueField->AsString());
    } else {
      entry.Value = TqzTypes::StrToVarExt(valueField->AsString(), dataType);
    }
  }
  if (ExtendList) Properties.resize(n);
  if (leaveOut) TextsLeftOut->resize(Properties.size());
}

bool TqzConfigManager::ReadValueText(const TIdType& id, UnicodeString& Text) {
  TqzQuery q(*this, u"SELECT KEYVALUE FROM " + Table() + u" WHERE ID = :ID", {{u"ID", IdVariant(id)}});
  if (!q.Found()) return false;
  q->First();
  Text = q->FieldByName(u"KEYVALUE").AsString();
  return true;
}

bool TqzConfigManager::GetNodeProperties(const UnicodeString& Key, TProperties& Properties, bool WithValues, bool Raw,
                                         bool CanCreate, const UnicodeString& PropertyPrefix,
                                         const AnsiString& /*ValueSeparator*/, bool ExtendList, bool WithBinaries,
                                         bool AllowDuplicates) {
  Message.clear();
  if (!ExtendList) Properties.clear();
  return Guarded(false, [&] {
    const UnicodeString visKey = Convert2VisKey(Key);
    const TIdType id = GetParentTreeId(visKey, CanCreate, false);
    if (IsTIdStringEmpty(id)) return !CanCreate;
    ReadNodeProperties(id, visKey, Properties, WithValues, Raw, PropertyPrefix, ExtendList, WithBinaries,
                       AllowDuplicates);
    return true;
  });
}

// =============================================================================================
// List helpers: the caller's list only, no table, no lock

int32_t TqzConfigManager::GetPropertyIdByName(const UnicodeString& Name, const TProperties& Properties) {
  const UnicodeString wanted = UpperCaseStr(Name);
  for (std::size_t i = 0; i < Properties.size(); ++i) {
    if (Properties[i].SORTL == wanted) return static_cast<int32_t>(i);
  }
  return -1;
}

Variant TqzConfigManager::GetPropertyValueByName(const UnicodeString& Name, const Variant& Default,
                                                 TProperties& Properties, bool Extend) {
  const int32_t index = GetPropertyIdByName(Name, Properties);
  if (index >= 0) return Properties[static_cast<std::size_t>(index)].Value;
  if (Extend) {
    TProperty entry;
    entry.Id = TqzTools::CreateId();
    entry.Name = Name;
    entry.SORTL = UpperCaseStr(Name);
    entry.SORTLN = NameNumber(entry.SORTL);
    entry.Value = Default;
    entry.DataType = TqzTypes::GetVarTypeStr(Default.VarType()).substr(0, 8);
    entry.User = Username;
    entry.Changed = platform::Now();
    Properties.push_back(std::move(entry));
  }
  return Default;
}

Variant TqzConfigManager::GetPropertyValueByName(const UnicodeString& Name, const Variant& Default,
                                                 const TProperties& Properties,
                                                 const TProperties& DefaultProperties) {
  Variant result = Default;
  int32_t index = GetPropertyIdByName(Name, DefaultProperties);
  if (index >= 0) result = DefaultProperties[static_cast<std::size_t>(index)].Value;
  index = GetPropertyIdByName(Name, Properties);
  if (index >= 0) result = Properties[static_cast<std::size_t>(index)].Value;
  return result;
}

bool TqzConfigManager::SetPropertyValueByName(const UnicodeString& Name, const UnicodeString& SubName,
                                              const Variant& Value, TProperties& Properties) {
  const int32_t index = GetPropertyIdByName(Name, Properties);
  const bool existed = index >= 0;
  if (!existed) Properties.emplace_back();
  TProperty& entry = existed ? Properties[static_cast<std::size_t>(index)] : Properties.back();
  entry.Name = Name;
  entry.SubName = SubName;
  entry.SORTL = UpperCaseStr(Name);
  entry.Value = Value;
  entry.DataType = TqzTypes::GetVarTypeStr(Value.VarType()).substr(0, 8);
  entry.User = Username;
  entry.Changed = platform::Now();
  return existed;
}

bool TqzConfigManager::SetPropertyValueByName(const UnicodeString& Name, const Variant& Value,
                                              TProperties& Properties) {
  return SetPropertyValueByName(Name, UnicodeString(), Value, Properties);
}

bool TqzConfigManager::DeletePropertyValueByName(const UnicodeString& Name, TProperties& Properties) {
  const int32_t index = GetPropertyIdByName(Name, Properties);
  if (index < 0) return false;
  Properties.erase(Properties.begin() + index);
  return true;
}
