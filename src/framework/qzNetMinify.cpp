#include "qzNetMinify.h"

#include <string_view>
#include <vector>

#include "Exceptions.h"
#include "StringList.h"
#include "SysUtils.h"
#include "qzStrings.h"
#include "qzToolsEvo2.h"

namespace {

constexpr auto npos = UnicodeString::npos;
const UnicodeString kCRLF = u"\r\n";

// The lines of a text as the platform's string list reads them: CR, LF and CR LF end a line, and
// a final line break opens no further line.
std::vector<std::u16string_view> SplitLines(std::u16string_view text) {
  std::vector<std::u16string_view> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != u'\r' && text[i] != u'\n') continue;
    lines.push_back(text.substr(start, i - start));
    if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

std::u16string_view Piece(std::u16string_view text, size_t from, size_t to) {
  return to > from ? text.substr(from, to - from) : std::u16string_view();
}

// Replaces each block from "/*!" to the next "*/" by a numbered placeholder and keeps the blocks.
UnicodeString TakeKeptComments(const UnicodeString& text, std::vector<UnicodeString>& kept) {
  UnicodeString out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const size_t p = text.find(u"/*!", i);
    const size_t e = p == npos ? npos : text.find(u"*/", p);
    if (e == npos) break;
    out.append(text, i, p - i);
    kept.push_back(text.substr(p, e + 2 - p));
    out += u"<###LicenseReplacer" + platform::ToU16(std::to_string(kept.size())) + u"###>";
    i = e + 2;
  }
  if (i < text.size()) out.append(text, i, npos);
  return out;
}

// Removes every block from "/*" to the next "*/", the end searched from the block's first
// character (so "/*/" is a block), as removing the first block again and again would: a "/"
// before a removed block and a "*" after it form a new opening mark.
UnicodeString RemoveComments(const UnicodeString& text) {
  UnicodeString out;
  out.reserve(text.size());
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    const size_t p = text.find(u"/*", i);
    const size_t e = p == npos ? npos : text.find(u"*/", p);
    if (e == npos) break;
    out.append(text, i, p - i);
    i = e + 2;
    bool open = false;
    while (!out.empty() && out.back() == u'/' && i < n && text[i] == u'*') {
      const size_t e2 = text.find(u"*/", i);
      if (e2 == npos) {
        open = true;
        break;
      }
      out.pop_back();
      i = e2 + 2;
    }
    if (open) break;
  }
  if (i < n) out.append(text, i, npos);
  return out;
}

// Puts the kept blocks back, each on a line of its own.
UnicodeString RestoreKeptComments(const UnicodeString& text, const std::vector<UnicodeString>& kept) {
  if (kept.empty()) return text;
  static const std::u16string_view mark = u"<###LicenseReplacer";
  UnicodeString out;
  out.reserve(text.size());
  size_t i = 0;
  for (;;) {
    const size_t p = text.find(mark, i);
    if (p == npos) break;
    size_t q = p + mark.size();
    size_t number = 0;
    const size_t digits = q;
    while (q < text.size() && text[q] >= u'0' && text[q] <= u'9' && q - digits < 9)
      number = number * 10 + (text[q++] - u'0');
    if (q > digits && text.compare(q, 4, u"###>") == 0 && number >= 1 && number <= kept.size()) {
      out.append(text, i, p - i);
      out += kCRLF + kept[number - 1] + kCRLF;
      i = q + 4;
    } else {
      out.append(text, i, p + 1 - i);
      i = p + 1;
    }
  }
  out.append(text, i, npos);
  return out;
}

bool IsRegexContextAt(std::u16string_view text, size_t pos) {
  static const std::u16string_view context = u"*(,=:[!&|?+-~{;";
  if (pos >= text.size()) return false;
  if (context.find(text[pos]) != std::u16string_view::npos) return true;
  return text[pos] == u'r' && text.substr(pos, 6) == u"return";
}

