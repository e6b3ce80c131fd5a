// TqzConfigManager: key path forms, node resolution (path -> id, id -> path) and the key cache.
#include <algorithm>

#include "CaseMap.h"
#include "Clock.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "SysUtils.h"
#include "qzConfigManager.h"

namespace {

constexpr int kMaxResolveAttempts = 10;

UnicodeString ReplaceAll(const UnicodeString& text, std::u16string_view from, std::u16string_view to) {
  UnicodeString result;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t hit = text.find(from, pos);
    if (hit == UnicodeString::npos) break;
    result.append(text, pos, hit - pos);
    result += to;
    pos = hit + from.size();
  }
  result.append(text, pos, UnicodeString::npos);
  return result;
}

// The parts of a key in named relative form; an empty key has none.
std::vector<UnicodeString> KeyParts(const UnicodeString& key) {
  std::vector<UnicodeString> parts;
  const UnicodeString rel = TqzConfigManager::Convert2NamedRelKey(key);
  if (rel.empty()) return parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = rel.find(u'/', start);
    parts.push_back(rel.substr(start, slash == UnicodeString::npos ? UnicodeString::npos : slash - start));
    if (slash == UnicodeString::npos) break;
    start = slash + 1;
  }
  return parts;
}

}  // namespace

// =============================================================================================
// Key forms

UnicodeString TqzConfigManager::PrepareKey(const UnicodeString& Key) {
  UnicodeString t = platform::Trim(Key);
  if (!t.empty() && t.front() == u'/') t.erase(0, 1);
  if (!t.empty() && t.back() != u'/') t += u'/';
  return platform::Trim(t);
}

UnicodeString TqzConfigManager::Convert2VisKey(const UnicodeString& Key) {
  UnicodeString t = platform::Trim(Key);
  if (t.empty()) return t;
  if (t.front() != u'/') t.insert(t.begin(), u'/');
  if (t.back() == u'/') t.pop_back();
  return t;
}

UnicodeString TqzConfigManager::Convert2NamedRelKey(const UnicodeString& Key) {
  UnicodeString t = platform::Trim(Key);
  if (t.empty()) return t;
  if (t.front() == u'/') t.erase(0, 1);
  if (!t.empty() && t.back() == u'/') t.pop_back();
  return t;
}

UnicodeString TqzConfigManager::EncodeKeyPart(const UnicodeString& KeyPart) { return ReplaceAll(KeyPart, u"/", u"%2F"); }

UnicodeString TqzConfigManager::DecodeKeyPart(const UnicodeString& KeyPart) { return ReplaceAll(KeyPart, u"%2F", u"/"); }

UnicodeString TqzConfigManager::GetNextLowerKey(const UnicodeString& Key) {
  const UnicodeString rel = Convert2NamedRelKey(Key);
  const std::size_t slash = rel.rfind(u'/');
  if (slash == UnicodeString::npos) return {};
  return Convert2VisKey(rel.substr(0, slash));
}

TqzKeyCompareResult TqzConfigManager::CompareKeys(const UnicodeString& Key1, const UnicodeString& Key2) {
  const std::vector<UnicodeString> pattern = KeyParts(Key1);
  const std::vector<UnicodeString> parts = KeyParts(Key2);
  if (parts.size() < pattern.size()) return qzKCR_NoMatch;
  std::size_t matches = 0;
  for (std::size_t i = 0; i < parts.size() && i < pattern.size(); ++i) {
    if (pattern[i] == u"*" || pattern[i] == parts[i]) ++matches;
  }
  if (matches == 0) return qzKCR_NoMatch;
  if (parts.size() == pattern.size() && matches == parts.size()) return qzKCR_Identical;
  if (parts.size() > pattern.size() && matches == pattern.size()) {
    return parts.size() == pattern.size() + 1 ? qzKCR_OneLevelLower : qzKCR_MoreThanOneLevelLower;
  }
  return qzKCR_NoMatch;
}

// =============================================================================================
// Node resolution

