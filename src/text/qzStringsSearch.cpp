#include "qzStringsSearch.h"

#include <algorithm>
#include <limits>
#include <string_view>

#include "CaseMap.h"
#include "SysUtils.h"
#include "qzToolsEvo2.h"

namespace {

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

// A 0-based index as a 1-based 32-bit position; positions beyond the 32-bit range saturate.
int32_t ToPos(size_t index0) {
  return index0 >= static_cast<size_t>(kInt32Max) ? static_cast<int32_t>(kInt32Max)
                                                  : static_cast<int32_t>(index0 + 1);
}

int32_t Saturate(int64_t v) {
  // Symmetric range so that a later negation never overflows.
  if (v > kInt32Max) return static_cast<int32_t>(kInt32Max);
  if (v < -kInt32Max) return static_cast<int32_t>(-kInt32Max);
  return static_cast<int32_t>(v);
}

// Linear-time substring search (Knuth-Morris-Pratt, with a skip to the next occurrence of the
// first unit while nothing is matched).
template <class C>
class Finder {
 public:
  using View = std::basic_string_view<C>;
  static constexpr size_t npos = View::npos;

  explicit Finder(View pattern) : p_(pattern) {
    if (p_.size() > 1) {
      fail_.assign(p_.size(), 0);
      size_t k = 0;
      for (size_t i = 1; i < p_.size(); ++i) {
        while (k > 0 && p_[i] != p_[k]) k = fail_[k - 1];
        if (p_[i] == p_[k]) ++k;
        fail_[i] = k;
      }
    }
  }

  // Calls onMatch(start) for each match at or after `from`, left to right. With `overlapping`
  // the scan goes on from the next unit after a match start, else after the match end.
  // onMatch returns false to stop.
  template <class F>
  void ForEach(View text, size_t from, bool overlapping, F&& onMatch) const {
    const size_t m = p_.size();
    const size_t n = text.size();
    if (m == 0 || from >= n || m > n - from) return;
    if (m == 1) {
      for (size_t i = text.find(p_[0], from); i != npos; ) {
        if (!onMatch(i)) return;
        i = text.find(p_[0], i + 1);
      }
      return;
    }
    size_t k = 0;
    size_t i = from;
    while (i < n) {
      if (k == 0) {
        const size_t j = text.find(p_[0], i);
        if (j == npos || m > n - j) return;
        i = j;
      }
      if (text[i] == p_[k]) {
        ++k;
        ++i;
        if (k == m) {
          if (!onMatch(i - m)) return;
          k = overlapping ? fail_[m - 1] : 0;
        }
      } else if (k > 0) {
        k = fail_[k - 1];
      } else {
        ++i;
      }
    }
  }

  size_t Find(View text, size_t from) const {
    size_t found = npos;
    ForEach(text, from, false, [&](size_t at) {
      found = at;
      return false;
    });
    return found;
  }

