#include "qzToolsEvo2.h"

#include <array>
#include <vector>

#include "CaseMap.h"
#include "CodePage.h"
#include "Module.h"
#include "SysUtils.h"
#include "qzTypes.h"

// --- Case conversion -----------------------------------------------------------------------------

UnicodeString UpperCaseStr(std::u16string_view S) { return platform::UpperW(S); }

UnicodeString LowerCaseStr(std::u16string_view S) { return platform::LowerW(S); }

namespace {

// The pad constant: 61 zeros, so ZeroPadLeft never adds more than 61.
constexpr std::string_view kZeroPad = "0000000000000000000000000000000000000000000000000000000000000";
static_assert(kZeroPad.size() == 61);

constexpr std::array<std::string_view, 20> kYesWords = {
    "JA",  "YES", "OK",      "1",   "X",  "TRUE", "WAHR", "RICHTIG", "KORREKT", "RIGHT",
    "YAP", "OUI", "CORRECT", "JAU", "YO", "JO",   "YEP",  "YEPP",    "YAPP",    "YUP"};

template <class C>
bool IsBlankOrControl(C c) {
  return static_cast<std::make_unsigned_t<C>>(c) <= 32;
}

template <class V>
V TrimView(V s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && IsBlankOrControl(s[b])) ++b;
  while (e > b && IsBlankOrControl(s[e - 1])) --e;
  return s.substr(b, e - b);
}

char16_t AsciiUpper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

bool SameAsciiUpper(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

// The platform's integer-text rules on a text without "%".
bool ParseInt64(std::string_view s, int64_t& value) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  bool hex = false;
  if (i < s.size() && (s[i] == '$' || s[i] == 'x' || s[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= s.size()) return false;
  uint64_t magnitude = 0;
  if (hex) {
    if (s.size() - i > 16) return false;
    for (; i < s.size(); ++i) {
      const int d = platform::HexDigitValue(s[i]);
      if (d < 0) return false;
      magnitude = (magnitude << 4) | static_cast<uint64_t>(d);
    }
    // A 64-bit pattern: negation wraps around like the platform's.
    value = static_cast<int64_t>(negative ? 0 - magnitude : magnitude);
    return true;
  }
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    const uint64_t d = static_cast<uint64_t>(s[i] - '0');
    if (magnitude > (limit - d) / 10) return false;
    magnitude = magnitude * 10 + d;
  }
  value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

// Splits "name=value" items off a ";"-separated list (the text gets a final ";" when it lacks
// one) and calls onItem(name, value) for each until it returns false.
template <class F>
void ScanConfigItems(std::u16string_view text, F&& onItem) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t semi = text.find(u';', pos);
    if (semi == std::u16string_view::npos) semi = text.size();
    const std::u16string_view item = TrimView(text.substr(pos, semi - pos));
    pos = semi + 1;
    const size_t eq = item.find(u'=');
    const std::u16string_view name = eq == std::u16string_view::npos ? std::u16string_view() : item.substr(0, eq);
    const std::u16string_view value = eq == std::u16string_view::npos ? item : item.substr(eq + 1);
    if (!onItem(name, value)) return;
  }
}

// --- Start parameters ----------------------------------------------------------------------------

// The process's arguments: argument 0 is the full file name of the executable, the others as the
// process received them (already split; the shell has removed any quotes).
std::vector<UnicodeString> CommandLineArguments() {
  std::vector<UnicodeString> args;
  for (const std::string& arg : platform::ProcessArguments()) args.push_back(platform::Utf8ToWide(arg));
  const std::string exe = platform::ProcessExecutableName();
  if (!exe.empty() && !args.empty()) args[0] = platform::Utf8ToWide(exe);
  return args;
}

}  // namespace

// --- Helpers on 8-bit texts ----------------------------------------------------------------------

