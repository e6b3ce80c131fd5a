// TEbcdic: translates between EBCDIC and 8-bit ASCII text through two fixed 256-byte tables
// with the German national characters (Ä Ö Ü ä ö ü ß §). The KQF database can hold text columns
// as raw EBCDIC bytes; the export reads them through this converter.
#pragma once

#include "Text.h"

enum TEbcdicConvert { cvASCIIEbcdic, cvEbcdicASCII };

class TEbcdic {
 public:
  // Translates ASCII into EBCDIC (cvASCIIEbcdic) or EBCDIC into ASCII (cvEbcdicASCII): every
  // character of the source is one byte, replaced by its table entry; the destination gets one
  // character per byte and as many characters as the source. Any length converts. A source
  // character above 255, which no byte can hold, is translated as "?". Always returns true.
  bool Execute();

  const UnicodeString& ASCII() const { return StrASCII; }
  void SetASCII(UnicodeString value) { StrASCII = std::move(value); }
  const UnicodeString& EBCDIC() const { return StrEBCDIC; }
  void SetEBCDIC(UnicodeString value) { StrEBCDIC = std::move(value); }
  TEbcdicConvert Conversation() const { return FConversao; }
  void SetConversation(TEbcdicConvert value) { FConversao = value; }

  // The byte conversions behind Execute.
  static AnsiString EbcdicToAscii(std::string_view ebcdic);
  static AnsiString AsciiToEbcdic(std::string_view ascii);

  UnicodeString StrASCII;
  UnicodeString StrEBCDIC;
  TEbcdicConvert FConversao = cvASCIIEbcdic;
};
