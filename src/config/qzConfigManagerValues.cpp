// TqzConfigManager: reading, writing, testing and deleting single values; change ticks and
// per-flag signals.
#include "CaseMap.h"
#include "Clock.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "SysUtils.h"
#include "qzConfigManager.h"
#include "qzToolsEvo2.h"

namespace {

const UnicodeString kStatusesKey = u"/kesta/Classes/Statuses";

bool IsHexDigit(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
}

Variant StoredValue(TqzADODataSet& data) {
  return TqzTypes::StrToVarExt(data.FieldByName(u"KEYVALUE").AsString(), data.FieldByName(u"DATATYPE").AsString());
}

}  // namespace

UnicodeString TqzConfigManager::EscapeLike(const UnicodeString& text) {
  UnicodeString result;
  for (char16_t c : text) {
    if (c == u'%' || c == u'_' || c == u'!') result += u'!';
    result += c;
  }
  return result;
}

bool TqzConfigManager::IsNodeIdText(const UnicodeString& Key) {
  return Key.size() == 32 && std::all_of(Key.begin(), Key.end(), IsHexDigit);
}

TIdType TqzConfigManager::NodeIdOfKey(const UnicodeString& Key, bool Create, bool AllowId) {
  if (AllowId && Key.find(u'/') == UnicodeString::npos) {
    const UnicodeString trimmed = platform::Trim(Key);
    if (IsNodeIdText(trimmed)) return TIdType(platform::WideToAnsi(trimmed));
  }
  return GetParentTreeId(Key, Create, false);
}

uint32_t TqzConfigManager::TicksOfValue(const Variant& v) {
  try {
    return v.IsEmptyOrNull() ? 0 : static_cast<uint32_t>(v.AsInt64());
  } catch (...) {
    return 0;
  }
}

// =============================================================================================
// Writing

bool TqzConfigManager::WriteValue(const UnicodeString& Key, const UnicodeString& VarName, const Variant& Value,
                                  const UnicodeString& typeName, const UnicodeString& compareType, bool compare,
                                  const std::function<void(TqzADODataSet&)>& extend) {
  return Guarded(false, [&] {
    const TIdType node = GetParentTreeId(Key, true, false);
    const UnicodeString name = platform::Trim(VarName);
    if (IsTIdStringEmpty(node) || name.empty()) return true;
    const UnicodeString text = TqzTypes::VarToStrExt(Value);
    std::lock_guard<std::recursive_mutex> guard(DatabaseLock);
    const UnicodeString sql = SelectFrom(u"WHERE KEYNAME = :KEYNAME AND PARENTID = :PARENTID AND NOT DATATYPE = :TREEDATATYPE");
    const TqzParams params = {{u"KEYNAME", Variant(name)}, {u"PARENTID", IdVariant(node)}, {u"TREEDATATYPE", Variant(u"TREE")}};
    auto write = [&](TqzQuery& q) {
      if (q.Found()) {
        if (compare && q->FieldByName(u"KEYVALUE").AsString() == text &&
            q->FieldByName(u"DATATYPE").AsString() == compareType) {
          return;  // unchanged
        }
        q->Edit();
      } else {
        q->Append();
        q->FieldByName(u"ID").SetValue(IdVariant(NewId()));
        q->FieldByName(u"PARENTID").SetValue(IdVariant(node));
      }
      q->FieldByName(u"KEYNAME").SetAsString(name);
      q->FieldByName(u"DATATYPE").SetAsString(typeName);
      q->FieldByName(u"KEYVALUE").SetAsString(text);
      extend(*q);
      q.Post();
    };
    {
      TqzQuery q(*this, sql, params);
      if (q.Found()) {
        write(q);
        return true;
      }
    }
    WithCreationLock([&] {
      TqzQuery q(*this, sql, params);
      write(q);
    });
    return true;
  });
}

bool TqzConfigManager::SetConfigValue(const UnicodeString& Key, const UnicodeString& VarName, const Variant& Value) {
  const UnicodeString type = TqzTypes::GetVarTypeStr(Value.VarType()).substr(0, 8);
  return WriteValue(Key, VarName, Value, type, type, true, [this](TqzADODataSet& data) { ExtendRecord(data); });
}

bool TqzConfigManager::SetConfigValue(const UnicodeString& Key, const UnicodeString& VarName, const Variant& Value,
                                      bool KeepUserContent) {
  if (KeepUserContent && ConfigValueChangedByUser(Key, VarName)) return true;
  return SetConfigValue(Key, VarName, Value);
}

bool TqzConfigManager::SetConfigValue(const UnicodeString& Key, const UnicodeString& VarName, const Variant& Value,
                                      const TDataTypeStr& DataType) {
  return SetConfigValue(Key, VarName, Value, DataType, Username, platform::Now(), false);
}

