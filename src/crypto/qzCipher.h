// The library's own text codecs on top of the DES component.
//
// Pass-key codec: EncodeString gives the 64-symbol text form (see qzDES.h) of the DES-ECB
// encryption of a text under a pass key (only the last byte for each of the eight key positions
// counts; a shorter key is filled with zeros); DecodeString reverses it. Either argument empty
// gives the empty text. n plain bytes give ceil(4 * 8 * (floor(n/8) + 1) / 3) symbols.
//
// Logon form of stored passwords: the pass-key encoding, under the logon key, of "$$$" followed
// by the password. DecodeLogon never raises: a text that decodes to "$$$..." gives the rest; any
// other text is taken as a plain password and returned unchanged; a text with a character outside
// the text-form alphabet, or one that reads as fewer than 8 bytes, gives the empty text.
//
// URL-parameter codec: a list of "Name=Value" items to a query text and back, in seven encodings
// (see EncodeUrlParams / DecodeUrlParams). The Mega, Service and Internal encodings wrap the whole
// query in a DES envelope with a build-time stamp; Internal envelopes expire after one day.
//
// Keys are the library's own (qzCipherKeys.h): texts encoded by other programs under other keys
// cannot be read.
#pragma once

#include <string_view>
#include <vector>

#include "Text.h"

enum TqzCipherEncoding {
  qzCIPHENC_None,
  qzCIPHENC_Base64,
  qzCIPHENC_Strong,
  qzCIPHENC_Mega,
  qzCIPHENC_KQF,
  qzCIPHENC_Service,
  qzCIPHENC_Internal
};

struct TqzCipherUrlParam {
  UnicodeString Param;   // the parameter name, upper case, trimmed
  UnicodeString Value;   // the decoded value
  AnsiString RawValue;   // the value after percent-unescaping, before any decoding
  TqzCipherEncoding Encoding = qzCIPHENC_None;  // how Value was decoded from RawValue
};
using TqzCipherUrlParams = std::vector<TqzCipherUrlParam>;

class TqzCipher {
 public:
  TqzCipher() = delete;

  // The text every caller passes as SecuID to the key builders.
  static std::string_view SecuID();

  static AnsiString EncodeString(std::string_view EncString, std::string_view PassKey);
  // Raises EConvertError for a character outside the text-form alphabet and EInputError for a
  // text that reads as fewer than 8 bytes or as no whole number of 8-byte blocks.
  static AnsiString DecodeString(std::string_view EncString, std::string_view PassKey);
  static AnsiString EncodePrivateString(std::string_view EncString, std::string_view PassKey);
  static AnsiString DecodePrivateString(std::string_view EncString, std::string_view PassKey);

  static AnsiString EncodeLogon(std::string_view EncString);
  static AnsiString DecodeLogon(std::string_view EncString) noexcept;

  // Each returns the empty text unless SecuID is exactly the SecuID text.
  static AnsiString GenPassKeyMega(std::string_view SecuID);
  static AnsiString GenPassKeyService(std::string_view SecuID);
  static AnsiString GenPassKeyInternal(std::string_view SecuID);
  static AnsiString GenPassKeyLogon(std::string_view SecuID);
  static AnsiString GenerateCommonEncryptionKey(std::string_view SecuID);
  static AnsiString GenerateCommonSecurityKey(std::string_view SecuID);

  // Parameters: UTF-16 items "Name=Value" (or a bare "Name"). The result has no leading "?":
  // "encoding=<word>" (absent for None) joined by "&" to the body. None, Base64 and Strong write
  // the items one by one, name and value percent-escaped from UTF-8, the value as it is, as its
  // Base64 text form, or as the Base64 text form of its logon form. Mega, Service and Internal
  // write one "data=" item: the Base64 text form of the pass-key encoding of the Base64-encoded
  // query followed by "&buildtime=" and the Base64 text of the local time stamp. KQF cannot be
  // written: a non-empty list raises Exception "unsupported encoding".
  static AnsiString EncodeUrlParams(const std::vector<UnicodeString>& Parameters,
                                    TqzCipherEncoding Encoding);
  // The items in query order; Encoding receives the query's encoding (None when it names none);
  // an empty query leaves it untouched and gives an empty list. "+" reads as a blank. Envelopes are
  // opened (their inner list becomes the result); an Internal envelope whose build time lies one
  // day or more in the past (or cannot be read) raises Exception "url expired". A damaged
  // envelope raises the DES component's errors.
  static TqzCipherUrlParams DecodeUrlParams(std::string_view UrlParamStr, TqzCipherEncoding& Encoding);

  // Reads a value scrambled by the KQF document system (with this library's tables).
  static AnsiString KQFEncDecoder(std::string_view Value);
};

namespace qzInternal {

// Percent-escapes every byte except "*", "-", ".", "0"-"9", "A"-"Z", "_", "a"-"z" (upper-case
// hexadecimal digits), in one pass.
AnsiString UrlEscape(std::string_view Value);
// Replaces every "%" followed by two hexadecimal digits (either case) by the byte they give, in
// one pass; any other "%" stays as it is. Lower-case escapes are read too: browsers and HTTP
// libraries write them ("%c3%a4"), and copying them unchanged would garble the value.
AnsiString UrlUnescape(std::string_view Value);
// The prefix the private-string codec puts before the caller's pass key.
AnsiString PrivateKeyPrefix();

}  // namespace qzInternal