TIdType TqzConfigManager::GetParentTreeId(const UnicodeString& Key, bool Create, bool ForceLoad) {
  const UnicodeString prepared = PrepareKey(Key);
  if (prepared.empty()) return {};  // the root has no row
  bool usePrefixCache = CacheEnabled;
  int failures = 0;
  int attempts = 0;
  for (;;) {
    try {
      TIdType id;
      if (!ForceLoad && GetCacheKeyId(prepared, id, true)) return id;
      id = WalkPath(prepared, Create, usePrefixCache);
      if (!IsTIdStringEmpty(id)) SetCacheKeyId(prepared, id);
      return id;
    } catch (const Exception& e) {
      ++failures;
      ++attempts;
      Message = e.Message;
      UnicodeString checkText;
      if (RunConnectionCheck(false, &checkText)) {
        --failures;
      } else {
        Message = checkText;
      }
      if (failures >= MaxDbRetry || attempts >= kMaxResolveAttempts) throw Exception(Message);
    }
  }
}

TIdType TqzConfigManager::WalkPath(const UnicodeString& prepared, bool Create, bool& usePrefixCache) {
  std::lock_guard<std::recursive_mutex> guard(DatabaseLock);
  TIdType id;
  UnicodeString prefix;
  std::size_t start = 0;
  while (start < prepared.size()) {
    std::size_t slash = prepared.find(u'/', start);
    if (slash == UnicodeString::npos) slash = prepared.size();
    UnicodeString part = prepared.substr(start, slash - start);
    start = slash + 1;
    if (part.empty()) part = u"Unnamed";
    prefix += part;
    prefix += u'/';
    if (usePrefixCache) {
      TIdType hit;
      if (GetCacheKeyId(prefix, hit, false)) {
        id = hit;
        continue;
      }
      usePrefixCache = false;
    }
    id = FindOrCreateNode(DecodeKeyPart(part), id, Create);
    if (IsTIdStringEmpty(id)) return {};
  }
  return id;
}

UnicodeString TqzConfigManager::NodeLookupSql(const TIdType& parent) const {
  return IsTIdStringEmpty(parent)
             ? SelectFrom(u"WHERE KEYNAME = :KEYNAME AND (PARENTID = :PARENTID OR PARENTID IS NULL) AND DATATYPE = :DATATYPE")
             : SelectFrom(u"WHERE KEYNAME = :KEYNAME AND PARENTID = :PARENTID AND DATATYPE = :DATATYPE");
}

TIdType TqzConfigManager::FindOrCreateNode(const UnicodeString& name, const TIdType& parent, bool Create,
                                           const TIdType& newId) {
  const UnicodeString sql = NodeLookupSql(parent);
  const TqzParams params = {{u"KEYNAME", Variant(name)}, {u"PARENTID", IdVariant(parent)}, {u"DATATYPE", Variant(u"TREE")}};
  {
    TqzQuery q(*this, sql, params);
    if (q.Found()) return IdOfText(q->FieldByName(u"ID").AsString());
  }
  if (!Create) return {};
  TIdType result;
  WithCreationLock([&] {
    TqzQuery q(*this, sql, params);  // again, under the lock: another process may have made it
    if (q.Found()) {
      result = IdOfText(q->FieldByName(u"ID").AsString());
      return;
    }
    const TIdType id = IsTIdStringEmpty(newId) ? NewId() : newId;
    q->Append();
    q->FieldByName(u"ID").SetValue(IdVariant(id));
    q->FieldByName(u"PARENTID").SetValue(IdVariant(parent));
    q->FieldByName(u"KEYNAME").SetAsString(name);
    q->FieldByName(u"DATATYPE").SetAsString(u"TREE");
    q->FieldByName(u"KEYVALUE").SetAsString(u"");
    ExtendRecord(*q);
    q.Post();
    result = id;
  });
  return result;
}

