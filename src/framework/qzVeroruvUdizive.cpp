#include "qzVeroruvUdizive.h"

#include <exception>
#include <filesystem>

#include "CaseMap.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "qzBase64.h"
#include "qzKesta.h"

namespace {

void MoveItems(std::vector<TqzComItem>& from, TComResExt& to) {
  TComResExt parts;
  parts.reserve(from.size());
  for (TqzComItem& item : from) {
    TComPart part;
    part.Param = std::move(item.Param);
    part.OrgParam = std::move(item.OrgParam);
    part.Value = std::move(item.Value);
    part.B64Encoded = false;
    parts.push_back(std::move(part));
  }
  to = std::move(parts);
}

}  // namespace

TqzVeroruvUdizive::TqzVeroruvUdizive() { InitTempPath(UnicodeString()); }

TqzVeroruvUdizive::TqzVeroruvUdizive(const UnicodeString& tempPath) { InitTempPath(tempPath); }

TqzVeroruvUdizive::~TqzVeroruvUdizive() = default;

void TqzVeroruvUdizive::InitTempPath(const UnicodeString& tempPath) {
  try {
    if (tempPath.empty()) {
      // The installation's temporary folder (created when missing), without the per-instance
      // subfolder.
      TempPath = TqzKesta::GetTempPath(true, false);
      return;
    }
    UnicodeString path = tempPath;
    if (path.back() != u'/' && path.back() != u'\\') path += u'/';
    TempPath = path;
    std::filesystem::create_directories(std::filesystem::path(platform::WideToUtf8(path)));
  } catch (const std::exception& e) {
    Message = platform::Utf8ToWide(e.what());
  }
}

TqzComLimits TqzVeroruvUdizive::Limits() const {
  TqzComLimits limits;
  limits.MaxAnswerSize = MaxAnswerSize;
  limits.MaxDecompressedSize = MaxDecompressedSize;
  return limits;
}

// ---- building requests ----------------------------------------------------------------------

