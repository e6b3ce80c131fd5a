// TqzConfigManager: renaming a node (by id or key) with the sibling check, a free-text search
// over value names and texts with short snippets, in-store backups below "/kesta/Classes/Backups"
// with pruning, and the locale settings kept in "/kesta/Classes/Behaviour/Local".
#include "Clock.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "SysUtils.h"
#include "qzConfigManager.h"
#include "qzConversion.h"
#include "qzTools.h"
#include "qzToolsEvo2.h"

namespace {

constexpr std::size_t kSnippetLength = 50;

// The row's text around the first hit of the search text: up to 50 characters.
UnicodeString Snippet(const UnicodeString& text, const UnicodeString& plain) {
  const std::size_t hit = plain.empty() ? UnicodeString::npos : UpperCaseStr(text).find(UpperCaseStr(plain));
  const std::size_t position = hit == UnicodeString::npos ? 0 : hit + 1;  // 1-based, 0 when absent
  if (position < 51) return text.size() <= kSnippetLength ? text : text.substr(0, kSnippetLength) + u"...";
  return u"..." + text.substr(position - 21, kSnippetLength) + u"...";
}

}  // namespace

// =============================================================================================
// Rename

bool TqzConfigManager::RenameKeyById(const TIdType& KeyId, const UnicodeString& NewName) {
  try {
    if (platform::Trim(NewName).empty()) throw Exception(u"empty node names not allowed here!");
    const UnicodeString name = DecodeKeyPart(NewName);
    // The old path and every path below it leave this process's cache.
    const UnicodeString oldKey = GetKeyNameByNodeId(KeyId);
    if (!oldKey.empty()) RemoveKeyFromCache(oldKey);
    RemoveKeyIdFromCache(KeyId);
    SetDatabaseChangeState();
    std::lock_guard<std::recursive_mutex> guard(DatabaseLock);
    {
      TqzQuery q(*this,
                 u"SELECT COUNT(*) AS KEYNAMECOUNT FROM " + Table() + u" WHERE PARENTID = (SELECT PARENTID FROM " +
                     Table() + u" WHERE ID = :ID) AND KEYNAME = :KEYNAME",
                 {{u"ID", IdVariant(KeyId)}, {u"KEYNAME", Variant(name)}});
      if (q->Fields(0).AsInteger() != 0) {
        Message = u"configuration node with name " + name + u" already exists!";
        return false;
      }
    }
    ExecCommand(u"UPDATE " + Table() + u" SET KEYNAME = :KEYNAME WHERE ID = :ID",
                {{u"KEYNAME", Variant(name)}, {u"ID", IdVariant(KeyId)}});
    Message.clear();
    return true;
  } catch (const Exception& e) {
    HandleError(e.Message);
    return false;
  }
}

bool TqzConfigManager::RenameKey(const UnicodeString& Key, const UnicodeString& NewName) {
  TIdType id;
  try {
    id = GetParentTreeId(Key, false, false);
  } catch (const Exception& e) {
    Message = e.Message;
    RaiseException(Message);
    return false;
  }
  if (IsTIdStringEmpty(id)) {
    Message.clear();
    return false;
  }
  return RenameKeyById(id, NewName);
}

// =============================================================================================
// Search

bool TqzConfigManager::Search(const UnicodeString& Value, int32_t MaxHits, TSearchResults& Results) {
  try {
    {
      std::lock_guard<std::recursive_mutex> guard(DatabaseLock);
      UnicodeString pattern;   // "*" and "%" are wildcards, everything else literal
      UnicodeString plain;     // the text without wildcards
      bool wildcard = false;
      for (char16_t c : Value) {
        if (c == u'*' || c == u'%') {
          pattern += u'%';
          wildcard = true;
          continue;
        }
        if (c == u'_' || c == u'!') pattern += u'!';
        pattern += c;
        plain += c;
      }
      if (Value.empty()) {
        pattern = u"%";
      } else if (!wildcard) {
        pattern = u"%" + pattern + u"%";
      }
      Results.clear();
      TqzQuery q(*this,
                 u"SELECT ID,KEYNAME,KEYVALUE,DATATYPE FROM " + Table() +
                     u" WHERE (KEYNAME LIKE :QUERYVAL1 ESCAPE '!' OR KEYVALUE LIKE :QUERYVAL2 ESCAPE '!') AND "
                     u"(DATATYPE <> :DATATYPEVAL) ORDER BY KEYNAME",
                 {{u"QUERYVAL1", Variant(pattern)}, {u"QUERYVAL2", Variant(pattern)}, {u"DATATYPEVAL", Variant(u"BINARY")}});
      platform::DbField& idField = q->FieldByName(u"ID");
      platform::DbField& nameField = q->FieldByName(u"KEYNAME");
      platform::DbField& valueField = q->FieldByName(u"KEYVALUE");
      platform::DbField& typeField = q->FieldByName(u"DATATYPE");
      for (q->First(); !q->Eof(); q->Next()) {
        TSearchResult hit;
        hit.Id = TIdType(platform::WideToAnsi(idField.AsString()));
        if (platform::Trim(typeField.AsString()) != u"TREE") hit.Name = nameField.AsString();
        hit.Value = Snippet(valueField.AsString(), plain);
        Results.push_back(std::move(hit));
        if (MaxHits > 0 && static_cast<int32_t>(Results.size()) >= MaxHits) break;
      }
    }
    for (TSearchResult& hit : Results) hit.Key = Convert2VisKey(GetKeyNameByNodeId(hit.Id));
    Message.clear();
    return true;
  } catch (const Exception& e) {
    HandleError(e.Message);
    return false;
  }
}

