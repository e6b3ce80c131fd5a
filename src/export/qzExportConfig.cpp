#include "qzExportConfig.h"

#include <unicode/uchar.h>

#include "CodePage.h"
#include "Exceptions.h"
#include "SysUtils.h"
#include "qzConversion.h"
#include "qzStrings.h"
#include "qzToolsEvo2.h"

namespace {

// Splits at `sep` into exactly `n` fields: missing ones empty, those after the n-th ignored.
template <size_t N>
std::array<UnicodeString, N> SplitFields(const UnicodeString& value, char16_t sep) {
  std::array<UnicodeString, N> out;
  size_t start = 0;
  for (size_t i = 0; i < N; ++i) {
    const size_t p = value.find(sep, start);
    if (p == UnicodeString::npos) {
      out[i] = value.substr(start);
      break;
    }
    out[i] = value.substr(start, p - start);
    start = p + 1;
  }
  return out;
}

UnicodeString BoolText(const UnicodeString& v) { return TqzConversion::BoolToStr(TqzConversion::StrToBool(v)); }

}  // namespace

// Configured names end up in statements as identifiers; only letters, digits, "_", "$", "#" and
// "." may stand in them, so no configuration text can change a statement's meaning.
bool TExportConfigText::IsSafeIdentifier(const UnicodeString& name) {
  for (char16_t c : name) {
    if (c == u'_' || c == u'$' || c == u'#' || c == u'.') continue;
    if (c >= 0xD800 && c <= 0xDFFF) return false;
    if (!u_isalnum(c)) return false;
  }
  return true;
}

namespace {

void CheckIdentifier(const char16_t* key, const UnicodeString& value) {
  if (!TExportConfigText::IsSafeIdentifier(value)) {
    throw EArgumentError(u"The configuration value of " + UnicodeString(key) + u" (\"" + value +
                         u"\") is not a valid database name: only letters, digits, \"_\", \"$\", \"#\" and \".\" are allowed");
  }
}

void CheckIdentifiers(const TExportConfig& config, const std::vector<TAddonSelectRow>& addonRows) {
  CheckIdentifier(u"KQFDBNAME", config.KqfDbName);
  CheckIdentifier(u"KQFTABLENAME", config.KqfTableName);
  CheckIdentifier(u"KQFBCFIELD", config.KqfBcField);
  CheckIdentifier(u"KQFKEYFIELD", config.KqfKeyField);
  CheckIdentifier(u"AOTABLE", config.AoTable);
  for (const auto& row : addonRows) {
    TStringList sources;
    TqzStrings::SplitStringW(row[0], u",", sources);
    for (int i = 0; i < sources.Count(); ++i) CheckIdentifier(u"ADDONSELECT", platform::Trim(sources.Get(i)));
    CheckIdentifier(u"ADDONSELECT", platform::Trim(row[1]));
  }
}

}  // namespace

TAssignRow TExportConfigText::ParseAssignRow(const UnicodeString& value) {
  TAssignRow row = SplitFields<9>(value, u';');
  row[3] = BoolText(row[3]);
  if (row[4].empty()) row[4] = u"Source";
  row[5] = BoolText(row[5]);
  row[6] = BoolText(row[6]);
  row[7] = platform::IntToStr(TqzConversion::StrToInt(row[7], 0));
  row[8] = BoolText(row[8]);
  return row;
}

TAddonSelectRow TExportConfigText::ParseAddonSelectRow(const UnicodeString& value) {
  return SplitFields<2>(value, u';');
}

namespace {

// The five values that every command 110 resets before it reads the text.
void ResetPerText(TExportConfig& cfg) {
  cfg.ChkPageCount = true;
  cfg.KqfDbConStr.clear();
  cfg.KqfDbName = u"KQFD";
  cfg.KqfTableName = u"ZDMNNCI";
  cfg.BcPrefix.clear();
}

}  // namespace

