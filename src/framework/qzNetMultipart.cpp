// TqzNet: the multipart/form-data parser and its lookups.
//
// The parser works on offsets into the body and copies only each part's own bytes, so a body is
// read in linear time. A body that breaks off (no boundary, a header block without its empty
// line, a part without a following boundary) ends the parse with False; the parts read before
// stay in the result.
#include <string_view>

#include "CodePage.h"
#include "Exceptions.h"
#include "SysUtils.h"
#include "qzNet.h"
#include "qzTools.h"

namespace {

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

// The parameters of a header value ("form-data; name=\"x\"; filename=\"y\""): the value of the
// parameter `param` (compared without regard to case), unquoted; false when it is absent.
bool HeaderParameter(std::string_view value, std::string_view param, AnsiString& out) {
  size_t pos = value.find(';');
  while (pos != std::string_view::npos && pos < value.size()) {
    ++pos;
    while (pos < value.size() && (value[pos] == ' ' || value[pos] == '\t')) ++pos;
    const size_t eq = value.find_first_of("=;", pos);
    if (eq == std::string_view::npos || value[eq] == ';') {
      pos = eq;
      continue;
    }
    const AnsiString name = platform::Trim(value.substr(pos, eq - pos));
    size_t p = eq + 1;
    while (p < value.size() && (value[p] == ' ' || value[p] == '\t')) ++p;
    AnsiString text;
    if (p < value.size() && value[p] == '"') {
      // A quoted string; a backslash takes the next character as it is.
      ++p;
      while (p < value.size() && value[p] != '"') {
        if (value[p] == '\\' && p + 1 < value.size()) ++p;
        text.push_back(value[p++]);
      }
      pos = value.find(';', p);
    } else {
      const size_t end = value.find(';', p);
      text = platform::Trim(value.substr(p, end == std::string_view::npos ? end : end - p));
      pos = end;
    }
    if (EqualsIgnoringCase(name, param)) {
      out = std::move(text);
      return true;
    }
  }
  return false;
}

// The boundary parameter of a Content-Type value, with "--" in front; empty when there is none.
AnsiString BoundaryFromContentType(std::string_view contentType) {
  AnsiString boundary;
  if (!HeaderParameter(contentType, "boundary", boundary) || boundary.empty()) return {};
  return "--" + boundary;
}

// File names arrive as UTF-8 from browsers and curl; a name that is not valid UTF-8 is read in
// the ANSI code page.
UnicodeString FileNameText(std::string_view bytes) {
  return platform::IsValidUtf8(bytes) ? platform::Utf8ToWide(bytes) : platform::AnsiToWide(bytes);
}

void ReadPartHeader(std::string_view block, TMultiPart& part, bool lowerCaseContentType) {
  size_t pos = 0;
  while (pos < block.size()) {
    size_t end = block.find('\n', pos);
    if (end == std::string_view::npos) end = block.size();
    const std::string_view line = block.substr(pos, end - pos);
    pos = end + 1;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const AnsiString name = platform::Trim(line.substr(0, colon));
    if (name.empty()) continue;
    const AnsiString value = platform::Trim(line.substr(colon + 1));
    TqzKeyValue entry{UpperCaseStr(platform::AnsiToWide(name)), platform::AnsiToWide(value)};
    if (entry.Key == u"CONTENT-DISPOSITION") {
      AnsiString text;
      if (HeaderParameter(value, "name", text)) {
        part.Name = text;
        part.SORTL = text;
        for (char& c : part.SORTL) c = AsciiUpper(c);
      }
      if (HeaderParameter(value, "filename", text)) part.FileName = FileNameText(text);
    } else if (entry.Key == u"CONTENT-TYPE") {
      part.CType = value;
      if (lowerCaseContentType)
        for (char& c : part.CType) c = AsciiLower(c);
    }
    part.Header.push_back(std::move(entry));
  }
}

}  // namespace

bool TqzNet::ParseMultiPartData(const AnsiString& Data, TMultiParts& MultiParts,
                                bool LowerCaseContentType, const AnsiString& ContentType) {
  if (Data.empty()) return false;
  const std::string_view body = Data;
  MultiParts.clear();
  try {
    // The delimiter line: "--" + the Content-Type's boundary, else the body's first line.
    AnsiString delimiter = BoundaryFromContentType(ContentType);
    size_t pos = 0;
    if (delimiter.empty()) {
      const size_t lf = body.find('\n');
      delimiter = platform::Trim(body.substr(0, lf));
      if (delimiter.empty()) return false;
      pos = body.find(delimiter);
    } else {
      // The first delimiter stands at the start or at the start of a line (after a preamble).
      if (body.starts_with(delimiter))
        pos = 0;
      else {
        pos = body.find("\n" + delimiter);
        if (pos != std::string_view::npos) ++pos;
      }
    }
    if (pos == std::string_view::npos) return false;
    const AnsiString nextDelimiter = "\r\n" + delimiter;
    while (true) {
      pos += delimiter.size();
      // The closing delimiter, or nothing but blanks after the last one, ends the body.
      if (body.substr(pos, 2) == "--") return true;
      const size_t lineEnd = body.find('\n', pos);
      if (lineEnd == std::string_view::npos) return platform::Trim(body.substr(pos)).empty();
      if (lineEnd + 1 == body.size()) return true;
      // The header block ends with an empty line; a part without header lines has the empty
      // line straight after the delimiter line.
      const size_t headerStart = lineEnd + 1;
      size_t headerEnd;
      if (body.substr(headerStart, 2) == "\r\n") {
        headerEnd = headerStart;
      } else {
        headerEnd = body.find("\r\n\r\n", headerStart);
        if (headerEnd == std::string_view::npos) return false;
        headerEnd += 2;
      }
      const size_t dataStart = headerEnd + 2;
      const size_t dataEnd = body.find(nextDelimiter, dataStart);
      if (dataEnd == std::string_view::npos) return false;
      TMultiPart& part = MultiParts.emplace_back();
      ReadPartHeader(body.substr(headerStart, headerEnd - headerStart), part, LowerCaseContentType);
      part.Data.assign(body.substr(dataStart, dataEnd - dataStart));
      pos = dataEnd + 2;
    }
  } catch (const Exception&) {
    return false;
  }
}

int32_t TqzNet::GetMultiPartId(const TMultiParts& MultiParts, const AnsiString& Param) {
  AnsiString key = Param;
  for (char& c : key) c = AsciiUpper(c);
  for (size_t i = 0; i < MultiParts.size(); ++i)
    if (MultiParts[i].SORTL == key) return static_cast<int32_t>(i);
  return -1;
}

AnsiString TqzNet::GetMultiPartData(const TMultiParts& MultiParts, const AnsiString& Param,
                                    const AnsiString& Default) {
  const int32_t id = GetMultiPartId(MultiParts, Param);
  return id < 0 ? Default : MultiParts[static_cast<size_t>(id)].Data;
}

UnicodeString TqzNet::GetMultiPartHeaderValue(const TMultiPart& MultiPart,
                                              const UnicodeString& HeaderKey,
                                              const UnicodeString& Default) {
  const UnicodeString key = UpperCaseStr(HeaderKey);
  for (const TqzKeyValue& entry : MultiPart.Header)
    if (entry.Key == key) return entry.Value;
  return Default;
}