 private:
  View p_;
  std::vector<size_t> fail_;
};

template <class S>
size_t FindFirst(const S& text, const S& pattern, size_t from) {
  using C = typename S::value_type;
  return Finder<C>(pattern).Find(std::basic_string_view<C>(text), from);
}

// The search rule: 1-based position of the first occurrence at or after Start, 0 for none.
template <class S>
int32_t Search(const S& text, const S& pattern, int64_t start) {
  if (pattern.empty()) return 0;
  if (start < 1) start = 1;
  if (start > static_cast<int64_t>(text.size())) return 0;
  const size_t at = FindFirst(text, pattern, static_cast<size_t>(start - 1));
  return at == S::npos ? 0 : ToPos(at);
}

template <class S>
S CopyStr(const S& s, int64_t index, int64_t count) {
  if (count < 0) return S();
  if (index < 1) index = 1;
  if (index > static_cast<int64_t>(s.size())) return S();
  const size_t start = static_cast<size_t>(index - 1);
  const size_t take = std::min<uint64_t>(static_cast<uint64_t>(count), s.size() - start);
  return s.substr(start, take);
}

template <class C>
bool IsTrimmed(C c) {
  return static_cast<std::make_unsigned_t<C>>(c) <= 32;
}

UnicodeString Fold(const UnicodeString& s) { return UpperCaseStr(s); }
AnsiString FoldAnsi(const AnsiString& s) { return platform::UpperAnsi(s); }

AnsiString FoldAscii(const AnsiString& s) { return platform::UpperAscii(std::string_view(s)); }

// Every non-overlapping occurrence of `pattern` in `haystack` (the searched form of `original`,
// same length) replaced in `original` by `replacement`.
template <class S>
S ReplaceAllIn(const S& original, const S& haystack, const S& pattern, const S& replacement,
               size_t* matches = nullptr) {
  using C = typename S::value_type;
  Finder<C> finder(pattern);
  S out;
  size_t last = 0;
  size_t count = 0;
  finder.ForEach(std::basic_string_view<C>(haystack), 0, false, [&](size_t at) {
    if (count == 0) out.reserve(original.size());
    out.append(original, last, at - last);
    out.append(replacement);
    last = at + pattern.size();
    ++count;
    return true;
  });
  if (matches) *matches = count;
  if (count == 0) return original;
  out.append(original, last, S::npos);
  return out;
}

template <class S>
int32_t CountOverlapping(const S& text, const S& find) {
  using C = typename S::value_type;
  int64_t count = 0;
  Finder<C>(find).ForEach(std::basic_string_view<C>(text), 0, true, [&](size_t) {
    ++count;
    return true;
  });
  return Saturate(count);
}

// The repetition of FastReplaceA: passes of the left-to-right, non-overlapping replace-all over
// the whole text until FromStr no longer occurs.
//
// Rebuilding the text for every pass would cost the text's length per pass, and some texts need
// a pass per replacement ("=" x k + CR LF x k loses one soft break per pass), which is quadratic.
// Instead the text is a linked list of bytes edited in place, and each pass only looks where the
// previous pass wrote: an occurrence that lies wholly in bytes a pass copied unchanged would have
// been found by that pass (its scan takes the first occurrence at or after the end of each match),
// so every occurrence after a pass overlaps a replacement or spans the join a removal left. The
// passes therefore find the same matches as full scans, at a cost proportional to the matches.
//
// A pair that shortens the text ends by itself after at most length / (shrink per match)
// matches. A pair of equal lengths only rearranges bytes ("ab" -> "ba" sorts the b's to the
// front) and runs until FromStr is gone; it needs at most about one pass per byte, and a safety
// net of length + kFastReplaceMaxPasses passes keeps it bounded. Pairs that grow the text are
// bounded: at most kFastReplaceMaxPasses passes, and no pass that would take the text beyond
// 4 x its original length + 1 MiB.
// The safety net for pairs of equal lengths (see RepeatedReplacer).
size_t SameLengthPassCap(size_t length) { return length + TqzStringsSearch::kFastReplaceMaxPasses; }

class RepeatedReplacer {
 public:
  using Index = uint32_t;

  // Whether a text of this length fits the 32-bit node indexes, growth included.
  static bool Fits(size_t length) { return length <= (size_t{1} << 29); }

  RepeatedReplacer(const AnsiString& source, const AnsiString& from, const AnsiString& to)
      : from_(from), to_(to), m_(from.size()) {
    const size_t n = source.size();
    ch_.reserve(n + 2);
    next_.reserve(n + 2);
    prev_.reserve(n + 2);
    stamp_.reserve(n + 2);
    NewNode(0);  // head sentinel
    NewNode(0);  // tail sentinel
    Index last = kHead;
    for (char c : source) {
      const Index node = NewNode(c);
      Link(last, node);
      last = node;
    }
    Link(last, kTail);
    live_ = n;
    // The first pass is a full scan.
    Finder<char> finder{std::string_view(from)};
    finder.ForEach(std::string_view(source), 0, false, [&](size_t at) {
      selected_.push_back(static_cast<Index>(at + 2));  // node of byte `at`
      return true;
    });
    growthCap_ = n * 4 + (size_t{1} << 20);
    grows_ = to.size() > from.size();
    sameLength_ = to.size() == from.size();
    sameLengthPassCap_ = SameLengthPassCap(n);
  }

  AnsiString Run() {
    int passes = 0;
    while (!selected_.empty()) {
      if (passes > 0 && grows_) {
        if (passes >= TqzStringsSearch::kFastReplaceMaxPasses) break;
        if (live_ + selected_.size() * (to_.size() - m_) > growthCap_) break;
      }
      if (passes > 0 && sameLength_ && static_cast<size_t>(passes) >= sameLengthPassCap_) break;
      Apply();
      ++passes;
      SelectNext();
    }
    AnsiString out;
    out.reserve(live_);
    for (Index node = next_[kHead]; node != kTail; node = next_[node]) out.push_back(ch_[node]);
    return out;
  }

