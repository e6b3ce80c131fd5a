#include "Checks.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "CaseMap.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "Socket.h"
#include "StringList.h"
#include "SysUtils.h"
#include "export/qzExportConfigKeys.h"
#include "qzConversion.h"
#include "qzMath.h"
#include "qzToolsEvo2.h"

namespace kqfexport {

namespace {

// Texts that mean "no" to an administrator, compared trimmed and upper-cased: a switch with one
// of these reads false as intended. Any other text that is not a yes-word also reads false, but
// is more likely meant as "yes" ("On", "Ture").
constexpr std::array<std::u16string_view, 9> kNoWords = {u"", u"0", u"N", u"NO", u"NEIN", u"FALSE", u"FALSCH",
                                                         u"OFF", u"AUS"};

// The list of yes-words for a warning text.
std::string YesWordList() {
  std::string out;
  for (const auto& w : TqzConversion::YesWords()) out += (out.empty() ? "" : ", ") + platform::WideToUtf8(w);
  return out;
}

const TExportConfigKey* FindKey(const std::u16string& upper) {
  for (const auto& key : ExportConfigKeys)
    if (key.Name == upper) return &key;
  return nullptr;
}

// The known key nearest to a misspelt one (at most two edits away), or empty.
std::u16string NearestKey(const std::u16string& upper) {
  std::u16string best;
  double distance = 3;
  for (const auto& key : ExportConfigKeys) {
    const double d = TqzMath::GetDamerauLevenshteinDistance(upper, key.Name);
    if (d < distance) {
      distance = d;
      best = key.Name;
    }
  }
  return best;
}

std::string Quoted(const std::u16string& text) { return "\"" + platform::WideToUtf8(text) + "\""; }

}  // namespace

ConfigCheck CheckConfigText(const std::u16string& text) {
  ConfigCheck check;
  // The plug-in keeps the text as UTF-8 and reads its tags from those bytes.
  TStringList tags;
  AnsiString root;
  check.validTagList = ParseTagList(platform::WideToUtf8(text), root, tags);
  if (!check.validTagList) return check;
  std::vector<std::u16string> unknown;
  for (int i = 0; i < tags.Count(); ++i) {
    const std::u16string tag = platform::Utf8ToWide(platform::WideToAnsi(tags.Get(i)));
    const size_t eq = tag.find(u'=');
    if (eq == std::u16string::npos || eq == 0) continue;  // the plug-in ignores such a tag
    const std::u16string name = tag.substr(0, eq), key = UpperCaseStr(name), value = tag.substr(eq + 1);
    const TExportConfigKey* known = FindKey(key);
    if (known == nullptr) {
      if (std::find(unknown.begin(), unknown.end(), key) != unknown.end()) continue;
      unknown.push_back(key);
      std::string warning = "configuration key " + Quoted(name) + " is not one the plug-in knows; it is ignored";
      const std::u16string nearest = NearestKey(key);
      warning += nearest.empty() ? " (a typo?)" : " (did you mean " + platform::WideToUtf8(nearest) + "?)";
      check.warnings.push_back(warning);
      continue;
    }
    if (key == u"DOCSERVER") check.docServer = value;
    if (key == u"DOCSERVERPORT") check.docServerPort = value;
    if (known->Value != TExportConfigValue::YesWord) continue;
    const bool yes = TqzConversion::StrToBool(value);
    if (key == u"TESTMODE") check.testMode = yes;
    const std::u16string word = platform::UpperAscii(std::u16string_view(platform::Trim(value)));
    if (!yes && std::find(kNoWords.begin(), kNoWords.end(), word) == kNoWords.end()) {
      check.warnings.push_back("configuration key " + platform::WideToUtf8(key) + " has the value " + Quoted(value) +
                               ", which is neither a yes-word nor a no-word: it counts as no (yes-words: " +
                               YesWordList() + ")");
    }
  }
  return check;
}

std::string CharactersLostInCodePage(const std::u16string& text) {
  std::u16string lost;
  for (size_t i = 0; i < text.size(); ++i) {
    std::u16string ch(1, text[i]);
    if (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      ch += text[++i];
    } else if (text[i] == u'?' || platform::WideCharToAnsi(text[i]) != '?') {
      continue;
    }
    if (lost.find(ch) == std::u16string::npos) lost += ch;
  }
  return platform::WideToUtf8(lost);
}

std::string DescribeServerConnection(const std::u16string& server, const std::u16string& portText) {
  // The plug-in converts the port text the same way: empty gives 0, a text that is no number -1.
  const int64_t port = TqzConversion::StrToInt(portText, -1);
  std::string line = "the archive server is configured as DOCSERVER:DOCSERVERPORT " + platform::WideToUtf8(server) +
                     ":" + platform::WideToUtf8(portText);
  if (platform::Trim(server).empty()) return line + "; DOCSERVER is empty";
  if (port <= 0 || port > 65535) return line + "; that is not a port number (1 to 65535)";
  constexpr int kConnectWaitMs = 5000;  // the plug-in's own connection wait
  try {
    platform::TcpSocket socket;
    socket.Connect(platform::WideToUtf8(platform::Trim(server)), static_cast<int>(port), kConnectWaitMs);
    return line + "; a TCP connection to it succeeds, so something listens there but did not answer as the archive "
                  "server does";
  } catch (const Exception& e) {
    const std::string reason = e.what();
    std::string verdict = "fails";
    if (reason.find("cannot resolve host") != std::string::npos) verdict = "fails: the name is not found";
    else if (reason.find("refused") != std::string::npos) verdict = "is refused: nothing listens on that port";
    else if (reason.find("unreachable") != std::string::npos || reason.find("No route") != std::string::npos)
      verdict = "fails: the address is unreachable";
    else if (reason.find("timed out") != std::string::npos) verdict = "gets no answer within 5 s";
    return line + "; a TCP connection to it " + verdict + " (" + reason + ")";
  }
}

}  // namespace kqfexport