// Whether a "/" after the probe text (line code, a blank, the line from start to before the "/")
// opens a regular expression: the last character that is not a blank is a context character, or
// ends a "return". The probe is read in place, never built.
bool IsRegexStart(const UnicodeString& code, std::u16string_view line, size_t start, size_t slash) {
  const size_t tail = slash > start ? slash - start : 0;
  const size_t length = code.size() + 1 + tail;
  auto at = [&](size_t i) -> char16_t {
    if (i < code.size()) return code[i];
    if (i == code.size()) return u' ';
    return line[start + i - code.size() - 1];
  };
  size_t k = length;
  while (k > 0 && at(k - 1) == u' ') --k;
  if (k == 0) return true;
  size_t pos = k - 1;
  if (at(pos) == u'n' && pos >= 5) pos -= 5;
  static const std::u16string_view context = u"*(,=:[!&|?+-~{;";
  const char16_t c = at(pos);
  if (context.find(c) != std::u16string_view::npos) return true;
  if (c != u'r' || pos + 6 > length) return false;
  for (size_t j = 0; j < 6; ++j)
    if (at(pos + j) != u"return"[j]) return false;
  return true;
}

const char16_t* const kShortTokens =
    uR"("&{","script:","javascript","<script","document.cookie","base64",".fromCharCode","<applet","redirect3","$_get[")";
const char16_t* const kFullTokens =
    uR"("document.cookie","base64",".fromCharCode","<applet","<body","<embed","<frame","<html","<iframe","<img","<style","<layer","<link","<ilayer","<meta","<object","<table","SRC=","<svg/","onload","script:","javascript","<script","redirect3","<metahttp-equiv","set-cookie","charset","href=","$_get[")";

// Numeric character references ("&#60;", "&#x3c", "&#0000060;", with or without "&" and ";")
// whose value the guard decodes (codes 35 to 90 and 97 to 122) become their character, whatever
// their zero padding. The trailing ";" goes with the reference.
UnicodeString DecodeNumericReferences(const UnicodeString& text) {
  UnicodeString out;
  out.reserve(text.size());
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    if (text[i] != u'#') {
      out.push_back(text[i++]);
      continue;
    }
    size_t q = i + 1;
    const bool hex = q < n && (text[q] == u'x' || text[q] == u'X');
    if (hex) ++q;
    const size_t digits = q;
    uint32_t value = 0;
    for (; q < n; ++q) {
      const char16_t c = text[q];
      int d = -1;
      if (c >= u'0' && c <= u'9') d = c - u'0';
      else if (hex && c >= u'a' && c <= u'f') d = c - u'a' + 10;
      else if (hex && c >= u'A' && c <= u'F') d = c - u'A' + 10;
      if (d < 0) break;
      value = value > 0xFFFF ? value : value * (hex ? 16 : 10) + static_cast<uint32_t>(d);
    }
    if (q > digits && ((value >= 35 && value <= 90) || (value >= 97 && value <= 122))) {
      out.push_back(static_cast<char16_t>(value));
      if (q < n && text[q] == u';') ++q;
      i = q;
    } else {
      out.push_back(text[i++]);
    }
  }
  return out;
}

UnicodeString NormalizeXSSText(const UnicodeString& text) {
  UnicodeString s = DecodeNumericReferences(text);
  for (const char16_t* zeros : {u"00000", u"0000", u"000", u"00"}) s = TqzStrings::ReplaceW(s, zeros, u"");
  s = TqzStrings::ReplaceW(s, u";", u"");
  s = TqzStrings::ReplaceW(s, u"&", u"");
  s = LowerCaseStr(s);
  if (s.find(u'#') == npos) return s;
  auto hex2 = [](int code) {
    static const char* digits = "0123456789abcdef";
    return UnicodeString{static_cast<char16_t>(digits[code / 16]), static_cast<char16_t>(digits[code % 16])};
  };
  // The references left ("#65", "#065", "#x41") become their characters, one code and form
  // after the other, each pass seeing what the passes before it made. Every form starts with
  // "#", so a pass is run only where the form stands behind one of the text's "#" (those are
  // listed again after each pass that changed the text): a long text with few references is not
  // copied two hundred times.
  std::vector<size_t> hashes;
  auto listHashes = [&] {
    hashes.clear();
    for (size_t at = s.find(u'#'); at != npos; at = s.find(u'#', at + 1)) hashes.push_back(at);
  };
  listHashes();
  auto replace = [&](const UnicodeString& form, char16_t ch) {
    for (size_t at : hashes)
      if (s.compare(at, form.size(), form) == 0) {
        s = TqzStrings::ReplaceW(s, form, UnicodeString(1, ch));
        listHashes();
        return;
      }
  };
  for (int code = 35; code <= 90 && !hashes.empty(); ++code) {
    const UnicodeString dec = platform::ToU16(std::to_string(code));
    replace(u"#" + dec, static_cast<char16_t>(code));
    replace(u"#0" + dec, static_cast<char16_t>(code));
    replace(u"#x" + hex2(code), static_cast<char16_t>(code));
  }
  for (int code = 97; code <= 122 && !hashes.empty(); ++code) {
    replace(u"#" + platform::ToU16(std::to_string(code)), static_cast<char16_t>(code));
    replace(u"#x" + hex2(code), static_cast<char16_t>(code));
  }
  return s;
}

UnicodeString Compact(const UnicodeString& text) {
  UnicodeString upper = UpperCaseStr(platform::Trim(text));
  UnicodeString out;
  out.reserve(upper.size());
  for (char16_t c : upper)
    if (c != u' ') out.push_back(c);
  return out;
}

bool ContainsAttackToken(const UnicodeString& text, const TStringList& tokens) {
  const UnicodeString normalized = NormalizeXSSText(text);
  if (platform::Trim(normalized).empty()) return false;
  const UnicodeString decoded = Compact(normalized);
  const UnicodeString raw = Compact(text);  // "&{" and other tokens with "&", ";" or "00"
  for (int i = 0; i < tokens.Count(); ++i) {
    const UnicodeString token = UpperCaseStr(platform::Trim(tokens[i]));
    if (token.empty()) continue;
    if (decoded.find(token) != npos || raw.find(token) != npos) return true;
  }
  return false;
}

UnicodeString QuoteXSSText(const UnicodeString& text, const UnicodeString& allowed) {
  const bool all = platform::Trim(allowed).empty();
  auto replace = [&](UnicodeString& s, char16_t c, const char16_t* by) {
    if (all || allowed.find(c) == npos) s = TqzStrings::ReplaceW(s, UnicodeString(1, c), by);
  };
  UnicodeString s = text;
  replace(s, u';', u"<XSS_SEMICOLON>");
  replace(s, u'#', u"<XSS_SHAPE>");
  replace(s, u'&', u"<XSS_AND>");
  s = TqzStrings::ReplaceW(s, u"<XSS_SEMICOLON>", u"&#59;");
  s = TqzStrings::ReplaceW(s, u"<XSS_SHAPE>", u"&#35;");
  s = TqzStrings::ReplaceW(s, u"<XSS_AND>", u"&amp;");
  replace(s, u'"', u"&quot;");
  replace(s, u'\'', u"&#39;");
  replace(s, u'(', u"&#40;");
  replace(s, u')', u"&#41;");
  replace(s, u'/', u"&#47;");
  replace(s, u'<', u"&lt;");
  replace(s, u'>', u"&gt;");
  return s;
}

}  // namespace

UnicodeString TqzNetWebText::CompressCSS(const UnicodeString& CSS) {
  std::vector<UnicodeString> kept;
  const UnicodeString text = TakeKeptComments(CSS, kept);
  UnicodeString joined;
  joined.reserve(text.size());
  for (const auto line : SplitLines(text)) {
    joined += platform::Trim(line);
    joined += u' ';
  }
  return RestoreKeptComments(RemoveComments(joined), kept);
}

UnicodeString TqzNetWebText::CompressJavaScript(const UnicodeString& JavaScript) {
  bool inComment = false, inKept = false, regexSeen = false;
  UnicodeString result;
  result.reserve(JavaScript.size());
  for (const auto rawLine : SplitLines(JavaScript)) {
    const UnicodeString lineText = platform::Trim(rawLine);
    const std::u16string_view line = lineText;
    const size_t n = line.size();
    bool inSingle = false, inDouble = false, inRegex = false;
    UnicodeString out, code;
    size_t start = 0;
    size_t p = 0;
    if (inComment || inKept) {
      const size_t k = line.find(u"*/");
      p = k == npos ? n : (k == 0 ? 0 : k - 1);
    }
    while (p < n) {
      const char16_t c = line[p];
      const char16_t next = p + 1 < n ? line[p + 1] : u'\0';
      if (!inSingle && !inDouble && !inComment && !inKept && !inRegex && IsRegexContextAt(line, p))
        regexSeen = false;
      if (c == u'"' && !(inSingle || inComment || inKept || inRegex)) inDouble = !inDouble;
      if (c == u'\'' && !(inDouble || inComment || inKept || inRegex)) inSingle = !inSingle;
      if (c == u'*' && next == u'/' && (inComment || inKept)) {
        if (inComment) {
          inComment = false;
        } else {
          inKept = false;
          out += kCRLF;
          out += Piece(line, start, p + 2);
          out += kCRLF;
        }
        start = p + 2;
        p += 2;
        continue;
      }
      if (c == u'/') {
        const bool outside = !inSingle && !inDouble && !inComment && !inKept && !inRegex;
        if (outside && next == u'*') {
          const auto before = Piece(line, start, p);
          out += u' ';
          out += before;
          code += u' ';
          code += before;
          size_t q;
          if (p + 2 < n && line[p + 2] == u'!') {
            inKept = true;
            start = p;
            q = line.find(u"*/", p + 3);
          } else {
            inComment = true;
            q = line.find(u"*/", p + 2);
          }
          if (q == npos) break;
          p = q;
          continue;
        }
        if (outside && next == u'/') {
          out += u' ';
          out += Piece(line, start, p);
          start = n;  // the rest of the line is a comment
          break;
        }
        if (!inSingle && !inDouble && !inComment && !inKept) {
          if (inRegex) {
            if (p == 0 || line[p - 1] != u'\\') inRegex = false;
          } else if (!regexSeen && IsRegexStart(code, line, start, p)) {
            inRegex = true;
            regexSeen = true;
          }
        }
      }
      ++p;
    }
    if (!inComment) {
      if (inKept) {
        out += kCRLF;
        out += Piece(line, start, n);
        out += kCRLF;
      } else {
        out += u' ';
        out += Piece(line, start, n);
      }
    }
    if (inRegex) out += u"/ ";
    if (!inKept) out = platform::Trim(out);
    result += out;
    result += u' ';
  }
  return platform::Trim(result);
}

UnicodeString TqzNetWebText::XSSProtection(const UnicodeString& TestString, bool QuoteString,
                                           bool ErrorWhenQuote, const UnicodeString& AllowedChars,
                                           bool FullTest, const UnicodeString& AttackFlags) {
  TStringList tokens;
  tokens.SetCommaText(!AttackFlags.empty() ? AttackFlags : FullTest ? kFullTokens : kShortTokens);
  if (ContainsAttackToken(TestString, tokens)) throw Exception("found possible XSS attack!");
  if (!QuoteString) return TestString;
  UnicodeString quoted = QuoteXSSText(TestString, AllowedChars);
  if (ErrorWhenQuote && quoted.size() > TestString.size())
    throw Exception("found possible XSS attack!");
  return quoted;
}
