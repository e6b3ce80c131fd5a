// TqzConfigManager: whether a node has child nodes (one-row query in the connection's dialect, or
// the key cache), whether it holds values, the values of a whole subtree and writing them back
// (also below another key), the values behind a name prefix, and the context-help lookup.
#include <algorithm>

#include "CodePage.h"
#include "Exceptions.h"
#include "SysUtils.h"
#include "qzConfigManager.h"
#include "qzConversion.h"
#include "qzStrings.h"

// =============================================================================================
// Child-node tests

bool TqzConfigManager::ChildTest(const TIdType& parentId) {
  UnicodeString sql;
  const UnicodeString condition = u" WHERE PARENTID = :PARENTID AND DATATYPE = :DATATYPE";
  switch (DatabaseType) {
    case qzDBT_MSSQL: sql = u"SELECT TOP 1 ID FROM " + Table() + condition; break;
    case qzDBT_MySQL: sql = u"SELECT ID FROM " + Table() + condition + u" LIMIT 0,1"; break;
    case qzDBT_Oracle: sql = u"SELECT ID FROM " + Table() + condition + u" AND ROWNUM <= 1"; break;
    default: throw Exception(u"unsupported database type");
  }
  TqzQuery q(*this, sql, {{u"PARENTID", IdVariant(parentId)}, {u"DATATYPE", Variant(u"TREE")}});
  return q.Found();
}

bool TqzConfigManager::ChildNodesExists(const UnicodeString& Key) {
  return Guarded(false, [&] {
    const TIdType id = GetParentTreeId(Key, true, false);
    if (IsTIdStringEmpty(id)) return false;
    return ChildTest(id);
  });
}

bool TqzConfigManager::ChildNodesExistsFast(const TIdType& ParentId) {
  if (IsTIdStringEmpty(ParentId)) {
    Message.clear();
    return false;
  }
  return Guarded(false, [&] {
    if (CacheEnabled) {
      std::lock_guard<std::recursive_mutex> guard(CacheLock);
      const uint32_t now = Ticks();
      auto live = [&](std::size_t slot) {
        return ConfigCache[slot].Active && now - ConfigCache[slot].Ticks < CacheLeaseTime;
      };
      // The node's own entry (the first slot holding the id), then a longer key below it.
      std::size_t own = ConfigCache.size();
      auto range = idIndex_.equal_range(ParentId.str());
      for (auto it = range.first; it != range.second; ++it) {
        if (live(it->second)) own = std::min(own, it->second);
      }
      if (own < ConfigCache.size()) {
        const UnicodeString& key = slotFold_[own];
        for (std::size_t slot = 0; !key.empty() && slot < ConfigCache.size(); ++slot) {
          if (live(slot) && slotFold_[slot].size() > key.size() && slotFold_[slot].starts_with(key)) return true;
        }
      }
    }
    return ChildTest(ParentId);
  });
}

bool TqzConfigManager::IsNodeEmpty(const UnicodeString& Key) {
  bool result = true;
  Message.clear();
  try {
    const TIdType id = GetParentTreeId(Convert2VisKey(Key), false, false);
    if (!IsTIdStringEmpty(id)) {
      TqzQuery q(*this,
                 u"SELECT COUNT(*) AS PROPCOUNT FROM " + Table() +
                     u" WHERE PARENTID = :PARENTID AND NOT(DATATYPE = :TREEDATATYPE)",
                 {{u"PARENTID", IdVariant(id)}, {u"TREEDATATYPE", Variant(u"TREE")}});
      result = q->Fields(0).AsInteger() == 0;
    }
  } catch (const Exception& e) {
    HandleError(e.Message);
  }
  return result;
}

// =============================================================================================
// Subtree values