 private:
  static constexpr Index kHead = 0;
  static constexpr Index kTail = 1;

  // A node for byte c: a freed one when there is one, else a new one.
  Index NewNode(char c) {
    if (!free_.empty()) {
      const Index node = free_.back();
      free_.pop_back();
      ch_[node] = c;
      return node;
    }
    ch_.push_back(c);
    next_.push_back(kTail);
    prev_.push_back(kHead);
    stamp_.push_back(0);
    return static_cast<Index>(ch_.size() - 1);
  }
  void Link(Index a, Index b) {
    next_[a] = b;
    prev_[b] = a;
  }

  // Replaces every selected match (non-overlapping, in text order) and records where each
  // replacement sits: its first and last new byte, or the byte before the join of a removal.
  void Apply() {
    seams_.clear();
    for (const Index start : selected_) {
      const Index before = prev_[start];
      Index end = start;
      free_.push_back(start);
      for (size_t k = 1; k < m_; ++k) {
        end = next_[end];
        free_.push_back(end);
      }
      const Index after = next_[end];
      Index last = before;
      Index first = kTail;
      for (char c : to_) {
        const Index node = NewNode(c);
        Link(last, node);
        if (first == kTail) first = node;
        last = node;
      }
      Link(last, after);
      live_ = live_ - m_ + to_.size();
      if (first == kTail)
        seams_.push_back({before, before});
      else
        seams_.push_back({first, last});
    }
    selected_.clear();
  }

  // Whether FromStr starts at `node`.
  bool MatchesAt(Index node) const {
    for (size_t k = 0; k < m_; ++k) {
      if (node == kTail || ch_[node] != from_[k]) return false;
      node = next_[node];
    }
    return true;
  }

  // The next pass's matches: the start candidates around each seam, each byte considered once
  // and in text order, taken left to right without overlap. A byte is stamped when it has been
  // considered or belongs to a match taken in this pass; stamped bytes are no candidates.
  void SelectNext() {
    ++pass_;
    for (const auto& [left, right] : seams_) {
      if (left == kHead) continue;  // a removal at the very start: nothing before the join
      // Step back up to m - 1 bytes from the seam, not into bytes already considered.
      Index node = left;
      for (size_t k = 1; k < m_; ++k) {
        const Index p = prev_[node];
        if (p == kHead || stamp_[p] == pass_) break;
        node = p;
      }
      const Index stop = next_[right];
      for (; node != stop && node != kTail; node = next_[node]) {
        if (stamp_[node] == pass_) continue;
        stamp_[node] = pass_;
        if (MatchesAt(node)) {
          selected_.push_back(node);
          Index n = node;
          for (size_t k = 1; k < m_; ++k) {
            n = next_[n];
            stamp_[n] = pass_;
          }
        }
      }
    }
  }

  const AnsiString& from_;
  const AnsiString& to_;
  const size_t m_;
  std::vector<char> ch_;
  std::vector<Index> next_, prev_;
  std::vector<uint32_t> stamp_;  // the pass in which the byte was last considered or matched
  std::vector<Index> free_;
  std::vector<Index> selected_;
  std::vector<std::pair<Index, Index>> seams_;
  uint32_t pass_ = 0;
  size_t live_ = 0;
  size_t growthCap_ = 0;
  size_t sameLengthPassCap_ = 0;
  bool grows_ = false;
  bool sameLength_ = false;
};

// The same repetition by rebuilding the text each pass, for texts too long for RepeatedReplacer.
AnsiString RepeatByRebuilding(const AnsiString& source, const AnsiString& from, const AnsiString& to) {
  const bool grows = to.size() > from.size();
  const size_t growthCap = source.size() * 4 + (size_t{1} << 20);
  size_t matches = 0;
  AnsiString text = ReplaceAllIn(source, source, from, to, &matches);
  size_t passes = 1;
  while (matches > 0) {
    if (to.size() == from.size() && passes >= SameLengthPassCap(source.size())) break;
    if (grows) {
      if (passes >= static_cast<size_t>(TqzStringsSearch::kFastReplaceMaxPasses)) break;
      size_t pending = 0;
      Finder<char>(from).ForEach(std::string_view(text), 0, false, [&](size_t) {
        ++pending;
        return true;
      });
      if (pending == 0 || text.size() + pending * (to.size() - from.size()) > growthCap) break;
    }
    text = ReplaceAllIn(text, text, from, to, &matches);
    ++passes;
  }
  return text;
}

}  // namespace

