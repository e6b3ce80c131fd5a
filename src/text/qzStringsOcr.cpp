#include "qzStringsOcr.h"

#include <algorithm>
#include <array>
#include <map>
#include <vector>

#include "SysUtils.h"
#include "qzMath.h"
#include "qzStringLists.h"
#include "qzStringsMatch.h"
#include "qzStringsSearch.h"

namespace {

using View = std::u16string_view;

// --- PrepareOCRText ---

std::array<bool, 256> AllowedBytes() {
  std::array<bool, 256> allowed{};
  for (int c = 'a'; c <= 'z'; ++c) allowed[static_cast<size_t>(c)] = true;
  for (int c = 'A'; c <= 'Z'; ++c) allowed[static_cast<size_t>(c)] = true;
  for (int c = '0'; c <= '9'; ++c) allowed[static_cast<size_t>(c)] = true;
  for (unsigned char c : {0xE4, 0xF6, 0xFC, 0xC4, 0xD6, 0xDC, 0xDF, 0x20}) allowed[c] = true;  // äöüÄÖÜß and blank
  return allowed;
}

// A run of L equal characters after four-to-one replacement without overlap.
size_t AfterFourToOne(size_t L) { return L / 4 + L % 4; }

}  // namespace

AnsiString TqzStringsOcr::PrepareOCRText(const AnsiString& Str) {
  static const std::array<bool, 256> kAllowed = AllowedBytes();
  // Tokens (runs of non-blanks, runs of four equal letters already reduced) and the blank runs
  // in front of them, as the blank-by-blank replacements leave them: four to one, then three to
  // one (the text is framed by one blank on each side before that).
  std::string text;  // the tokens' characters, back to back
  struct Token {
    size_t start, length;
    size_t gapBefore;  // blanks before the token
  };
  std::vector<Token> tokens;
  const size_t n = Str.size();
  size_t i = 0;
  size_t blanks = 0;
  bool first = true;
  text.reserve(n);
  tokens.reserve(n / 2 + 2);  // at most one token per two characters
  auto mapped = [&](size_t k) -> unsigned char {
    const auto b = static_cast<unsigned char>(Str[k]);
    return (b < 32 || !kAllowed[b]) ? ' ' : b;
  };
  while (i < n) {
    const unsigned char c = mapped(i);
    size_t j = i + 1;
    while (j < n && mapped(j) == c) ++j;
    const size_t run = j - i;
    if (c == ' ') {
      blanks += run;
    } else {
      const size_t kept = (c >= '0' && c <= '9') ? run : AfterFourToOne(run);
      if (blanks > 0 || first || tokens.empty()) {
        size_t gap = AfterFourToOne(blanks) + (first ? 1 : 0);
        gap = gap / 3 + gap % 3;
        tokens.push_back({text.size(), 0, gap});
        blanks = 0;
        first = false;
      }
      text.append(kept, static_cast<char>(c));
      tokens.back().length += kept;
    }
    i = j;
  }
  const size_t count = tokens.size();
  // Characters standing alone between blanks, code by code in ascending order. Within one code's
  // pass the replacements go left to right without overlap: a character whose left neighbour
  // (as the text stands at the start of the pass) was removed in the same pass and shares a
  // single blank with it has lost that blank and stays.
  std::vector<size_t> prev(count), next(count);
  std::array<std::vector<size_t>, 256> byCode;
  for (size_t k = 0; k < count; ++k) {
    prev[k] = k == 0 ? SIZE_MAX : k - 1;
    next[k] = k + 1 == count ? SIZE_MAX : k + 1;
    if (tokens[k].length == 1) byCode[static_cast<unsigned char>(text[tokens[k].start])].push_back(k);
  }
  auto gap = [&](size_t k) -> size_t& { return tokens[k].gapBefore; };
  std::vector<char> removed(count, 0);
  std::vector<size_t> pass;
  for (auto& candidates : byCode) {
    if (candidates.empty()) continue;
    pass.clear();
    size_t lastRemoved = SIZE_MAX;
    for (size_t k : candidates) {
      if (prev[k] != SIZE_MAX && prev[k] == lastRemoved && gap(k) < 2) continue;
      pass.push_back(k);
      lastRemoved = k;
    }
    for (size_t k : pass) {
      removed[k] = 1;
      const size_t p = prev[k];
      const size_t q = next[k];
      if (p != SIZE_MAX) next[p] = q;
      if (q != SIZE_MAX) {
        prev[q] = p;
        gap(q) = gap(k) + gap(q) - 1;
      }
    }
  }
  AnsiString out;
  out.reserve(text.size() + count);
  for (size_t k = 0; k < count; ++k) {
    if (removed[k]) continue;
    if (!out.empty()) out += ' ';
    out.append(text, tokens[k].start, tokens[k].length);
  }
  return out;
}

