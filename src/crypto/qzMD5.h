// MD5 (RFC 1321) digests, written as 32 upper-case hexadecimal digits.
//
// The unit checks itself when the library is loaded: it digests the empty text and compares the
// result with the known value. A failure never aborts the host process: it is recorded, and
//   - TqzMD5::LoadSelfTestMessage() returns "MD5 self test failed!" (empty text when the test
//     passed); the export's entry point calls it and refuses every command with that message;
//   - every digest operation raises Exception "MD5 self test failed".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "Text.h"

class TqzMD5 {
 public:
  TqzMD5() = delete;

  // Digest of BufSize bytes at Buffer. A negative size is refused with an exception.
  static AnsiString GetMD5(const void* Buffer, std::int64_t BufSize);
  static AnsiString GetMD5FromString(std::string_view Text);
  // Digest of a file's contents, read in 16 KiB pieces, so files of any size pass without being
  // held in memory. AccessMode (the Windows share mode of the original interface) has no meaning
  // here: the file is always opened read-only. Raises "file <name> not found" when no such file
  // exists, and "file <name> could not be read" when it exists but cannot be opened or read:
  // an unreadable file never yields a digest.
  static AnsiString GetMD5FromFile(const UnicodeString& FileName, std::uint16_t AccessMode = 0);
  // True when the digest of the empty text is D41D8CD98F00B204E9800998ECF8427E.
  static bool MD5SelfTest();
  // The load-time self test's verdict: empty when it passed, else "MD5 self test failed!".
  static UnicodeString LoadSelfTestMessage();
};
