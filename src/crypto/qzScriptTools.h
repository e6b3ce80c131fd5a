// Script lock: protects a script text with a password.
//
// Lock form: the Base64 text form (one line) of the pass-key encoding, under the library's script
// key, of the password (every "#" in it written "&num;"), "#" and the script text. Locking with
// an empty password gives a lock that counts as unprotected.
#pragma once

#include <cstdint>
#include <string_view>

#include "Text.h"

class TqzScriptTools {
 public:
  TqzScriptTools() = delete;

  static AnsiString LockScript(std::string_view Script, std::string_view Password);
  // Secured false or an empty Script: Script unchanged. Otherwise the script text of the lock;
  // a lock that does not decode gives the Base64 reading of Script. Never raises.
  static AnsiString UnlockScript(std::string_view Script, bool Secured) noexcept;
  // True when Script reads as Base64 and decodes under the script key (the empty text does).
  static bool VerifySecuredScript(std::string_view Script) noexcept;
  // The password of a lock ("&num;" back to "#"); empty when there is none or it does not decode.
  static AnsiString GetScriptPassword(std::string_view Script) noexcept;
  // True when the lock decodes and carries a non-empty password.
  static bool IsScriptProtected(std::string_view Script) noexcept;
  // True for a one-line text (no CR LF) of more than 2 characters starting with "/" but not "//".
  static bool IsN7Script(const UnicodeString& Script) noexcept;
  // The number after "Source position", its ":" and blanks, up to the next ","; -1 when missing.
  static std::int32_t GetSourceLineFromException(const UnicodeString& Msg) noexcept;
};

namespace qzInternal {
// The pass key of the script lock.
AnsiString ScriptPassKey();
}  // namespace qzInternal