bool TqzStringsOcr::StandardizeMinusInNumeric(UnicodeString& Content, TSEARCH_TYPE Position) {
  Content = platform::Trim(Content);
  const UnicodeString inner = TqzStringsPadding::DeleteFlagWhenBeginOrEnd(Content, u"-", EACH_POS);
  if (inner.find(u'-') != UnicodeString::npos) return false;
  if (inner.size() < Content.size()) {
    if (Position == FIRST_POS)
      Content = u"-" + inner;
    else if (Position == LAST_POS)
      Content = inner + u"-";
  }
  return true;
}

UnicodeString TqzStringsOcr::GetDezimalSign(const UnicodeString& Content, bool ReplaceO, bool Replacel,
                                            bool /*WithoutMinusValues*/) {
  const char16_t* expression;
  if (ReplaceO && Replacel)
    expression =
        u"(([0-9]{1,1})|([l-]{1,1}))(([0-9lO\\,\\.]{0,19})|([0-9lO\\.\\,]{0,19}))(([ ]{0,1}[.,]{1,1}[ ]{0,1})([0-9]{0,5})|[ ]{0,1})";
  else if (ReplaceO)
    expression =
        u"(([0-9]{1,1})|([O]{1,1}))(([0-9O\\.\\,]{0,19})|([0-9O\\,\\.]{0,19}))(([ ]{0,1}[.,]{1,1}[ ]{0,1})([0-9O]{0,5})|[ ]{0,1})";
  else if (Replacel)
    expression =
        u"(([0-9]{1,1})|([l-]{1,1}))(([0-9lO\\,\\.]{0,19})|([0-9l\\,\\.]{0,19}))(([ ]{0,1}[.,]{1,1}[ ]{0,1})([0-9]{0,5})|[ ]{0,1})";
  else
    expression = u"([0-9]{1,1})([0-9,\\.]{0,200})";
  TStringList candidates;
  TqzStringsMatch::GetAllRegExResults(Content, expression, candidates);
  int points = 0;
  int commas = 0;
  for (int i = 0; i < candidates.Count(); ++i) {
    UnicodeString c = candidates[i];
    if (ReplaceO) c = (c == u"O" || c == u"OO") ? UnicodeString() : TqzStringsSearch::ReplaceW(c, u"O", u"0");
    if (Replacel) c = (c == u"l" || c == u"ll") ? UnicodeString() : TqzStringsSearch::ReplaceW(c, u"l", u"1");
    for (const auto& [from, to] : {std::pair<View, View>{u" , ", u","}, {u" ,", u","}, {u", ", u","},
                                   {u" . ", u"."}, {u" .", u"."}, {u". ", u"."}, {u",", u"*"}})
      c = TqzStringsSearch::ReplaceW(c, UnicodeString(from), UnicodeString(to));
    if (c.empty()) continue;
    const size_t p = c.rfind(u'*');
    const size_t q = c.rfind(u'.');
    const size_t len = c.size();
    const auto posP = p == UnicodeString::npos ? 0 : p + 1;
    const auto posQ = q == UnicodeString::npos ? 0 : q + 1;
    if (posP < posQ) {
      if (std::count(c.begin(), c.end(), u'.') == 1) points += (q + 3 == len) ? 2 : 1;
    } else if (std::count(c.begin(), c.end(), u'*') == 1) {
      commas += (p + 3 == len) ? 2 : 1;
    }
  }
  return points > commas ? u"." : u",";
}

TStrings& TqzStringsOcr::FindSpacedWritingWords(const UnicodeString& Content, const TStrings* SearchWords,
                                                TStrings& FoundWords) {
  const UnicodeString text = TqzStringsSearch::RemoveMoreThenOneBlanks(Content);
  UnicodeString run;
  auto evaluate = [&] {
    if (run.size() > 2) {
      if (SearchWords != nullptr && SearchWords->Count() > 0) {
        for (int k = 0; k < SearchWords->Count(); ++k) {
          const UnicodeString word = SearchWords->Get(k);
          if (word.empty()) continue;
          const double threshold = std::max(100.0 - 300.0 / static_cast<double>(word.size()), 50.0);
          if (TqzMath::GetDamerauLevenshteinAccuracy(word, run) >= threshold) {
            FoundWords.Add(word);
            break;
          }
        }
      } else {
        FoundWords.Add(run);
      }
    }
    run.clear();
  };
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(u' ', start);
    if (end == UnicodeString::npos) end = text.size();
    const size_t len = end - start;
    if (len == 1)
      run += text[start];
    else if (len >= 2)
      evaluate();
    start = end + 1;
  }
  evaluate();  // a run at the end of the text counts too
  return FoundWords;
}