bool TqzConfigManager::SetConfigValue(const UnicodeString& Key, const UnicodeString& VarName, const Variant& Value,
                                      const TDataTypeStr& DataType, bool KeepUserContent) {
  if (KeepUserContent && ConfigValueChangedByUser(Key, VarName)) return true;
  return SetConfigValue(Key, VarName, Value, DataType);
}

bool TqzConfigManager::SetConfigValue(const UnicodeString& Key, const UnicodeString& VarName, const Variant& Value,
                                      const TDataTypeStr& DataType, const UnicodeString& User, TDateTime Date,
                                      bool ForceTrackChanges) {
  UnicodeString type;
  if (DataType.empty()) {
    type = TqzTypes::GetVarTypeStr(Value.VarType());
  } else {
    type = UpperCaseStr(DataType);
    if (platform::Trim(type) == u"BOOL") type = u"BOOLEAN";
  }
  type = type.substr(0, 8);
  // A BINARY value is written without reading back its (possibly long) stored text; the stored
  // type is compared with the argument exactly as passed.
  const bool compare = DataType != u"BINARY";
  return WriteValue(Key, VarName, Value, type, DataType, compare, [&](TqzADODataSet& data) {
    ExtendRecord(data, User, Date, ForceTrackChanges);
  });
}

// =============================================================================================
// Reading and testing

Variant TqzConfigManager::GetConfigValue(const UnicodeString& Key, const UnicodeString& VarName, const Variant& Default,
                                         bool Create) {
  return Guarded(Variant(), [&]() -> Variant {
    const UnicodeString name = platform::Trim(VarName);
    const TIdType node = NodeIdOfKey(Key, Create, true);
    if (IsTIdStringEmpty(node)) return Default;
    std::lock_guard<std::recursive_mutex> guard(DatabaseLock);
    const UnicodeString sql = SelectFrom(u"WHERE KEYNAME = :KEYNAME AND PARENTID = :PARENTID AND NOT DATATYPE = :TREEDATATYPE");
    const TqzParams params = {{u"KEYNAME", Variant(name)}, {u"PARENTID", IdVariant(node)}, {u"TREEDATATYPE", Variant(u"TREE")}};
    {
      TqzQuery q(*this, sql, params);
      if (q.Found()) return StoredValue(*q);
    }
    if (!Create) return Default;
    Variant result = Default;
    WithCreationLock([&] {
      TqzQuery q(*this, sql, params);
      if (q.Found()) {
        result = StoredValue(*q);
        return;
      }
      q->Append();
      q->FieldByName(u"ID").SetValue(IdVariant(NewId()));
      q->FieldByName(u"PARENTID").SetValue(IdVariant(node));
      q->FieldByName(u"KEYNAME").SetAsString(name);
      q->FieldByName(u"DATATYPE").SetAsString(TqzTypes::GetVarTypeStr(Default.VarType()).substr(0, 8));
      q->FieldByName(u"KEYVALUE").SetAsString(TqzTypes::VarToStrExt(Default));
      ExtendRecord(*q);
      q.Post();
    });
    return result;
  });
}

Variant TqzConfigManager::GetConfigValueById(const TIdType& Id, const Variant& Default, bool Raw) {
  return Guarded(Variant(), [&]() -> Variant {
    TqzQuery q(*this, SelectFrom(u"WHERE ID = :ID"), {{u"ID", IdVariant(Id)}});
    if (!q.Found()) return Default;
    if (Raw) return Variant(q->FieldByName(u"KEYVALUE").AsString());
    return StoredValue(*q);
  });
}

bool TqzConfigManager::ConfigValueExists(const UnicodeString& Key, const UnicodeString& VarName) {
  return Guarded(false, [&] {
    const TIdType node = NodeIdOfKey(Key, false, true);
    if (IsTIdStringEmpty(node)) return false;
    TqzQuery q(*this, SelectFrom(u"WHERE KEYNAME = :KEYNAME AND PARENTID = :PARENTID AND NOT DATATYPE = :TREEDATATYPE"),
               {{u"KEYNAME", Variant(platform::Trim(VarName))},
                {u"PARENTID", IdVariant(node)},
                {u"TREEDATATYPE", Variant(u"TREE")}});
    return q.Found();
  });
}

