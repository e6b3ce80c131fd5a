// The keys of the export service's configuration text and how the service reads each value, for
// hosts and tools that look at a text before they pass it on (the service itself ignores a key it
// does not know, so a misspelt key would go unnoticed). The order is the one the configuration
// dialog writes; a test holds this list to what the service's writer produces.
#pragma once

#include <string_view>

enum class TExportConfigValue {
  Text,     // taken as written (or trimmed)
  YesWord,  // true for a yes-word of TqzConversion::StrToBool, false for any other text
  Row       // one row of a repeatable table ("ASSIGN", "ADDONSELECT")
};

struct TExportConfigKey {
  std::u16string_view Name;  // upper case; keys are compared upper-cased
  TExportConfigValue Value;
};

inline constexpr TExportConfigKey ExportConfigKeys[] = {
    {u"DOCSERVER", TExportConfigValue::Text},       {u"DOCSERVERPORT", TExportConfigValue::Text},
    {u"LINKCONSTR", TExportConfigValue::Text},      {u"KQFDBCONSTR", TExportConfigValue::Text},
    {u"KQFDBNAME", TExportConfigValue::Text},       {u"KQFTABLENAME", TExportConfigValue::Text},
    {u"KQFKEYFIELD", TExportConfigValue::Text},     {u"KQFBCFIELD", TExportConfigValue::Text},
    {u"BCPREFIX", TExportConfigValue::Text},        {u"CLIENT", TExportConfigValue::Text},
    {u"DOCTYPE", TExportConfigValue::Text},         {u"CHKPAGECOUNT", TExportConfigValue::YesWord},
    {u"ALLOWDOUBLPC", TExportConfigValue::YesWord}, {u"CREATELINK", TExportConfigValue::YesWord},
    {u"UNSHARP", TExportConfigValue::YesWord},      {u"TESTMODE", TExportConfigValue::YesWord},
    {u"AODBCONSTR", TExportConfigValue::Text},      {u"AOTABLE", TExportConfigValue::Text},
    {u"AOENABLED", TExportConfigValue::YesWord},    {u"ASSIGN", TExportConfigValue::Row},
    {u"ADDONSELECT", TExportConfigValue::Row},
};