bool TqzVeroruvUdizive::AddComParam(const AnsiString& Param, const AnsiString& Value, TComRes& comlist) {
  try {
    AnsiString item;
    item.reserve(Param.size() + 1 + Value.size());
    item.append(Param).append("=").append(Value);
    comlist.push_back(std::move(item));
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool TqzVeroruvUdizive::AddObjectComParam(const AnsiString& filename, TComRes& comlist) {
  try {
    return TqzComProtocol::AddObjectFile(filename, comlist);
  } catch (const std::exception&) {
    return false;
  }
}

bool TqzVeroruvUdizive::AddObjectContentComParam(const AnsiString& filename, const AnsiString& content,
                                                 TComRes& comlist) {
  try {
    comlist.push_back(TqzComProtocol::ObjectItem(filename, content));
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

AnsiString TqzVeroruvUdizive::BuiltComString(const AnsiString& comtyp, bool encode, bool compress, TComRes& comlist) {
  return TqzComProtocol::BuildRequest(comtyp, encode, compress, comlist);
}

// ---- answers --------------------------------------------------------------------------------

bool TqzVeroruvUdizive::ParseComAnswer(const AnsiString& request, AnsiString& typ, TComResExt& comlist) const {
  std::vector<TqzComItem> items;
  if (!TqzComProtocol::ParseAnswer(request, true, typ, items, Limits())) return false;
  MoveItems(items, comlist);
  return true;
}

bool TqzVeroruvUdizive::AskServer(const AnsiString& quest, AnsiString& comtyp, TComResExt& comres) {
  return AskOnce(std::string_view(quest), comtyp, comres);
}

bool TqzVeroruvUdizive::AskServer(const TqzComRequest& quest, AnsiString& comtyp, TComResExt& comres) {
  return AskOnce(quest, comtyp, comres);
}

template <class Quest>
bool TqzVeroruvUdizive::AskOnce(const Quest& quest, AnsiString& comtyp, TComResExt& comres) {
  bool result = false;
  try {
    AnsiString answer;
    TqzComReceive got = TqzComProtocol::Exchange(Server, Port, ConWait, ResWait, quest, answer, Limits());
    if (got == TqzComReceive::Empty) throw ESocketError("empty answer");
    if (got == TqzComReceive::Received) result = ParseComAnswer(answer, comtyp, comres);
    if (!result) comres.clear();
  } catch (const std::exception&) {
    // A raised error leaves comres as it was.
    result = false;
  }
  return result;
}

bool TqzVeroruvUdizive::AskServer(TqzServerList& ServerList, const AnsiString& quest, AnsiString& comtyp,
                                  TComResExt& comres, int32_t& ServerId) {
  bool result = false;
  ServerId = -1;
  try {
    const TqzComLimits limits = Limits();
    auto attempt = [&](size_t i) {
      try {
        AnsiString answer;
        const TqzServer& s = ServerList.Server[i];
        TqzComReceive got = TqzComProtocol::Exchange(s.Host, s.Port, ConWait, ResWait, quest, answer, limits);
        if (got == TqzComReceive::Empty) return TqzComProtocol::Attempt::Error;  // an empty answer is an error
        if (got == TqzComReceive::NoEnd) return TqzComProtocol::Attempt::Failed;
        return ParseComAnswer(answer, comtyp, comres) ? TqzComProtocol::Attempt::Parsed
                                                      : TqzComProtocol::Attempt::Failed;
      } catch (const std::exception&) {
        return TqzComProtocol::Attempt::Error;
      }
    };
    auto probe = [&](size_t i) {
      try {
        AnsiString answer, typ;
        std::vector<TqzComItem> items;
        const TqzServer& s = ServerList.Server[i];
        return TqzComProtocol::Exchange(s.Host, s.Port, ConWait, ResWait, TqzComProtocol::AliveRequest, answer,
                                        limits) == TqzComReceive::Received &&
               TqzComProtocol::ParseAnswer(answer, true, typ, items, limits);
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

bool TqzVeroruvUdizive::RequestServerFile(const AnsiString& quest, const UnicodeString& exppath) {
  try {
    return TqzComProtocol::RequestFile(Server, Port, quest, platform::WideToUtf8(exppath), MaxFileSize);
  } catch (const std::exception&) {
    return false;
  }
}

// ---- lookups --------------------------------------------------------------------------------

AnsiString TqzVeroruvUdizive::GetComParam(const TComResExt& Comlist, const AnsiString& Param) {
  return GetComParamExt(Comlist, Param, AnsiString());
}

AnsiString TqzVeroruvUdizive::GetComParamExt(const TComResExt& Comlist, const AnsiString& Param,
                                             const AnsiString& Default) {
  const AnsiString key = platform::UpperAnsi(Param);
  for (const TComPart& part : Comlist) {
    if (part.Param == key) return part.B64Encoded ? TqzBase64::Base64ToStr(part.Value) : part.Value;
  }
  return Default;
}

bool TqzVeroruvUdizive::ComParamExists(const TComResExt& Comlist, const AnsiString& Param) {
  const AnsiString key = platform::UpperAnsi(Param);
  for (const TComPart& part : Comlist)
    if (platform::UpperAnsi(part.Param) == key) return true;
  return false;
}

bool TqzVeroruvUdizive::ComListParamExists(const TComRes& Comlist, const AnsiString& Param) {
  const AnsiString key = platform::UpperAnsi(Param);
  for (const AnsiString& item : Comlist) {
    size_t eq = item.find('=');
    std::string_view name = eq == AnsiString::npos ? std::string_view() : std::string_view(item).substr(0, eq);
    if (platform::UpperAnsi(name) == key) return true;
  }
  return false;
}

int32_t TqzVeroruvUdizive::GetFreeComParam(const TComResExt& Comlist) {
  for (size_t i = 0; i < Comlist.size(); ++i)
    if (Comlist[i].Param.empty()) return static_cast<int32_t>(i);
  return -1;
}
