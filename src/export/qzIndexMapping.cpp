#include "qzIndexMapping.h"

#include "SysUtils.h"
#include "qzConversion.h"
#include "qzFieldReader.h"
#include "qzStrings.h"
#include "qzToolsEvo2.h"

namespace {

// Delphi's Copy: `count` characters from the 1-based position `index`, clamped to the text.
UnicodeString Copy(const UnicodeString& s, size_t index, size_t count) {
  if (index < 1 || index > s.size()) return {};
  return s.substr(index - 1, count);
}

UnicodeString AmountText(const UnicodeString& value) {
  UnicodeString w = platform::Trim(value);
  size_t zeros = 0;
  while (zeros < w.size() && w[zeros] == u'0') ++zeros;
  w.erase(0, zeros);
  if (w.size() < 3) w.insert(0, 3 - w.size(), u'0');
  return w.substr(0, w.size() - 2) + u"," + w.substr(w.size() - 2);
}

UnicodeString FieldName(const char16_t* prefix, int position) {
  return UnicodeString(prefix) + TqzStrings::FillIntNullW(position, 2);
}

}  // namespace

UnicodeString SwapDoubleQuotes(UnicodeString value) {
  for (char16_t& c : value) {
    if (c == u'"') c = u'\'';
  }
  return value;
}

UnicodeString ConvertAssignedValue(const TAssignRow& row, const UnicodeString& v) {
  if (TqzConversion::StrToBool(row[3])) {
    return Copy(v, 7, 2) + u"." + Copy(v, 5, 2) + u"." + Copy(v, 1, 4);
  }
  if (TqzConversion::StrToBool(row[5])) return AmountText(v);
  if (TqzConversion::StrToBool(row[6])) return TqzStrings::ClearLeadingZerosW(platform::Trim(v));
  const int64_t length = TqzConversion::StrToInt(row[7], 0);
  if (TqzConversion::StrToBool(row[8]) && length > 0) {
    return TqzStrings::FillStrNullW(platform::Trim(v), static_cast<int32_t>(std::min<int64_t>(length, INT32_MAX)));
  }
  return v;
}

int MapKqfRecord(TExportModule& module, platform::DbDataSet& record, int first, int last, const UnicodeString& doc) {
  int count = 0;
  TEbcdic* conv = module.Ebcdic.get();
  for (int nn = first; nn <= last; ++nn) {
    const UnicodeString name = UpperCaseStr(platform::Trim(GetFieldText(record, FieldName(u"ZDME", nn), conv)));
    if (name.empty()) continue;
    bool valueRead = false;
    UnicodeString value;
    for (const TAssignRow& row : module.AssignTable) {
      if (UpperCaseStr(row[4]) != u"SOURCE" || row[0] != doc || row[1] != name) continue;
      if (!valueRead) {
        value = GetFieldText(record, FieldName(u"ZDMV", nn), conv);
        valueRead = true;
      }
      ++count;
      module.IndexList->Add(row[2] + u"=" + ConvertAssignedValue(row, value));
    }
  }
  return count;
}

int LookupAddon(TExportModule& module) {
  platform::DbDataSet& main = *module.MainQuery;
  platform::DbDataSet& addon = *module.AddonQuery;
  TEbcdic* conv = module.Ebcdic.get();

  UnicodeString condition;
  std::vector<UnicodeString> keys;
  for (const TAddonSelectRow& row : module.AddonSelectTable) {
    const UnicodeString target = platform::Trim(row[1]);
    if (target.empty()) continue;
    UnicodeString key;
    TStringList sources;
    TqzStrings::SplitStringW(row[0], u",", sources);
    for (int i = 0; i < sources.Count(); ++i) key += GetFieldText(main, sources.Get(i), conv);
    keys.push_back(SwapDoubleQuotes(key));
    if (!condition.empty()) condition += u" AND ";
    condition += target + u" = :AOKEY" + platform::IntToStr(static_cast<int64_t>(keys.size()));
  }
  if (keys.empty()) return 0;

  addon.Close();
  addon.ParamCheck = true;
  addon.SQL.Clear();
  addon.SQL.Add(u"SELECT * FROM " + module.Config.AoTable);
  addon.SQL.Add(u"WHERE " + condition);
  for (size_t i = 0; i < keys.size(); ++i) {
    addon.ParamByName(u"AOKEY" + platform::IntToStr(static_cast<int64_t>(i + 1))).SetValue(Variant::FromOleStr(keys[i]));
  }
  addon.Open();

  int count = 0;
  for (addon.First(); !addon.Eof(); addon.Next()) {
    for (const TAssignRow& row : module.AssignTable) {
      if (UpperCaseStr(row[4]) != u"ADDON") continue;
      const UnicodeString value = GetFieldText(addon, row[1], conv);
      if (value.empty()) continue;
      ++count;
      TStringList& list = *module.IndexList;
      bool merged = false;
      for (int i = 0; i < list.Count(); ++i) {
        const UnicodeString entry = list.Get(i);
        const auto eq = entry.find(u'=');
        if (eq != UnicodeString::npos && entry.compare(0, eq, row[2]) == 0) {
          list.Put(i, entry + u" " + value);
          merged = true;
          break;
        }
      }
      if (!merged) list.Add(row[2] + u"=" + value);
    }
  }
  return count;
}

int MapIndexFields(TExportModule& module) {
  platform::DbDataSet& main = *module.MainQuery;
  TEbcdic* conv = module.Ebcdic.get();
  const UnicodeString doc = UpperCaseStr(platform::Trim(GetFieldText(main, u"ZDMDOC", conv)));

  int count = MapKqfRecord(module, main, 1, 32, doc);

  if (platform::Trim(GetFieldText(main, u"ZDMSUP", conv)) == u"1") {
    const UnicodeString number = GetFieldText(main, u"ZDMTNO", conv);
    if (!platform::Trim(number).empty()) {
      platform::DbDataSet& sup = *module.SupplementQuery;
      sup.Close();
      sup.ParamCheck = true;
      sup.SQL.Clear();
      sup.SQL.Add(u"SELECT * FROM " + module.Config.KqfDbName + u".ZDMNNCID");
      sup.SQL.Add(u"WHERE ZDMDNO = :ZDMTNO");
      sup.ParamByName(u"ZDMTNO").SetValue(Variant::FromOleStr(SwapDoubleQuotes(number)));
      sup.Open();
      if (!sup.IsEmpty()) {
        sup.First();
        count += MapKqfRecord(module, sup, 33, 64, doc);
      }
    }
  }

  if (module.Config.AoEnabled) count += LookupAddon(module);
  return count;
}