// --- Tests -----------------------------------------------------------------------------------

bool TqzStringsSearch::BeginWith(const UnicodeString& Content, const UnicodeString& BeginString,
                                 bool IgnoreCase, bool TrimBefore) {
  UnicodeString c = TrimBefore ? platform::Trim(Content) : Content;
  UnicodeString b = TrimBefore ? platform::Trim(BeginString) : BeginString;
  if (b.empty() || b.size() > c.size()) return false;
  if (IgnoreCase) {
    c = Fold(c.substr(0, b.size()));
    b = Fold(b);
  }
  return c.compare(0, b.size(), b) == 0;
}

bool TqzStringsSearch::BeginWithA(const AnsiString& Content, const AnsiString& BeginString,
                                  bool IgnoreCase, bool TrimBefore) {
  AnsiString c = TrimBefore ? platform::Trim(Content) : Content;
  AnsiString b = TrimBefore ? platform::Trim(BeginString) : BeginString;
  if (b.empty() || b.size() > c.size()) return false;
  if (IgnoreCase) {
    c = FoldAnsi(c.substr(0, b.size()));
    b = FoldAnsi(b);
  }
  return c.compare(0, b.size(), b) == 0;
}

bool TqzStringsSearch::EndsWith(const UnicodeString& Content, const UnicodeString& EndString,
                                bool IgnoreCase) {
  if (EndString.empty() || EndString.size() > Content.size()) return false;
  const size_t start = Content.size() - EndString.size();
  if (IgnoreCase) return Fold(Content.substr(start)) == Fold(EndString);
  return Content.compare(start, EndString.size(), EndString) == 0;
}

bool TqzStringsSearch::EndsWith(const UnicodeString& Content, const TStrings& EndString,
                                bool IgnoreCase) {
  for (int i = 0; i < EndString.Count(); ++i)
    if (EndsWith(Content, EndString[i], IgnoreCase)) return true;
  return false;
}

bool TqzStringsSearch::EndsWithA(const AnsiString& Content, const AnsiString& EndString,
                                 bool IgnoreCase) {
  if (EndString.empty() || EndString.size() > Content.size()) return false;
  const size_t start = Content.size() - EndString.size();
  if (IgnoreCase) return FoldAnsi(Content.substr(start)) == FoldAnsi(EndString);
  return Content.compare(start, EndString.size(), EndString) == 0;
}

bool TqzStringsSearch::Contains(const UnicodeString& Content, const UnicodeString& SearchString,
                                bool IgnoreCase) {
  return PosW(Content, SearchString, 1, IgnoreCase) > 0;
}

bool TqzStringsSearch::ContainsBetween(const UnicodeString& Content,
                                       const UnicodeString& SearchString, int32_t FromPos,
                                       int32_t ToPos, bool IgnoreCase) {
  return Contains(SubStringW(Content, FromPos, ToPos, false, false), SearchString, IgnoreCase);
}

bool TqzStringsSearch::EqualsW(const UnicodeString& String1, const UnicodeString& String2,
                               bool TrimBefore, bool IgnoreCase) {
  UnicodeString a = TrimBefore ? platform::Trim(String1) : String1;
  UnicodeString b = TrimBefore ? platform::Trim(String2) : String2;
  if (a.size() != b.size()) return false;
  if (IgnoreCase) return Fold(a) == Fold(b);
  return a == b;
}

bool TqzStringsSearch::EqualsAnsi(const AnsiString& String1, const AnsiString& String2,
                                  bool TrimBefore, bool IgnoreCase) {
  AnsiString a = TrimBefore ? platform::Trim(String1) : String1;
  AnsiString b = TrimBefore ? platform::Trim(String2) : String2;
  if (a.size() != b.size()) return false;
  if (IgnoreCase) return FoldAnsi(a) == FoldAnsi(b);
  return a == b;
}

bool TqzStringsSearch::IsEmptyW(const UnicodeString& Content, bool UseTrim) {
  if (!UseTrim) return Content.empty();
  return std::all_of(Content.begin(), Content.end(), IsTrimmed<char16_t>);
}

bool TqzStringsSearch::IsEmptyA(const AnsiString& Content, bool UseTrim) {
  if (!UseTrim) return Content.empty();
  return std::all_of(Content.begin(), Content.end(), IsTrimmed<char>);
}