TIdType TqzConfigManager::GetParentTreeId(const UnicodeString& Key, const TIdType& DefKeyId, bool Create) {
  try {
    const UnicodeString prepared = PrepareKey(Key);
    TIdType id;
    std::size_t start = 0;
    while (start < prepared.size()) {
      std::size_t slash = prepared.find(u'/', start);
      if (slash == UnicodeString::npos) slash = prepared.size();
      const UnicodeString name = DecodeKeyPart(prepared.substr(start, slash - start));
      start = slash + 1;
      const bool last = start >= prepared.size();
      std::lock_guard<std::recursive_mutex> guard(DatabaseLock);
      const TIdType found = FindOrCreateNode(name, id, false);
      if (!IsTIdStringEmpty(found)) {
        id = found;
        if (Create && last && !IsTIdStringEmpty(DefKeyId) && DefKeyId != found) {
          // Re-key the node; the rows below follow it, so none loses its parent.
          try {
            ADOConnection->BeginTrans();
            ExecCommand(u"UPDATE " + Table() + u" SET ID = :NEWID WHERE ID = :OLDID",
                        {{u"NEWID", IdVariant(DefKeyId)}, {u"OLDID", IdVariant(found)}});
            if (TableStructureType == TST_V2 && TrackChanges) {
              ExecCommand(u"UPDATE " + Table() + u" SET CHANGEUSER = :CHANGEUSER, CHANGEDATE = :CHANGEDATE WHERE ID = :NEWID",
                          {{u"CHANGEUSER", Variant(Username)},
                           {u"CHANGEDATE", Variant::FromDate(platform::Now())},
                           {u"NEWID", IdVariant(DefKeyId)}});
            }
            ExecCommand(u"UPDATE " + Table() + u" SET PARENTID = :NEWID WHERE PARENTID = :OLDID",
                        {{u"NEWID", IdVariant(DefKeyId)}, {u"OLDID", IdVariant(found)}});
            ADOConnection->CommitTrans();
            id = DefKeyId;
            RemoveKeyIdFromCache(found);
            SetDatabaseChangeState();
          } catch (const Exception&) {
            try {
              if (ADOConnection && ADOConnection->InTransaction()) ADOConnection->RollbackTrans();
            } catch (...) {
            }
          }
        }
        continue;
      }
      if (!Create) return {};
      id = FindOrCreateNode(name, id, true, last ? DefKeyId : TIdType());
    }
    return id;
  } catch (const Exception& e) {
    Message = e.Message;
    UnicodeString checkText;
    if (!RunConnectionCheck(false, &checkText)) Message = checkText;
    throw Exception(Message);
  }
}

UnicodeString TqzConfigManager::GetKeyNameByNodeId(const TIdType& NodeId) {
  return Guarded(UnicodeString(), [&]() -> UnicodeString {
    UnicodeString cached;
    if (GetCacheKeyById(NodeId, cached)) return cached;
    UnicodeString path;
    bool isNode = false;
    {
      std::lock_guard<std::recursive_mutex> guard(DatabaseLock);
      TIdType current = NodeId;
      for (int level = 0;; ++level) {
        if (level >= kMaxTreeLevels) {
          throw Exception(u"the path of node " + platform::AnsiToWide(NodeId.str()) + u" has more than 256 levels");
        }
        TIdType parent;
        {
          TqzQuery q(*this, u"SELECT ID,PARENTID,KEYNAME,DATATYPE FROM " + Table() + u" WHERE ID = :NODEID",
                     {{u"NODEID", IdVariant(current)}});
          if (!q.Found()) break;
          const bool tree = platform::Trim(q->FieldByName(u"DATATYPE").AsString()) == u"TREE";
          if (level == 0) isNode = tree;
          if (tree) path = u"/" + EncodeKeyPart(q->FieldByName(u"KEYNAME").AsString()) + path;
          parent = IdOfText(q->FieldByName(u"PARENTID").AsString());
        }
        if (IsTIdStringEmpty(parent)) break;
        current = parent;
      }
    }
    if (isNode) SetCacheKeyId(path, NodeId);
    return path;
  });
}

// =============================================================================================
// Key cache

UnicodeString TqzConfigManager::CacheFold(const UnicodeString& preparedKey) const {
  switch (fold_.load()) {
    case Fold::Ascii: return platform::UpperAscii(std::u16string_view(preparedKey));
    case Fold::Unicode: return platform::UpperW(preparedKey);
    case Fold::Exact: break;
  }
  return preparedKey;
}

bool TqzConfigManager::InitCache() {
  std::lock_guard<std::recursive_mutex> guard(CacheLock);
  for (auto& entry : ConfigCache) entry = TConfigCacheRecord{};
  keyIndex_.clear();
  idIndex_.clear();
  slotFold_.assign(ConfigCache.size(), UnicodeString());
  freeSlots_.clear();
  for (std::size_t i = 0; i < ConfigCache.size(); ++i) freeSlots_.insert(freeSlots_.end(), i);
  return true;
}

