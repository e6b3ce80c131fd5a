#include "qzScriptTools.h"

#include <limits>
#include <string>

#include "CaseMap.h"
#include "SysUtils.h"
#include "qzBase64.h"
#include "qzCipher.h"
#include "qzCipherKeys.h"

namespace {

AnsiString ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  AnsiString out;
  std::size_t pos = 0;
  for (;;) {
    std::size_t hit = text.find(from, pos);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(pos, hit - pos)).append(to);
    pos = hit + from.size();
  }
  out.append(text.substr(pos));
  return out;
}

// Reads and decodes a lock; raises what the pass-key codec raises.
AnsiString OpenLock(std::string_view script) {
  return TqzCipher::DecodeString(qzInternal::TqzBase64::Base64ToStr(script), qzInternal::ScriptPassKey());
}

}  // namespace

AnsiString qzInternal::ScriptPassKey() {
  namespace K = qzCipherKeys;
  return std::to_string(K::ScriptInt1) + std::string(K::ScriptStoredPiece2) + std::string(K::ScriptStoredPiece9) +
         std::to_string(K::ScriptInt2);
}

AnsiString TqzScriptTools::LockScript(std::string_view Script, std::string_view Password) {
  AnsiString joined = ReplaceAll(Password, "#", "&num;") + "#" + std::string(Script);
  return qzInternal::TqzBase64::StrToBase64(TqzCipher::EncodeString(joined, qzInternal::ScriptPassKey()), false);
}

AnsiString TqzScriptTools::UnlockScript(std::string_view Script, bool Secured) noexcept {
  if (!Secured || Script.empty()) return AnsiString(Script);
  try {
    AnsiString plain = OpenLock(Script);
    std::size_t hash = plain.find('#');
    return hash == AnsiString::npos ? plain : plain.substr(hash + 1);
  } catch (...) {
    return qzInternal::TqzBase64::Base64ToStr(Script);
  }
}

bool TqzScriptTools::VerifySecuredScript(std::string_view Script) noexcept {
  try {
    OpenLock(Script);
    return true;
  } catch (...) {
    return false;
  }
}

AnsiString TqzScriptTools::GetScriptPassword(std::string_view Script) noexcept {
  try {
    AnsiString plain = OpenLock(Script);
    std::size_t hash = plain.find('#');
    if (hash == AnsiString::npos) return {};
    return ReplaceAll(std::string_view(plain).substr(0, hash), "&num;", "#");
  } catch (...) {
    return {};
  }
}

bool TqzScriptTools::IsScriptProtected(std::string_view Script) noexcept {
  try {
    AnsiString plain = OpenLock(Script);
    std::size_t hash = plain.find('#');
    return hash != AnsiString::npos && hash > 0;
  } catch (...) {
    return false;
  }
}

bool TqzScriptTools::IsN7Script(const UnicodeString& Script) noexcept {
  return Script.find(u"\r\n") == UnicodeString::npos && Script.size() > 2 && Script[0] == u'/' &&
         Script[1] != u'/';
}

std::int32_t TqzScriptTools::GetSourceLineFromException(const UnicodeString& Msg) noexcept {
  try {
    UnicodeString upper = platform::UpperW(Msg);
    std::size_t at = upper.find(u"SOURCE POSITION");
    if (at == UnicodeString::npos) return -1;
    UnicodeString rest = Msg.substr(at + 1);
    std::size_t colon = rest.find(u':');
    if (colon != UnicodeString::npos) rest.erase(0, colon + 1);
    std::size_t firstNonBlank = rest.find_first_not_of(u' ');
    rest.erase(0, firstNonBlank == UnicodeString::npos ? rest.size() : firstNonBlank);
    std::size_t comma = rest.find(u',');
    if (comma == UnicodeString::npos) return -1;
    std::int64_t line = 0;
    if (!platform::TryStrToInt64(std::u16string_view(rest).substr(0, comma), line)) return -1;
    if (line < std::numeric_limits<std::int32_t>::min() || line > std::numeric_limits<std::int32_t>::max())
      return -1;
    return static_cast<std::int32_t>(line);
  } catch (...) {
    return -1;
  }
}
