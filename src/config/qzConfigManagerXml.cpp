// TqzConfigManager: the values of a node, or the list of its child nodes, as an XML configuration
// text and back; the parts of a key and its last part; the script and resource namespace test;
// a short form of a long key for display.
#include <array>

#include "CodePage.h"
#include "Exceptions.h"
#include "qzConfigManager.h"
#include "qzConfigTools.h"
#include "qzToolsEvo2.h"

namespace {

// Namespace prefixes in the upper-case prepared key form.
constexpr std::array<std::u16string_view, 11> kNameSpaces = {
    u"KESTA/RESOURCES/",        u"KESTA/SCRIPTS/ADDINS/",   u"KESTA/SCRIPTS/MODULE12/",
    u"KESTA/SCRIPTS/COMPONENTS/", u"KESTA/SCRIPTS/FIELDS/", u"KESTA/SCRIPTS/INCLUDES/",
    u"KESTA/SCRIPTS/MODULE04/", u"KESTA/SCRIPTS/PROCESS/",  u"KESTA/SCRIPTS/RECOGNITION/",
    u"KESTA/SCRIPTS/MODULE11/", u"KESTA/SCRIPTS/MODULE05/"};

constexpr std::u16string_view kShortPathFiller = u".../";

}  // namespace

AnsiString TqzConfigManager::GetNodeXML(const UnicodeString& Key) {
  TProperties values;
  if (!GetNodeProperties(Key, values, true, false, false, UnicodeString(), AnsiString(), false, true, false)) return {};
  TqzConfigTools tools;
  tools.AllowMultiParams = false;
  for (const TProperty& entry : values) tools.AddConfigParam(entry.Name, entry.Value, false, false);
  return tools.BuiltConfigString(u"qzConfig", false, true, false);
}

AnsiString TqzConfigManager::GetNodesXML(const UnicodeString& Key, bool Recursive, bool RelativeNames, bool JustNames) {
  TConfigNodes nodes;
  if (Recursive) {
    GetRecursiveChildNodes(Key, nodes, true, true, false);
  } else {
    GetChildNodes(Key, nodes, false);
  }
  TqzConfigTools tools;
  tools.AllowMultiParams = true;
  for (const TConfigNode& node : nodes) {
    const UnicodeString& text = !RelativeNames ? node.Key : (JustNames ? node.Name : node.RelKey);
    tools.AddConfigParam(UnicodeString(u"Node"), Variant(text), false, false);
  }
  return tools.BuiltConfigString(u"qzNodes", false, true, false);
}

// Every parsed value is written, also after a failed write; the result is false (with the first
// failure's Message) when any write failed.
bool TqzConfigManager::SaveNodeXML(const UnicodeString& Key, const AnsiString& XML) {
  TqzConfigTools tools;
  if (!tools.ParseConfigString(XML)) {
    Message = tools.Message;
    return false;
  }
  bool all = true;
  UnicodeString firstError;
  for (const TqzConfigPart& part : tools.ConfigList) {
    if (!part.Active) continue;
    if (!SetConfigValue(Key, part.Param, part.Value) && all) {
      all = false;
      firstError = Message;
    }
  }
  Message = firstError;
  return all;
}

bool TqzConfigManager::GetNodeParts(const UnicodeString& Key, TStrings& NodeParts) {
  NodeParts.Clear();
  const UnicodeString prepared = PrepareKey(Key);
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = prepared.find(u'/', start);
    if (slash == UnicodeString::npos) break;
    NodeParts.Add(prepared.substr(start, slash - start));
    start = slash + 1;
  }
  return true;
}

UnicodeString TqzConfigManager::GetTopNodeName(const UnicodeString& Key) {
  const UnicodeString prepared = PrepareKey(Key);
  if (prepared.empty()) return {};
  const std::size_t end = prepared.size() - 1;  // the closing "/"
  const std::size_t slash = end == 0 ? UnicodeString::npos : prepared.rfind(u'/', end - 1);
  return slash == UnicodeString::npos ? prepared.substr(0, end) : prepared.substr(slash + 1, end - slash - 1);
}

bool TqzConfigManager::IsNameSpaceNode(const UnicodeString& Key) {
  const UnicodeString upper = UpperCaseStr(PrepareKey(Key));
  for (std::u16string_view prefix : kNameSpaces) {
    if (upper.starts_with(prefix)) return true;
  }
  return false;
}

UnicodeString TqzConfigManager::GetShortPath(const UnicodeString& Path, int32_t MaxLen) {
  if (static_cast<int64_t>(Path.size()) <= MaxLen) return Path;
  const UnicodeString name = GetTopNodeName(Path);
  const int64_t limit = int64_t{MaxLen} - static_cast<int64_t>(name.size()) - static_cast<int64_t>(kShortPathFiller.size());
  UnicodeString head;
  std::size_t restStart = 0;
  for (;;) {
    const std::size_t slash = Path.find(u'/', restStart);
    if (slash == UnicodeString::npos) break;
    const std::size_t partLength = slash - restStart + 1;  // the part with its "/"
    if (static_cast<int64_t>(partLength + head.size()) >= limit) break;
    head.append(Path, restStart, partLength);
    restStart = slash + 1;
  }
  return head + UnicodeString(kShortPathFiller) + name;
}