namespace {

// Letters and their plain spellings, applied in this order.
const std::vector<std::pair<char16_t, View>>& Folding() {
  static const std::vector<std::pair<char16_t, View>> table = {
      {u'à', u"a"},  {u'á', u"a"},  {u'â', u"a"},  {u'ã', u"a"},  {u'ä', u"ae"}, {u'å', u"a"},  {u'æ', u"ae"},
      {u'ç', u"c"},  {u'è', u"e"},  {u'é', u"e"},  {u'ê', u"e"},  {u'ë', u"e"},  {u'ì', u"i"},  {u'í', u"i"},
      {u'î', u"i"},  {u'ï', u"i"},  {u'ð', u"d"},  {u'ñ', u"n"},  {u'ò', u"o"},  {u'ó', u"o"},  {u'ô', u"o"},
      {u'õ', u"o"},  {u'ö', u"oe"}, {u'ø', u"o"},  {u'ù', u"u"},  {u'ú', u"u"},  {u'û', u"u"},  {u'ü', u"ue"},
      {u'ý', u"y"},  {u'þ', u"th"}, {u'ÿ', u"y"},  {u'ß', u"ss"}, {u'À', u"A"},  {u'Á', u"A"},  {u'Â', u"A"},
      {u'Ã', u"A"},  {u'Ä', u"Ae"}, {u'Å', u"A"},  {u'Æ', u"AE"}, {u'Ç', u"C"},  {u'È', u"E"},  {u'É', u"E"},
      {u'Ê', u"E"},  {u'Ë', u"E"},  {u'Ì', u"I"},  {u'Í', u"I"},  {u'Î', u"I"},  {u'Ï', u"I"},  {u'Ð', u"D"},
      {u'Ñ', u"N"},  {u'Ò', u"O"},  {u'Ó', u"O"},  {u'Ô', u"O"},  {u'Õ', u"O"},  {u'Ö', u"Oe"}, {u'Ø', u"O"},
      {u'Ù', u"U"},  {u'Ú', u"U"},  {u'Û', u"U"},  {u'Ü', u"Ue"}, {u'Ý', u"Y"},  {u'Þ', u"th"}, {u'Ÿ', u"Y"},
  };
  return table;
}

UnicodeString Fold(const UnicodeString& text) {
  UnicodeString out;
  out.reserve(text.size() + 8);
  for (char16_t c : text) {
    const auto& table = Folding();
    const auto it = std::find_if(table.begin(), table.end(), [c](const auto& p) { return p.first == c; });
    if (it == table.end())
      out += c;
    else
      out.append(it->second);
  }
  return out;
}

constexpr View kConsonants = u"BCDFGHJKLMNPQRSTVWXYZbcdfghjklmnpqrstvwxyz";

}  // namespace

TStrings& TqzStringsOcr::GetAbbreviationList(const UnicodeString& Content, int32_t MinLength, bool UsePointAtEnd,
                                             TStrings& ResultList) {
  UnicodeString skeleton;
  for (char16_t c : Content)
    if (kConsonants.find(c) != View::npos) skeleton += c;
  if (Content.empty() || skeleton.empty()) return ResultList;
  if (skeleton.front() != Content.front()) skeleton.insert(skeleton.begin(), Content.front());
  const UnicodeString suffix = UsePointAtEnd ? u"." : u"";
  const UnicodeString folded = Fold(Content);
  TStringList scratch;
  UnicodeString prefix;
  UnicodeString foldedPrefix;
  const size_t last = Content.size() - 1;
  for (size_t i = 1; i <= last; ++i) {
    prefix += Content[i - 1];
    if (i - 1 < folded.size()) foldedPrefix += folded[i - 1];
    if (static_cast<int64_t>(prefix.size()) < MinLength) continue;
    const bool blank = TqzStringsSearch::IsEmptyW(prefix, true);
    if (i == skeleton.size() && !blank) scratch.Add(skeleton + suffix);
    if (!blank) scratch.Add(prefix + suffix);
    if (foldedPrefix != prefix && !TqzStringsSearch::IsEmptyW(foldedPrefix, true) &&
        scratch.IndexOf(foldedPrefix + suffix) < 0)
      scratch.Add(foldedPrefix + suffix);
  }
  if (last < skeleton.size() && !TqzStringsSearch::IsEmptyW(prefix, true) && scratch.IndexOf(skeleton + suffix) < 0)
    ResultList.Add(skeleton + suffix);
  for (int k = scratch.Count() - 1; k >= 0; --k) ResultList.Add(scratch[k]);
  return ResultList;
}