bool TqzStringsSearch::IsNotEmptyW(const UnicodeString& Content, bool UseTrim) {
  return !IsEmptyW(Content, UseTrim);
}

bool TqzStringsSearch::IsNotEmptyA(const AnsiString& Content, bool UseTrim) {
  return !IsEmptyA(Content, UseTrim);
}

bool TqzStringsSearch::IsLengthBiggerAsW(const UnicodeString& Content, int32_t Count,
                                         bool TrimBefore) {
  const size_t len = TrimBefore ? platform::Trim(Content).size() : Content.size();
  return Count < 0 || len > static_cast<size_t>(Count);
}

bool TqzStringsSearch::IsLenghtSmallerAsW(const UnicodeString& Content, int32_t Count,
                                          bool TrimBefore) {
  const size_t len = TrimBefore ? platform::Trim(Content).size() : Content.size();
  return Count > 0 && len < static_cast<size_t>(Count);
}

// --- Comparison ------------------------------------------------------------------------------

int32_t TqzStringsSearch::StrCompW(const UnicodeString& Value1, const UnicodeString& Value2,
                                   bool UseTrim, bool UseUpper, bool UseDESC) {
  UnicodeString a = UseTrim ? platform::Trim(Value1) : Value1;
  UnicodeString b = UseTrim ? platform::Trim(Value2) : Value2;
  if (UseUpper) {
    a = Fold(a);
    b = Fold(b);
  }
  int32_t result = 0;
  const size_t n = std::min(a.size(), b.size());
  size_t i = 0;
  while (i < n && a[i] == b[i]) ++i;
  if (i < n)
    result = static_cast<int32_t>(a[i]) - static_cast<int32_t>(b[i]);
  else
    result = Saturate(static_cast<int64_t>(a.size()) - static_cast<int64_t>(b.size()));
  return UseDESC ? -result : result;
}

// --- Positions -------------------------------------------------------------------------------

int32_t TqzStringsSearch::PosW(const UnicodeString& Content, const UnicodeString& SearchString,
                               int32_t FromPos, bool IgnoreCase) {
  if (Content.empty() || SearchString.empty()) return 0;
  if (IgnoreCase) return Search(Fold(Content), Fold(SearchString), FromPos);
  return Search(Content, SearchString, FromPos);
}

int32_t TqzStringsSearch::PosA(const AnsiString& Content, const AnsiString& SearchString,
                               int32_t FromPos, bool IgnoreCase) {
  if (Content.empty() || SearchString.empty()) return 0;
  if (IgnoreCase) return Search(FoldAscii(Content), FoldAscii(SearchString), FromPos);
  return Search(Content, SearchString, FromPos);
}

int32_t TqzStringsSearch::GetLastPosW(const UnicodeString& Content,
                                      const UnicodeString& SearchString, bool IgnoreCase) {
  if (Content.empty() || SearchString.empty()) return 0;
  const UnicodeString text = IgnoreCase ? Fold(Content) : Content;
  const UnicodeString find = IgnoreCase ? Fold(SearchString) : SearchString;
  // The last of the overlapping occurrences is the one with the greatest start.
  size_t last = UnicodeString::npos;
  Finder<char16_t>(find).ForEach(std::u16string_view(text), 0, true, [&](size_t at) {
    last = at;
    return true;
  });
  return last == UnicodeString::npos ? 0 : ToPos(last);
}

int32_t TqzStringsSearch::GetStrCount(const AnsiString& Text, const AnsiString& Find) {
  return CountOverlapping(Text, Find);
}

int32_t TqzStringsSearch::GetStrCountW(const UnicodeString& Text, const UnicodeString& Find) {
  return CountOverlapping(Text, Find);
}

int32_t TqzStringsSearch::GetStrCountExW(UnicodeString& Text, const UnicodeString& Find,
                                         bool IgnoreCase) {
  if (!IgnoreCase) return CountOverlapping(Text, Find);
  Text = LowerCaseStr(Text);
  return CountOverlapping(Text, LowerCaseStr(Find));
}

// --- Sub-texts -------------------------------------------------------------------------------

UnicodeString TqzStringsSearch::SubStringW(const UnicodeString& Content, int32_t From,
                                           bool TrimBefore, bool TrimAfter) {
  const UnicodeString c = TrimBefore ? platform::Trim(Content) : Content;
  UnicodeString r = CopyStr(c, From, static_cast<int64_t>(c.size()) - From + 1);
  return TrimAfter ? platform::Trim(r) : r;
}

