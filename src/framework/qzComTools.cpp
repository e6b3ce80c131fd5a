#include "qzComTools.h"

#include <exception>

#include "CaseMap.h"
#include "CodePage.h"

namespace qzComTools {

namespace {

uint32_t Wait(int32_t ms) { return ms < 0 ? 0u : static_cast<uint32_t>(ms); }

std::string HostText(const UnicodeString& host) { return platform::WideToUtf8(host); }

void MoveItems(std::vector<TqzComItem>& from, TComResExt& to) {
  TComResExt parts;
  parts.reserve(from.size());
  for (TqzComItem& item : from)
    parts.push_back(TComPart{std::move(item.Param), std::move(item.OrgParam), std::move(item.Value)});
  to = std::move(parts);
}

// One parsed exchange; an empty answer is a plain failure. Raises on connection errors.
bool ParsedExchange(const std::string& host, int32_t port, int32_t conWait, int32_t resWait, const AnsiString& quest,
                    AnsiString& comTyp, TComResExt& comres, bool& empty) {
  AnsiString answer;
  TqzComReceive got =
      TqzComProtocol::Exchange(host, port, Wait(conWait), Wait(resWait), quest, answer, TqzComTools::Limits());
  empty = got == TqzComReceive::Empty;
  return got == TqzComReceive::Received && TqzComTools::ParseComAnswer(answer, comTyp, comres, true);
}

}  // namespace

TqzComLimits& TqzComTools::Limits() {
  static TqzComLimits limits;
  return limits;
}

bool TqzComTools::AddComParam(const AnsiString& Param, const AnsiString& Value, TComRes& ComList) {
  try {
    ComList.push_back(Param + "=" + Value);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool TqzComTools::AddObjectComParam(const AnsiString& filename, TComRes& ComList) {
  try {
    return TqzComProtocol::AddObjectFile(filename, ComList);
  } catch (const std::exception&) {
    return false;
  }
}

bool TqzComTools::AddObjectContentComParam(const AnsiString& filename, const AnsiString& content, TComRes& ComList) {
  try {
    ComList.push_back(TqzComProtocol::ObjectItem(filename, content));
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

AnsiString TqzComTools::BuiltComString(const AnsiString& ComTyp, bool encode, bool compress, TComRes& ComList) {
  return TqzComProtocol::BuildRequest(ComTyp, encode, compress, ComList);
}

bool TqzComTools::ParseComAnswer(const AnsiString& Request, AnsiString& ComTyp, TComResExt& ComList,
                                 bool ParseParVal) {
  std::vector<TqzComItem> items;
  if (!TqzComProtocol::ParseAnswer(Request, ParseParVal, ComTyp, items, Limits())) return false;
  MoveItems(items, ComList);
  return true;
}

AnsiString TqzComTools::GetComType(const AnsiString& Request) { return TqzComProtocol::GetComType(Request); }

AnsiString TqzComTools::GetComParam(const TComResExt& ComList, const AnsiString& Param) {
  return GetComParamExt(ComList, Param, AnsiString());
}

AnsiString TqzComTools::GetComParamExt(const TComResExt& ComList, const AnsiString& Param, const AnsiString& Default) {
  int32_t id = GetComParamId(ComList, Param);
  return id < 0 ? Default : ComList[static_cast<size_t>(id)].Value;
}

int32_t TqzComTools::GetComParamId(const TComResExt& ComList, const AnsiString& Param) {
  const AnsiString key = platform::UpperAnsi(Param);
  for (size_t i = 0; i < ComList.size(); ++i)
    if (ComList[i].Param == key) return static_cast<int32_t>(i);
  return -1;
}

uint32_t TqzComTools::GetComParamSize(const TComResExt& ComList, const AnsiString& Param) {
  int32_t id = GetComParamId(ComList, Param);
  return id < 0 ? 0u : static_cast<uint32_t>(ComList[static_cast<size_t>(id)].Value.size());
}

AnsiString TqzComTools::GetComListParamExt(const TComRes& ComList, const AnsiString& Param, const AnsiString& Default) {
  const AnsiString key = platform::UpperAnsi(Param);
  for (const AnsiString& item : ComList) {
    size_t eq = item.find('=');
    std::string_view name = eq == AnsiString::npos ? std::string_view() : std::string_view(item).substr(0, eq);
    if (name == key) return eq == AnsiString::npos ? AnsiString() : item.substr(eq + 1);
  }
  return Default;
}

bool TqzComTools::ComParamExists(const TComResExt& ComList, const AnsiString& Param) {
  const AnsiString key = platform::UpperAnsi(Param);
  for (const TComPart& part : ComList)
    if (platform::UpperAnsi(part.Param) == key) return true;
  return false;
}

int32_t TqzComTools::GetFreeComParam(const TComResExt& ComList) {
  for (size_t i = 0; i < ComList.size(); ++i)
    if (ComList[i].Param.empty()) return static_cast<int32_t>(i);
  return -1;
}

bool TqzComTools::AskServer(const UnicodeString& Server, int32_t Port, int32_t ConWait, int32_t ResWait,
                            const AnsiString& Quest, AnsiString& ComTyp, TComResExt& comres) {
  try {
    bool empty = false;
    if (ParsedExchange(HostText(Server), Port, ConWait, ResWait, Quest, ComTyp, comres, empty)) return true;
    comres.clear();
    return false;
  } catch (const std::exception&) {
    return false;  // a raised error leaves comres as it was
  }
}

bool TqzComTools::AskServer(TServerList& ServerList, int32_t ConWait, int32_t ResWait, const AnsiString& Quest,
                            AnsiString& ComTyp, TComResExt& comres, int32_t& ServerId) {
  bool result = false;
  ServerId = -1;
  try {
    auto attempt = [&](size_t i) {
      const TServer& s = ServerList.Server[i];
      try {
        bool empty = false;
        return ParsedExchange(HostText(s.Host), s.Port, ConWait, ResWait, Quest, ComTyp, comres, empty)
                   ? TqzComProtocol::Attempt::Parsed
                   : TqzComProtocol::Attempt::Failed;  // an empty answer too: not an error here
      } catch (const std::exception&) {
        return TqzComProtocol::Attempt::Error;
      }
    };
    auto probe = [&](size_t i) {
      const TServer& s = ServerList.Server[i];
      try {
        AnsiString typ;
        TComResExt items;
        bool empty = false;
        return ParsedExchange(HostText(s.Host), s.Port, ProbeConWait, ProbeResWait,
                              AnsiString(TqzComProtocol::AliveRequest), typ, items, empty);
      } catch (const std::exception&) {
        return false;
      }
    };
    result = TqzComProtocol::RunFailover(ServerList, ServerId, attempt, probe);
  } catch (const std::exception&) {
    result = false;
  }
  if (!result) comres.clear();
  return result;
}

bool TqzComTools::AskServer(const UnicodeString& Server, int32_t Port, int32_t ConWait, int32_t ResWait,
                            const AnsiString& Quest, AnsiString& ComText) {
  ComText.clear();
  try {
    TqzComProtocol::Exchange(HostText(Server), Port, Wait(ConWait), Wait(ResWait), Quest, ComText, Limits());
    return !ComText.empty() && ComText.back() == '>';
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace qzComTools