int64_t StrToIntDefEx(const AnsiString& Text, int32_t ErrorDefault, int32_t EmptyDefault) {
  if (Text.empty()) return EmptyDefault;
  std::string s;
  s.reserve(Text.size());
  for (char c : Text)
    if (c != '%') s.push_back(c);
  int64_t v = 0;
  return ParseInt64(s, v) ? v : ErrorDefault;
}

AnsiString BoolToString(bool Value) { return Value ? "True" : "False"; }

bool StringToBool(const AnsiString& Text) {
  const std::string word = platform::UpperAscii(std::string_view(Text));
  for (std::string_view yes : kYesWords)
    if (word == yes) return true;
  return false;
}

AnsiString IncludeBackslash(const AnsiString& Path) {
  AnsiString p(TrimView(std::string_view(Path)));
  if (!p.empty() && p.back() != '/' && p.back() != '\\') p.push_back('/');
  return p;
}

AnsiString EnsureSuffix(const AnsiString& Text, const AnsiString& Suffix) {
  if (Text.empty()) return Text;
  if (Text.size() >= Suffix.size() &&
      Text.compare(Text.size() - Suffix.size(), Suffix.size(), Suffix) == 0)
    return Text;
  return Text + Suffix;
}

AnsiString ZeroPadLeft(const AnsiString& Text, int32_t Length) {
  const int64_t missing = static_cast<int64_t>(Length) - static_cast<int64_t>(Text.size());
  if (missing <= 0) return Text;
  const size_t zeros = static_cast<size_t>(std::min<int64_t>(missing, kZeroPad.size()));
  return AnsiString(kZeroPad.substr(0, zeros)) + Text;
}

AnsiString PadRight(const AnsiString& Text, int32_t Length) {
  if (Length <= 0 || Text.size() >= static_cast<size_t>(Length)) return Text;
  AnsiString r = Text;
  r.resize(static_cast<size_t>(Length), ' ');
  return r;
}

bool ReplaceDoubleQuotes(TStrings& Lines) {
  const int count = Lines.Count();
  for (int i = 0; i < count; ++i) {
    UnicodeString line = Lines[i];
    bool changed = false;
    for (char16_t& c : line) {
      if (c == u'"') {
        c = u'\'';
        changed = true;
      }
    }
    if (changed) Lines.Put(i, line);
  }
  return true;
}

AnsiString ExtractBetween(const AnsiString& Text, const AnsiString& OpenDelimiter,
                          const AnsiString& CloseDelimiter) {
  const std::string_view text(Text);
  constexpr size_t npos = std::string_view::npos;
  auto find = [&](const AnsiString& what, size_t from) {
    return what.empty() ? npos : text.find(what, from);
  };
  size_t open = find(OpenDelimiter, 0);
  size_t close = find(CloseDelimiter, 0);
  if (open == npos || close == npos) {
    if (!CloseDelimiter.empty()) return AnsiString();
    // Everything after the opening delimiter; when it is missing, from the position its length
    // gives (1-based), which for a one-character delimiter is the whole text.
    const size_t from = open != npos ? open + OpenDelimiter.size()
                                     : (OpenDelimiter.empty() ? 0 : OpenDelimiter.size() - 1);
    return AnsiString(TrimView(from < text.size() ? text.substr(from) : std::string_view()));
  }
  // Closing delimiters before the opening one are dropped, together with everything before them.
  size_t base = 0;
  while (close < open) {
    base = close + CloseDelimiter.size();
    if (open < base) open = find(OpenDelimiter, base);
    close = find(CloseDelimiter, base);
    if (open == npos || close == npos) return AnsiString();
  }
  const size_t inner = open + OpenDelimiter.size();
  if (close < inner) return AnsiString();
  return AnsiString(TrimView(text.substr(inner, close - inner)));
}