UnicodeString TqzStringsSearch::SubStringW(const UnicodeString& Content, int32_t FromPos,
                                           int32_t ToPos, bool TrimBefore, bool TrimAfter) {
  const UnicodeString c = TrimBefore ? platform::Trim(Content) : Content;
  UnicodeString r = CopyStr(c, FromPos, static_cast<int64_t>(ToPos) - FromPos);
  return TrimAfter ? platform::Trim(r) : r;
}

AnsiString TqzStringsSearch::SubStringA(const AnsiString& Content, int32_t From, bool TrimBefore,
                                        bool TrimAfter) {
  const AnsiString c = TrimBefore ? platform::Trim(Content) : Content;
  AnsiString r = CopyStr(c, From, static_cast<int64_t>(c.size()) - From + 1);
  return TrimAfter ? platform::Trim(r) : r;
}

AnsiString TqzStringsSearch::SubStringA(const AnsiString& Content, int32_t FromPos, int32_t ToPos,
                                        bool TrimBefore, bool TrimAfter) {
  const AnsiString c = TrimBefore ? platform::Trim(Content) : Content;
  AnsiString r = CopyStr(c, FromPos, static_cast<int64_t>(ToPos) - FromPos);
  return TrimAfter ? platform::Trim(r) : r;
}

UnicodeString TqzStringsSearch::GetCharsBeforeString(const UnicodeString& Content,
                                                     const UnicodeString& SearchString,
                                                     int32_t FromPos, int32_t CountChars,
                                                     bool IgnoreCase) {
  const int32_t p = PosW(Content, SearchString, FromPos, IgnoreCase);
  if (p <= 0) return UnicodeString();
  return CopyStr(Content, static_cast<int64_t>(p) - CountChars, CountChars);
}

TBetweenSearchResult TqzStringsSearch::GetBetweenW(const UnicodeString& Content,
                                                   const UnicodeString& StartLetter,
                                                   const UnicodeString& StopLetter,
                                                   int32_t PosBeginSearchStartLetter,
                                                   int32_t PosBeginSearchEndLetter) {
  TBetweenSearchResult r;
  const int64_t len = static_cast<int64_t>(Content.size());
  const int64_t startLen = static_cast<int64_t>(StartLetter.size());
  const int64_t ps = PosBeginSearchStartLetter;
  int64_t pe = PosBeginSearchEndLetter;
  if (ps > pe || ps > len || pe > len) return r;
  r.BeginPos = Search(Content, StartLetter, ps);
  if (pe < r.BeginPos) pe = r.BeginPos + startLen;
  if (pe > len) return r;
  r.EndPos = Search(Content, StopLetter, pe);
  if (r.BeginPos > 0 && r.EndPos > 0) {
    r.ResultString = platform::Trim(
        CopyStr(Content, r.BeginPos + startLen, static_cast<int64_t>(r.EndPos) - r.BeginPos - startLen));
  } else if (StopLetter.empty()) {
    r.ResultString = platform::Trim(CopyStr(Content, r.BeginPos + startLen, len));
  }
  return r;
}

UnicodeString TqzStringsSearch::GetLastWords(const UnicodeString& Content, int32_t Count) {
  // Split into words. A NUL counts as a separator like the other control characters, so that
  // nothing after it is lost.
  std::vector<UnicodeString> words;
  const size_t n = Content.size();
  size_t i = 0;
  for (;;) {
    while (i < n && Content[i] <= 32) ++i;
    if (i >= n) break;
    UnicodeString word;
    if (Content[i] == u'"') {
      ++i;
      while (i < n) {
        if (Content[i] == u'"') {
          if (i + 1 < n && Content[i + 1] == u'"') {
            word.push_back(u'"');
            i += 2;
            continue;
          }
          ++i;  // the closing quote
          break;
        }
        word.push_back(Content[i++]);
      }
    } else {
      const size_t start = i;
      while (i < n && Content[i] > 32) ++i;
      word.assign(Content, start, i - start);
    }
    words.push_back(std::move(word));
  }

  std::vector<const UnicodeString*> taken;
  for (auto it = words.rbegin(); it != words.rend(); ++it) {
    if (Count > 0 && static_cast<int64_t>(taken.size()) >= Count) break;
    if (IsEmptyW(*it, true)) continue;
    taken.push_back(&*it);
  }
  UnicodeString result;
  for (auto it = taken.rbegin(); it != taken.rend(); ++it) {
    result += **it;
    result += u' ';
  }
  return platform::Trim(result);
}

