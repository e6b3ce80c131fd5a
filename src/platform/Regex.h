// Regular expressions on PCRE2's 16-bit library, over UTF-16 texts.
//
// Options: case-sensitive, "." also matches line breaks (DOTALL), greedy quantifiers, "^" and "$"
// anchor only at the ends of the input, Unicode properties for \w, \d, \b (UCP). Texts may hold
// unpaired surrogates (they never match a character class but do not fail the match).
//
// Compiled patterns are cached process-wide by pattern text (thread-safe; the cache is emptied
// when it grows beyond kCacheLimit patterns) and JIT-compiled where the platform supports it.
// Every match runs under a match limit and a depth limit, so a pattern that backtracks without
// end on some input raises RegexError instead of hanging.
//
//   auto re = platform::Regex::Get(u"[0-9]+");
//   re->ForEachMatch(text, [&](const platform::RegexMatch& m) { ...; return true; });
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "Exceptions.h"
#include "Text.h"

QZ_DECLARE_EXCEPTION(ERegExError, Exception);

namespace platform {

// One match: the whole match and its groups as offsets into the subject (0-based, in UTF-16
// units); a group that took no part has Start == npos.
struct RegexMatch {
  static constexpr size_t npos = static_cast<size_t>(-1);
  struct Span {
    size_t Start = npos;
    size_t Length = 0;
  };
  std::vector<Span> Groups;  // [0] is the whole match
  std::u16string_view Subject;

  size_t Start() const { return Groups[0].Start; }
  size_t Length() const { return Groups[0].Length; }
  std::u16string_view Text(size_t group = 0) const {
    if (group >= Groups.size() || Groups[group].Start == npos) return {};
    return Subject.substr(Groups[group].Start, Groups[group].Length);
  }
};

class Regex {
 public:
  static constexpr size_t kCacheLimit = 512;
  static constexpr uint32_t kMatchLimit = 10'000'000;
  static constexpr uint32_t kDepthLimit = 10'000;

  // The compiled pattern (from the cache when it was compiled before). An empty or invalid
  // pattern raises ERegExError with the pattern, the engine's message and the offset.
  static std::shared_ptr<const Regex> Get(std::u16string_view pattern);

  ~Regex();
  Regex(const Regex&) = delete;
  Regex& operator=(const Regex&) = delete;

  // Calls onMatch for every match from left to right (an empty match moves the search on by one
  // character); onMatch returns false to stop. A limit hit raises ERegExError.
  void ForEachMatch(std::u16string_view subject, const std::function<bool(const RegexMatch&)>& onMatch) const;
  // The first match, if any.
  bool FirstMatch(std::u16string_view subject, RegexMatch& match) const;
  // The number of capturing groups.
  uint32_t GroupCount() const { return groups_; }
  const UnicodeString& Pattern() const { return pattern_; }

 private:
  Regex(UnicodeString pattern, void* code, uint32_t groups);
  UnicodeString pattern_;
  void* code_;  // pcre2_code_16
  uint32_t groups_;
};

}  // namespace platform