bool ParseTagList(const AnsiString& Text, AnsiString& Tag, TStrings& Items) {
  Items.Clear();
  const std::string_view text(Text);
  constexpr size_t npos = std::string_view::npos;
  // Text that is passed over (before and between tags) stays in the text and is never read as a
  // tag; it cannot hold "<" but may hold ">", which keeps the loop going. One forward scan.
  bool skippedHasGt = false;
  size_t pos = 0;
  for (;;) {
    const size_t lt = text.find('<', pos);
    if (lt == npos) break;
    const bool gtBefore = skippedHasGt || text.substr(pos, lt - pos).find('>') != npos;
    const size_t gt = text.find('>', lt + 1);
    if (gt == npos) {
      // No ">" follows the "<": an empty item, and the rest is dropped.
      if (gtBefore) Items.Add(UnicodeString());
      break;
    }
    Items.Add(platform::AnsiToWide(TrimView(text.substr(lt + 1, gt - lt - 1))));
    skippedHasGt = gtBefore;
    pos = gt + 1;
  }
  const int count = Items.Count();
  if (count < 2) return false;
  const UnicodeString first = Items[0];
  if (!SameAsciiUpper(u"/" + first, Items[count - 1])) return false;
  Tag = platform::WideToAnsi(platform::UpperAscii(std::u16string_view(first)));
  Items.Delete(count - 1);
  Items.Delete(0);
  return true;
}

UnicodeString GetConfigStringParameter(const UnicodeString& ConfigString,
                                       const UnicodeString& Parameter,
                                       const UnicodeString& Default) {
  UnicodeString result = Default;
  ScanConfigItems(ConfigString, [&](std::u16string_view name, std::u16string_view value) {
    if (!SameAsciiUpper(name, Parameter)) return true;
    result.assign(value);
    return false;
  });
  return result;
}

bool GetConfigStringParameters(const UnicodeString& ConfigString, const UnicodeString& Parameter,
                               std::unique_ptr<TStringList>& Values) {
  if (!Values) Values = std::make_unique<TStringList>();
  ScanConfigItems(ConfigString, [&](std::u16string_view name, std::u16string_view value) {
    if (Parameter.empty() || SameAsciiUpper(name, Parameter)) Values->Add(UnicodeString(value));
    return true;
  });
  return true;
}

// --- Class methods of TqzTools -------------------------------------------------------------------

UnicodeString TqzToolsParams::GetConfigStringParameter(const UnicodeString& ConfigString,
                                                       const UnicodeString& Parameter,
                                                       const UnicodeString& Default) {
  return ::GetConfigStringParameter(ConfigString, Parameter, Default);
}

bool TqzToolsParams::GetConfigStringParameters(const UnicodeString& ConfigString,
                                               const UnicodeString& Parameter,
                                               std::unique_ptr<TStringList>& Values) {
  return ::GetConfigStringParameters(ConfigString, Parameter, Values);
}

UnicodeString TqzToolsParams::PrepareXMLStringW(const UnicodeString& Data,
                                                bool ApplyNotationReplacements) {
  UnicodeString out;
  out.reserve(Data.size());
  const std::u16string_view text(Data);
  ScanXmlChars(
      text,
      [&](size_t pos, size_t len) {
        if (ApplyNotationReplacements) {
          AppendXmlEscaped(out, text.substr(pos, len));
        } else {
          out.append(text.substr(pos, len));
        }
      },
      [&](char16_t) { out.push_back(u' '); });
  return out;
}

Variant TqzToolsParams::GetStartParam(const UnicodeString& Name, const Variant& Default,
                                      const AnsiString& Prefix, uint16_t ResultType) {
  const UnicodeString key = platform::AnsiToWide(Prefix) + UpperCaseStr(Name);
  const std::vector<UnicodeString> args = CommandLineArguments();
  for (size_t i = 1; i < args.size(); ++i) {
    const UnicodeString& arg = args[i];
    const size_t eq = arg.find(u'=');
    const UnicodeString name = eq == UnicodeString::npos ? UnicodeString() : arg.substr(0, eq);
    if (UpperCaseStr(name) != key) continue;
    const uint16_t type = ResultType == varNull ? TqzTypes::GetVarType(Default) : ResultType;
    return TqzTypes::StrToVarExt(eq == UnicodeString::npos ? arg : arg.substr(eq + 1), type);
  }
  return Default;
}