// =============================================================================================
// In-store backups

bool TqzConfigManager::CreateBackup(const UnicodeString& Key, const TStrings& Properties, const UnicodeString& Comment,
                                    int32_t MaxBackups, bool Persistent) {
  const UnicodeString root = u"/kesta/Classes/Backups" + Convert2VisKey(Key);
  if (MaxBackups >= 0) {
    TConfigNodes backups;
    GetChildNodes(root, backups, false);
    int64_t excess = static_cast<int64_t>(backups.size()) - MaxBackups;
    for (const TConfigNode& backup : backups) {
      if (excess <= 0) break;
      if (ValueIsTrue(GetConfigValue(Convert2VisKey(backup.Key), u"Persistent", Variant(false), false))) continue;
      DeleteConfigTree(backup.Key);
      --excess;
    }
  }
  const TDateTime now = platform::Now();
  const UnicodeString target = root + u"/Backup_" + StampText(now);
  for (int i = 0; i < Properties.Count(); ++i) {
    const UnicodeString name = Properties[i];
    if (!ConfigValueExists(Key, name)) continue;
    SetConfigValue(target, name, GetConfigValue(Key, name, Variant::Null(), false), false);
  }
  SetConfigValue(target, u"User", Variant(TqzTools::GetUserNameEx(8)));
  Variant changed = GetConfigValue(Key, u"ChangeDate", Variant::Null(), false);
  if (changed.IsEmptyOrNull()) changed = Variant::FromDate(now);
  SetConfigValue(target, u"Date", changed);
  SetConfigValue(target, u"CreationDate", Variant::FromDate(now));
  if (Persistent) SetConfigValue(target, u"Persistent", Variant(true));
  if (!Comment.empty()) SetConfigValue(target, u"Comment", Variant(Comment));
  return true;
}

// =============================================================================================
// Locale settings

platform::TFormatSettings TqzConfigManager::GetN7FormatSettings() {
  InitClassNodeIds(false);
  platform::TFormatSettings settings = platform::GetFormatSettings();
  const UnicodeString node = platform::AnsiToWide(KId_ClassesLocale.str());
  auto text = [&](const char16_t* name, const UnicodeString& def) {
    const Variant stored = GetConfigValue(node, name, Variant(def), true);
    return platform::AnsiToWide(platform::WideToAnsi(TqzTypes::VarToStrExt(stored)));
  };
  settings.ShortDateFormat = text(u"ShortDateFormat", settings.ShortDateFormat);
  settings.LongDateFormat = text(u"LongDateFormat", settings.LongDateFormat);
  settings.ShortTimeFormat = text(u"ShortTimeFormat", settings.ShortTimeFormat);
  settings.LongTimeFormat = text(u"LongTimeFormat", settings.LongTimeFormat);
  auto separator = [&](const char16_t* name, char16_t& field) {
    const UnicodeString value = text(name, UnicodeString(1, field));
    if (!value.empty()) field = value[0];
  };
  separator(u"DecimalSeparator", settings.DecimalSeparator);
  separator(u"ThousandSeparator", settings.ThousandSeparator);
  separator(u"DateSeparator", settings.DateSeparator);
  separator(u"TimeSeparator", settings.TimeSeparator);
  return settings;
}