bool TqzConfigManager::ConfigValueChangedByUser(const UnicodeString& Key, const UnicodeString& VarName) {
  if (TableStructureType != TST_V2) return false;
  return Guarded(false, [&] {
    const TIdType node = NodeIdOfKey(Key, false, true);
    if (IsTIdStringEmpty(node)) return false;
    TqzQuery q(*this,
               u"SELECT CHANGEUSER FROM " + Table() +
                   u" WHERE KEYNAME = :KEYNAME AND PARENTID = :PARENTID AND NOT DATATYPE = :TREEDATATYPE",
               {{u"KEYNAME", Variant(platform::Trim(VarName))},
                {u"PARENTID", IdVariant(node)},
                {u"TREEDATATYPE", Variant(u"TREE")}});
    return q.Found() && !q->Fields(0).AsString().empty();
  });
}

// =============================================================================================
// Deleting

bool TqzConfigManager::DeleteConfigValue(const UnicodeString& Key, const UnicodeString& VarName, bool DeleteAlike) {
  return Guarded(false, [&] {
    const UnicodeString name = platform::Trim(VarName);
    const TIdType node = GetParentTreeId(Key, false, false);
    if (IsTIdStringEmpty(node)) return false;
    if (DeleteAlike) {
      ExecCommand(u"DELETE FROM " + Table() +
                      u" WHERE KEYNAME LIKE :KEYNAME ESCAPE '!' AND PARENTID = :PARENTID AND NOT DATATYPE = :TREEDATATYPE",
                  {{u"KEYNAME", Variant(EscapeLike(name) + u"%")},
                   {u"PARENTID", IdVariant(node)},
                   {u"TREEDATATYPE", Variant(u"TREE")}});
    } else {
      ExecCommand(u"DELETE FROM " + Table() +
                      u" WHERE KEYNAME = :KEYNAME AND PARENTID = :PARENTID AND NOT DATATYPE = :TREEDATATYPE",
                  {{u"KEYNAME", Variant(name)}, {u"PARENTID", IdVariant(node)}, {u"TREEDATATYPE", Variant(u"TREE")}});
    }
    return true;
  });
}

bool TqzConfigManager::DeleteConfigValueById(const TIdType& PropertyId) {
  return Guarded(false, [&] {
    ExecCommand(u"DELETE FROM " + Table() + u" WHERE ID = :ID AND NOT DATATYPE = :TREEDATATYPE",
                {{u"ID", IdVariant(PropertyId)}, {u"TREEDATATYPE", Variant(u"TREE")}});
    return true;
  });
}

// =============================================================================================
// Change ticks

bool TqzConfigManager::SetDatabaseChangeState() {
  if (!n7Mode) return true;
  const uint32_t now = Ticks();
  const bool result = SetConfigValue(kStatusesKey, u"DatabaseChangeTicks", Variant::FromInteger(varLongWord, now));
  std::lock_guard<std::recursive_mutex> guard(DatabaseLock);
  LastDbChangeTicks = now;
  return result;
}

bool TqzConfigManager::CheckDatabaseChangeState() {
  return Guarded(false, [&] {
    std::lock_guard<std::recursive_mutex> guard(DatabaseLock);
    InitClassNodeIds(false);
    const uint32_t now = Ticks();
    if (now - LastDbChangeTicksTest <= CacheCheckTime) return true;
    LastDbChangeTicksTest = now;
    const Variant stored = GetConfigValue(platform::AnsiToWide(KId_ClassesStatus.str()), u"DatabaseChangeTicks",
                                          Variant::FromInteger(varLongWord, LastDbChangeTicks), true);
    const uint32_t read = TicksOfValue(stored);
    if (read == LastDbChangeTicks) return true;
    LastDbChangeTicks = read;
    ResetCache();
    return false;
  });
}

bool TqzConfigManager::SetSpecificDatabaseChangeState(const UnicodeString& Flag) {
  return SetConfigValue(kStatusesKey, Flag, Variant::FromInteger(varLongWord, Ticks()));
}

bool TqzConfigManager::CheckSpecificDatabaseChangeState(const UnicodeString& Flag) {
  return Guarded(false, [&] {
    std::lock_guard<std::recursive_mutex> guard(DatabaseLock);
    std::size_t index = 0;
    while (index < DbChangeFlags.size() && DbChangeFlags[index].Flag != Flag) ++index;
    if (index == DbChangeFlags.size()) DbChangeFlags.push_back(TDbChangeFlag{Flag, 0, 0, false});
    const uint32_t now = Ticks();
    if (DbChangeFlags[index].Read && now - DbChangeFlags[index].ReadTicks <= CacheCheckTime) return true;
    InitClassNodeIds(false);
    const Variant stored =
        GetConfigValue(platform::AnsiToWide(KId_ClassesStatus.str()), Flag, Variant::FromInteger(varShortInt, -1), true);
    TDbChangeFlag& entry = DbChangeFlags[index];
    entry.Read = true;
    entry.ReadTicks = now;
    const uint32_t read = TicksOfValue(stored);
    if (read == entry.Ticks) return true;
    entry.Ticks = read;
    return false;
  });
}
