#define PCRE2_CODE_UNIT_WIDTH 16
#include "Regex.h"

#include <pcre2.h>

#include <mutex>
#include <string>
#include <unordered_map>

#include "CodePage.h"

namespace platform {
namespace {

std::string EngineMessage(int code) {
  PCRE2_UCHAR16 buffer[256];
  const int n = pcre2_get_error_message(code, buffer, sizeof buffer / sizeof buffer[0]);
  if (n < 0) return "error " + std::to_string(code);
  return WideToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(buffer), static_cast<size_t>(n)));
}

[[noreturn]] void Fail(std::u16string_view pattern, const std::string& what) {
  throw ERegExError(("Regular expression \"" + WideToUtf8(pattern) + "\": " + what).c_str());
}

// Per-thread match context with the limits and a JIT stack of up to 4 MiB.
struct ThreadMatchContext {
  pcre2_match_context_16* context = nullptr;
  pcre2_jit_stack_16* stack = nullptr;
  ThreadMatchContext() {
    context = pcre2_match_context_create_16(nullptr);
    pcre2_set_match_limit_16(context, Regex::kMatchLimit);
    pcre2_set_depth_limit_16(context, Regex::kDepthLimit);
    pcre2_set_heap_limit_16(context, 256 * 1024);  // KiB
    stack = pcre2_jit_stack_create_16(32 * 1024, 4 * 1024 * 1024, nullptr);
    if (stack != nullptr) pcre2_jit_stack_assign_16(context, nullptr, stack);
  }
  ~ThreadMatchContext() {
    pcre2_jit_stack_free_16(stack);
    pcre2_match_context_free_16(context);
  }
};

pcre2_match_context_16* MatchContext() {
  thread_local ThreadMatchContext ctx;
  return ctx.context;
}

struct Cache {
  std::mutex lock;
  std::unordered_map<UnicodeString, std::shared_ptr<const Regex>> entries;
};

Cache& TheCache() {
  static Cache* cache = new Cache;  // never destroyed: matches may run during shutdown
  return *cache;
}

inline bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

Regex::Regex(UnicodeString pattern, void* code, uint32_t groups)
    : pattern_(std::move(pattern)), code_(code), groups_(groups) {}

Regex::~Regex() { pcre2_code_free_16(static_cast<pcre2_code_16*>(code_)); }

std::shared_ptr<const Regex> Regex::Get(std::u16string_view pattern) {
  if (pattern.empty()) Fail(pattern, "empty expression");
  Cache& cache = TheCache();
  UnicodeString key(pattern);
  {
    std::lock_guard<std::mutex> guard(cache.lock);
    const auto it = cache.entries.find(key);
    if (it != cache.entries.end()) return it->second;
  }
  int error = 0;
  PCRE2_SIZE offset = 0;
  pcre2_code_16* code = pcre2_compile_16(reinterpret_cast<PCRE2_SPTR16>(pattern.data()), pattern.size(),
                                         PCRE2_DOTALL | PCRE2_UTF | PCRE2_UCP | PCRE2_MATCH_INVALID_UTF, &error,
                                         &offset, nullptr);
  if (code == nullptr) Fail(pattern, EngineMessage(error) + " at offset " + std::to_string(offset));
  pcre2_jit_compile_16(code, PCRE2_JIT_COMPLETE);  // falls back to the interpreter when unavailable
  uint32_t groups = 0;
  pcre2_pattern_info_16(code, PCRE2_INFO_CAPTURECOUNT, &groups);
  std::shared_ptr<const Regex> compiled(new Regex(key, code, groups));
  std::lock_guard<std::mutex> guard(cache.lock);
  if (cache.entries.size() >= kCacheLimit) cache.entries.clear();
  return cache.entries.try_emplace(std::move(key), compiled).first->second;
}

void Regex::ForEachMatch(std::u16string_view subject,
                         const std::function<bool(const RegexMatch&)>& onMatch) const {
  auto* code = static_cast<pcre2_code_16*>(code_);
  std::unique_ptr<pcre2_match_data_16, decltype(&pcre2_match_data_free_16)> data(
      pcre2_match_data_create_from_pattern_16(code, nullptr), &pcre2_match_data_free_16);
  if (!data) throw ERegExError("Regular expression: out of memory");
  pcre2_match_context_16* context = MatchContext();
  const auto* text = reinterpret_cast<PCRE2_SPTR16>(subject.data());
  RegexMatch match;
  match.Subject = subject;
  size_t start = 0;
  while (start <= subject.size()) {
    const int rc = pcre2_match_16(code, text, subject.size(), start, 0, data.get(), context);
    if (rc == PCRE2_ERROR_NOMATCH) return;
    if (rc < 0) Fail(pattern_, EngineMessage(rc));
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer_16(data.get());
    const uint32_t pairs = pcre2_get_ovector_count_16(data.get());
    match.Groups.assign(pairs, RegexMatch::Span{});
    for (uint32_t g = 0; g < pairs && g <= groups_; ++g) {
      if (ov[2 * g] == PCRE2_UNSET) continue;
      match.Groups[g].Start = ov[2 * g];
      match.Groups[g].Length = ov[2 * g + 1] - ov[2 * g];
    }
    match.Groups.resize(groups_ + 1);
    if (!onMatch(match)) return;
    size_t next = ov[1];
    if (ov[1] == ov[0]) {
      // An empty match: go on after the next character (a surrogate pair is one).
      if (next >= subject.size()) return;
      next += (IsHigh(subject[next]) && next + 1 < subject.size() && IsLow(subject[next + 1])) ? 2 : 1;
    }
    start = next;
  }
}

bool Regex::FirstMatch(std::u16string_view subject, RegexMatch& match) const {
  bool found = false;
  ForEachMatch(subject, [&](const RegexMatch& m) {
    match = m;
    found = true;
    return false;
  });
  return found;
}

}  // namespace platform
