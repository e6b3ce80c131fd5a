// TqzStrings family: identifiers, compressed text, placeholders, quoted-printable, HTML to text.
//
// Decisions where the rules leave room:
//  * DecompressString inflates the whole stream and checks its Adler-32 trailer, so a damaged
//    or truncated value is refused instead of yielding wrong bytes. Bytes after the declared
//    count are still ignored, but they count towards the same size cap.
//  * The soft line breaks of the quoted-printable decoders are removed in one linear pass whose
//    result equals repeating the removal until none is left (no quadratic work on crafted input).
//  * ReplaceQuotedPrintable accepts only hexadecimal digits after "=" (no signs, no blanks).
//  * HtmlToText renders with our own visible-text walker over libxml2's HTML parser (see
//    HtmlText.h for the rendering rules); lines are separated by CR LF.
#pragma once

#include <cstddef>
#include <string_view>

#include "Text.h"
#include "qzTypes.h"

class TqzStringsServices {
 public:
  TqzStringsServices() = delete;

  // --- Identifiers ---------------------------------------------------------------------------
  // A new GUID as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case digits (38 characters).
  static AnsiString CreateGuidStr();
  // The 32 upper-case hexadecimal digits of a new GUID, in the order of its text form.
  static TIdType CreateId();

  // --- Compressed text form ------------------------------------------------------------------
  // Compressed text form: a zlib stream (level 9, 32 KB window, memory level 8, default
  // strategy) whose inflated content is the byte count as a signed 32-bit little-endian number
  // followed by the bytes. The result begins with the zlib header 0x78 0xDA.
  static AnsiString CompressString(std::string_view S);

  // Default bound on the byte count that a compressed value may declare.
  static constexpr size_t DefaultMaxDecompressedSize = size_t(256) << 20;

  // Inflates a compressed value and returns exactly the number of bytes that its count declares;
  // bytes after them are ignored. Raises EZlibError for a stream that is not valid zlib data
  // (bad header, bad block, wrong checksum, missing end), a content that ends before its count
  // or its bytes, a negative count, a count above MaxSize (checked before anything is
  // allocated), or an inflated content longer than 4 + MaxSize bytes.
  static AnsiString DecompressString(std::string_view S, size_t MaxSize = DefaultMaxDecompressedSize);

  // --- Placeholders --------------------------------------------------------------------------
  // Replaces the date, time, identifier, user and host placeholders ("%timestamp", "%date",
  // "%user", "%host", ...; each recognised in all lower or all upper case) of Text. The user
  // name is UserName unless empty (then the logged-on user's), the host name HostName unless
  // empty (then the computer's name). Dates come from the clock (platform::Now, read anew for
  // each placeholder) formatted with the process format settings.
  static UnicodeString CheckDefaultPlaceHolders(const UnicodeString& Text, const UnicodeString& UserName = u"",
                                                const UnicodeString& HostName = u"");

  // --- Script literals -----------------------------------------------------------------------
  // The text escaped for a script string literal (no quotes added): \b \t \n \f \r, other
  // control units and every unit from 128 as \uXXXX (upper-case digits), and \" \/ \\.
  static UnicodeString StringToJScriptString(const UnicodeString& AValue);

  // --- Quoted-printable ----------------------------------------------------------------------
  // Decodes quoted-printable text: soft line breaks ("=" before CR LF, LF or CR) are removed,
  // "=XX" becomes the byte XX (either case; a single digit at the very end counts), any other
  // "=" sequence is dropped together with the two characters after the "=". Never raises.
  static AnsiString ReplaceQuotedPrintable(const AnsiString& Content);
  // Table-driven variant: "=00".."=20" and "=2C" are removed; "=2E", "=3D", "=7E", "=7F" and
  // "=80".."=FF" (except "=DD", "=ED", "=FD") become their byte; codes are matched ignoring
  // case, each code in turn over the whole text; finally the soft line breaks "=" CR LF go.
  // Every other "=" sequence stays as it is.
  static AnsiString ReplaceQuotedPrintableSimple(const AnsiString& Content);

  // --- HTML to text --------------------------------------------------------------------------
  // The visible text of the HTML document's body in document order (empty when the text yields
  // no document).
  static UnicodeString HtmlToText(const UnicodeString& _html);
};