bool TExportConfigText::Apply(TExportModule& module, const UnicodeString& text, UnicodeString& error) {
  error.clear();
  TExportConfig& cfg = module.Config;
  const Utf8String utf8 = platform::WideToUtf8(text);

  // The tag reader works on 8-bit text; its items come back byte for byte (the ANSI widening is
  // reversible), so narrowing them again gives the UTF-8 bytes to decode.
  TStringList tags;
  AnsiString root;
  if (!ParseTagList(utf8, root, tags)) {
    // Not a tag list: the resets have happened and the text is kept, no key is applied.
    ResetPerText(cfg);
    if (module.BarcodePrefixList) module.BarcodePrefixList->Clear();
    module.ConfigurationString = utf8;
    return false;
  }

  // Applied to copies first: a text refused for a configured identifier leaves every setting in
  // force, the reset ones included, and the last accepted text in ConfigurationString.
  TExportConfig next = cfg;
  ResetPerText(next);
  std::vector<TAssignRow> assignRows;
  std::vector<TAddonSelectRow> addonRows;
  for (int i = 0; i < tags.Count(); ++i) {
    const UnicodeString tag = platform::Utf8ToWide(platform::WideToAnsi(tags.Get(i)));
    const auto eq = tag.find(u'=');
    if (eq == UnicodeString::npos || eq == 0) continue;
    const UnicodeString key = UpperCaseStr(tag.substr(0, eq));
    const UnicodeString value = tag.substr(eq + 1);
    const UnicodeString trimmed = platform::Trim(value);
    if (key == u"DOCSERVER") next.DocServer = value;
    else if (key == u"DOCSERVERPORT") next.DocServerPort = value;
    else if (key == u"LINKCONSTR") next.LinkConStr = value;
    else if (key == u"CREATELINK") next.CreateLink = TqzConversion::StrToBool(value);
    else if (key == u"KQFDBCONSTR") next.KqfDbConStr = value;
    else if (key == u"KQFDBNAME") next.KqfDbName = value;
    else if (key == u"KQFTABLENAME") next.KqfTableName = value;
    else if (key == u"KQFBCFIELD") next.KqfBcField = trimmed;
    else if (key == u"BCPREFIX") next.BcPrefix = trimmed;
    else if (key == u"CLIENT") next.Client = trimmed;
    else if (key == u"KQFKEYFIELD") next.KqfKeyField = trimmed;
    else if (key == u"DOCTYPE") {
      next.DocType = trimmed;
      next.DocTypeList.clear();
      TStringList items;
      TqzStrings::SplitStringW(trimmed, u",", items);
      for (int k = 0; k < items.Count(); ++k) {
        const UnicodeString item = platform::Trim(items.Get(k));
        if (!item.empty()) next.DocTypeList.push_back(item);
      }
    }
    else if (key == u"CHKPAGECOUNT") next.ChkPageCount = TqzConversion::StrToBool(value);
    else if (key == u"ALLOWDOUBLPC") next.AllowDoublPc = TqzConversion::StrToBool(value);
    else if (key == u"UNSHARP") next.Unsharp = TqzConversion::StrToBool(value);
    else if (key == u"TESTMODE") next.TestMode = TqzConversion::StrToBool(value);
    else if (key == u"AOENABLED") next.AoEnabled = TqzConversion::StrToBool(value);
    else if (key == u"AODBCONSTR") next.AoDbConStr = trimmed;
    else if (key == u"AOTABLE") next.AoTable = trimmed;
    else if (key == u"ASSIGN") assignRows.push_back(ParseAssignRow(value));
    else if (key == u"ADDONSELECT") addonRows.push_back(ParseAddonSelectRow(value));
  }
  if (platform::Trim(next.KqfBcField).empty()) next.KqfBcField = u"ZDMNBC";
  try {
    CheckIdentifiers(next, addonRows.empty() ? module.AddonSelectTable : addonRows);
  } catch (const EArgumentError& e) {
    error = e.Message;
    return false;
  }

  cfg = std::move(next);
  module.ConfigurationString = utf8;
  if (!assignRows.empty()) module.AssignTable = std::move(assignRows);
  if (!addonRows.empty()) module.AddonSelectTable = std::move(addonRows);
  if (module.BarcodePrefixList) {
    module.BarcodePrefixList->Clear();
    if (!cfg.BcPrefix.empty()) {
      TStringList items;
      TqzStrings::SplitStringW(cfg.BcPrefix, u",", items);
      for (int k = 0; k < items.Count(); ++k) module.BarcodePrefixList->Add(platform::Trim(items.Get(k)));
    }
  }
  return true;
}

UnicodeString TExportConfigText::Get(const TExportModule& module) {
  return platform::Utf8ToWide(module.ConfigurationString);
}

Utf8String TExportConfigText::Write(const TExportConfig& c, const std::vector<TAssignRow>& assignRows,
                                    const std::vector<TAddonSelectRow>& addonRows) {
  UnicodeString out = u"<CONFIG>";
  auto tag = [&](const char16_t* key, const UnicodeString& value) {
    out += u"<";
    out += key;
    out += u"=";
    out += value;
    out += u">";
  };
  auto flag = [](bool v) { return TqzConversion::BoolToStr(v); };
  tag(u"DOCSERVER", c.DocServer);
  tag(u"DOCSERVERPORT", c.DocServerPort);
  tag(u"LINKCONSTR", c.LinkConStr);
  tag(u"KQFDBCONSTR", c.KqfDbConStr);
  tag(u"KQFDBNAME", c.KqfDbName);
  tag(u"KQFTABLENAME", c.KqfTableName);
  tag(u"KQFKEYFIELD", c.KqfKeyField);
  tag(u"KQFBCFIELD", c.KqfBcField);
  tag(u"BCPREFIX", c.BcPrefix);
  tag(u"CLIENT", c.Client);
  tag(u"DOCTYPE", c.DocType);
  tag(u"CHKPAGECOUNT", flag(c.ChkPageCount));
  tag(u"ALLOWDOUBLPC", flag(c.AllowDoublPc));
  tag(u"CREATELINK", flag(c.CreateLink));
  tag(u"UNSHARP", flag(c.Unsharp));
  tag(u"TESTMODE", flag(c.TestMode));
  tag(u"AODBCONSTR", c.AoDbConStr);
  tag(u"AOTABLE", c.AoTable);
  tag(u"AOENABLED", flag(c.AoEnabled));
  for (const auto& row : assignRows) {
    UnicodeString v;
    for (size_t i = 0; i < row.size(); ++i) v += (i ? u";" : u"") + row[i];
    tag(u"ASSIGN", v);
  }
  for (const auto& row : addonRows) tag(u"ADDONSELECT", row[0] + u";" + row[1]);
  out += u"</CONFIG>";
  return platform::WideToUtf8(out);
}