bool TqzConfigManager::GetRecursiveNodeProperties(const UnicodeString& Key, TProperties& Properties, bool WithValues,
                                                  bool AddRelativePaths) {
  TConfigNodes nodes;
  GetRecursiveChildNodes(Key, nodes, true, true, true);
  for (const TConfigNode& node : nodes) {
    GetNodeProperties(node.Key, Properties, WithValues, false, true, UnicodeString(), AnsiString(), true, true, true);
  }
  if (AddRelativePaths) {
    const std::size_t cut = Convert2VisKey(Key).size();
    for (TProperty& entry : Properties) entry.Path = entry.Path.size() > cut ? entry.Path.substr(cut) : UnicodeString();
  }
  return true;
}

bool TqzConfigManager::GetNodeSubProperties(const UnicodeString& Key, TProperties& Properties,
                                            const UnicodeString& PropertyPrefix, bool WithValues, bool NumSort) {
  try {
    TProperties work;
    if (!GetNodeProperties(Key, work, WithValues, false, false, PropertyPrefix, AnsiString(), false, true, false)) {
      return false;
    }
    Properties.assign(work.size(), TProperty());
    std::size_t m = 0;
    const std::size_t p = PropertyPrefix.size();
    for (TProperty& entry : work) {
      if (entry.Name.size() <= p) continue;
      const char16_t separator = entry.Name[p];
      const bool spaced = separator == u' ' || separator == u'_';
      UnicodeString rest = platform::Trim(entry.Name.substr(p));
      const bool taken = p == 0 || (!rest.empty() && (spaced || TqzStrings::IsNumeric(rest, false, false)));
      if (!taken) continue;
      if (spaced) rest = platform::Trim(entry.Name.substr(p + 1));
      entry.SubName = rest;
      entry.SORTLN = static_cast<uint32_t>(TqzConversion::StrToInt(rest, 0));
      Properties[m++] = std::move(entry);
    }
    Properties.resize(m);
    if (NumSort && Properties.size() > 1 &&
        std::any_of(Properties.begin(), Properties.end(), [](const TProperty& e) { return e.SORTLN != 0; })) {
      std::stable_sort(Properties.begin(), Properties.end(),
                       [](const TProperty& a, const TProperty& b) { return a.SORTLN < b.SORTLN; });
    }
    return true;
  } catch (const Exception& e) {
    Message = e.Message;
    RaiseException(Message);
    return false;
  }
}

// A write that fails stops the list: the entries before it stay written, and the result is false
// with the write's Message (a failed write is never reported as success).
bool TqzConfigManager::SaveNodeProperties(const UnicodeString& Key, TProperties& Properties, bool ForceDataType,
                                          bool UsePropertyPath, const TProgressCallBackProc& CallBack) {
  Message.clear();
  try {
    const UnicodeString visKey = Convert2VisKey(Key);
    for (const TProperty& entry : Properties) {
      UnicodeString target = visKey;
      if (UsePropertyPath) target = visKey.empty() ? entry.Path : visKey + entry.Path;
      if (CallBack) CallBack(target + u"/" + entry.Name);
      const bool written = ForceDataType ? SetConfigValue(target, entry.Name, entry.Value, entry.DataType)
                                         : SetConfigValue(target, entry.Name, entry.Value);
      if (!written) throw Exception(Message);
    }
    return true;
  } catch (const Exception& e) {
    Message = e.Message;
    RaiseException(Message);
    return false;
  }
}

// =============================================================================================
// Context help

bool TqzConfigManager::Check4ContextHelp(const UnicodeString& Key, UnicodeString& HelpBuffer, TContextHelpArea& CHArea) {
  CHArea = CH_None;
  try {
    InitClassNodeIds(false);
    auto lookup = [&](const TIdType& node) {
      return TqzTypes::VarToStrExt(GetConfigValue(platform::AnsiToWide(node.str()), Key, Variant(u""), false));
    };
    HelpBuffer = lookup(KId_ClassesContextHelpSys);
    if (!HelpBuffer.empty()) {
      CHArea = CH_System;
    } else {
      HelpBuffer = lookup(KId_ClassesContextHelpCus);
      if (!HelpBuffer.empty()) CHArea = CH_Customer;
    }
    return !HelpBuffer.empty();
  } catch (const Exception& e) {
    Message = e.Message;
    HelpBuffer.clear();
    CHArea = CH_None;
    return false;
  }
}