UnicodeString TqzStringsSearch::GetLastElement(const UnicodeString& Content,
                                               const UnicodeString& Separator,
                                               bool IgnoreWhenItsLastPosition) {
  UnicodeString text = Content;
  int64_t a = GetLastPosW(text, Separator, false);
  if (IgnoreWhenItsLastPosition && a > 0 &&
      a + static_cast<int64_t>(Separator.size()) - 1 == static_cast<int64_t>(text.size())) {
    text.resize(static_cast<size_t>(a - 1));
    a = GetLastPosW(text, Separator, false);
  }
  if (a <= 0) return platform::Trim(text);
  UnicodeString rest = CopyStr(text, a + static_cast<int64_t>(Separator.size()),
                               static_cast<int64_t>(text.size()));
  return platform::Trim(rest);
}

// --- Replace-all -----------------------------------------------------------------------------

UnicodeString TqzStringsSearch::ReplaceW(const UnicodeString& Content,
                                         const UnicodeString& SearchText,
                                         const UnicodeString& ReplaceText) {
  if (Content.empty() || SearchText.empty()) return Content;
  // A pair that differs only in letter case is left alone ("a" -> "A" changes nothing).
  if (SearchText.size() == ReplaceText.size() && Fold(SearchText) == Fold(ReplaceText))
    return Content;
  return ReplaceAllIn(Content, Content, SearchText, ReplaceText);
}

UnicodeString TqzStringsSearch::ReplaceW(const UnicodeString& Content,
                                         const UnicodeString& SearchText,
                                         const UnicodeString& ReplaceText, bool IgnoreCase) {
  if (!IgnoreCase) return ReplaceW(Content, SearchText, ReplaceText);
  if (Content.empty() || SearchText.empty()) return Content;
  // The scan goes on behind each inserted text, so it only ever sees the original text: one
  // left-to-right pass over the folded text finds the same occurrences. Folding keeps positions.
  return ReplaceAllIn(Content, Fold(Content), Fold(SearchText), ReplaceText);
}

AnsiString TqzStringsSearch::ReplaceA(const AnsiString& Content, const AnsiString& SearchText,
                                      const AnsiString& ReplaceText, bool IgnoreCase) {
  if (!IgnoreCase) return FastReplaceA(Content, SearchText, ReplaceText);
  if (Content.empty() || SearchText.empty()) return Content;
  return ReplaceAllIn(Content, FoldAscii(Content), FoldAscii(SearchText), ReplaceText);
}

AnsiString TqzStringsSearch::FastReplaceA(const AnsiString& SourceStr, const AnsiString& FromStr,
                                          const AnsiString& ToStr) {
  if (FromStr == ToStr || SourceStr.empty() || FromStr.empty()) return SourceStr;
  size_t matches = 0;
  AnsiString text = ReplaceAllIn(SourceStr, SourceStr, FromStr, ToStr, &matches);
  if (matches == 0) return text;
  const bool equalButForCase = FoldAscii(FromStr) == FoldAscii(ToStr);
  if (equalButForCase || ToStr.find(FromStr) != AnsiString::npos) return text;
  // Repeat until FromStr is gone, each pass costing only the work around the previous pass's
  // replacements (see RepeatedReplacer).
  if (!RepeatedReplacer::Fits(SourceStr.size())) return RepeatByRebuilding(SourceStr, FromStr, ToStr);
  return RepeatedReplacer(SourceStr, FromStr, ToStr).Run();
}

UnicodeString TqzStringsSearch::RemoveMoreThenOneBlanks(const UnicodeString& Content) {
  UnicodeString out;
  out.reserve(Content.size());
  for (size_t i = 0; i < Content.size(); ++i) {
    if (Content[i] == u' ' && i > 0 && Content[i - 1] == u' ') continue;
    out.push_back(Content[i]);
  }
  return out;
}

// --- Byte arrays -----------------------------------------------------------------------------

TbyteArray TqzStringsSearch::StringToByteArray(const AnsiString& S) {
  return TbyteArray(S.begin(), S.end());
}

AnsiString TqzStringsSearch::ByteArrayToString(const TbyteArray& A) {
  return AnsiString(A.begin(), A.end());
}