bool TqzConfigManager::ResetCache() {
  InitCache();
  InitClassNodeIds(false);
  return true;
}

void TqzConfigManager::FreeCacheSlot(std::size_t slot) {
  TConfigCacheRecord& entry = ConfigCache[slot];
  if (!entry.Active) return;
  entry.Active = false;
  auto key = keyIndex_.find(slotFold_[slot]);
  if (key != keyIndex_.end() && key->second == slot) keyIndex_.erase(key);
  auto range = idIndex_.equal_range(entry.KeyId.str());
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second == slot) {
      idIndex_.erase(it);
      break;
    }
  }
  freeSlots_.insert(slot);
}

bool TqzConfigManager::LookupCache(const UnicodeString& preparedKey, TIdType& KeyId) {
  std::lock_guard<std::recursive_mutex> guard(CacheLock);
  auto it = keyIndex_.find(CacheFold(preparedKey));
  if (it == keyIndex_.end()) return false;
  const std::size_t slot = it->second;
  if (Ticks() - ConfigCache[slot].Ticks >= CacheLeaseTime) {
    FreeCacheSlot(slot);
    return false;
  }
  KeyId = ConfigCache[slot].KeyId;
  return true;
}

bool TqzConfigManager::GetCacheKeyId(const UnicodeString& Key, TIdType& KeyId, bool CheckState) {
  if (!CacheEnabled) return false;
  if (CheckState) CheckDatabaseChangeState();
  KeyId = TIdType();
  return LookupCache(Key, KeyId);
}

bool TqzConfigManager::GetCacheKeyById(const TIdType& KeyId, UnicodeString& Key) {
  if (!CacheEnabled) return false;
  CheckDatabaseChangeState();
  Key.clear();
  std::lock_guard<std::recursive_mutex> guard(CacheLock);
  std::vector<std::size_t> slots;
  auto range = idIndex_.equal_range(KeyId.str());
  for (auto it = range.first; it != range.second; ++it) slots.push_back(it->second);
  std::sort(slots.begin(), slots.end());
  const uint32_t now = Ticks();
  for (std::size_t slot : slots) {
    if (now - ConfigCache[slot].Ticks >= CacheLeaseTime) {
      FreeCacheSlot(slot);
      continue;
    }
    Key = ConfigCache[slot].Key;
    return true;
  }
  return false;
}

bool TqzConfigManager::SetCacheKeyId(const UnicodeString& Key, const TIdType& KeyId) {
  if (!CacheEnabled || Key.empty()) return false;
  const UnicodeString prepared = PrepareKey(Key);
  if (IsTIdStringEmpty(KeyId)) return false;
  std::lock_guard<std::recursive_mutex> guard(CacheLock);
  TIdType existing;
  if (LookupCache(prepared, existing)) return false;
  if (freeSlots_.empty()) return false;
  const std::size_t slot = *freeSlots_.begin();
  freeSlots_.erase(freeSlots_.begin());
  TConfigCacheRecord& entry = ConfigCache[slot];
  entry.Key = prepared;
  entry.KeyId = KeyId;
  entry.Ticks = Ticks();
  entry.Active = true;
  slotFold_[slot] = CacheFold(prepared);
  keyIndex_[slotFold_[slot]] = slot;
  idIndex_.emplace(KeyId.str(), slot);
  return true;
}

bool TqzConfigManager::RemoveKeyFromCache(const UnicodeString& Key) {
  const UnicodeString prepared = PrepareKey(Key);
  if (prepared.empty()) return true;
  std::lock_guard<std::recursive_mutex> guard(CacheLock);
  const UnicodeString folded = CacheFold(prepared);
  for (std::size_t slot = 0; slot < ConfigCache.size(); ++slot) {
    if (ConfigCache[slot].Active && slotFold_[slot].starts_with(folded)) FreeCacheSlot(slot);
  }
  return true;
}

bool TqzConfigManager::RemoveKeyIdFromCache(const TIdType& KeyId) {
  std::lock_guard<std::recursive_mutex> guard(CacheLock);
  std::vector<std::size_t> slots;
  auto range = idIndex_.equal_range(KeyId.str());
  for (auto it = range.first; it != range.second; ++it) slots.push_back(it->second);
  for (std::size_t slot : slots) FreeCacheSlot(slot);
  return true;
}
