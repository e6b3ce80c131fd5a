// The URL, header, address and multipart parsers of the network tools. The input's first line is
// the Content-Type handed to the multipart parser (and the header name looked up); the rest is
// the body, which every other parser reads too.
#include <cstdint>

#include "CodePage.h"
#include "Exceptions.h"
#include "FuzzInput.h"
#include "qzNet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto [head, rest] = qzfuzz::HeadAndRest(qzfuzz::Bytes(data, size));
  const AnsiString body(rest);
  TMultiParts parts;
  TqzNet::ParseMultiPartData(body, parts, true, AnsiString(head));
  TqzNet::ParseMultiPartData(body, parts, false);
  for (const TMultiPart& part : parts) TqzNet::GetMultiPartHeaderValue(part, u"CONTENT-TYPE", u"");
  TqzNet::GetHttpRawHeaderValue(AnsiString(head), body);
  TqzNet::PercentDecode(body);
  TqzNet::DecodeUrlPart(body);
  const UnicodeString wide = platform::AnsiToWide(body);
  TqzNet::GetServerFromUrl(wide);
  TqzNet::GetPortFromUrl(wide);
  TqzNet::GetPathFromUrl(wide);
  TqzIPRanges ranges;
  TqzNet::GetIPListFromStr(wide, ranges);
  TqzNet::IsIPInRange(platform::AnsiToWide(head), ranges);
  TqzStyleDefinition styles;
  styles.AddOrSetValue(u"A", Variant::FromAnsi("[@A()][@A()]"));
  styles.AddOrSetValue(u"B", Variant::FromAnsi(AnsiString(head)));
  try {
    TqzNet::ApplyStyle(styles, body);
  } catch (const Exception&) {
  }
  return 0;
}
