#include "Stemmer.h"

#include <libstemmer.h>

#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>

#include "CodePage.h"

namespace platform {
namespace {

struct StemmerDeleter {
  void operator()(sb_stemmer* s) const { sb_stemmer_delete(s); }
};

// This thread's stemmer for the algorithm; null when libstemmer does not know it.
sb_stemmer* ThreadStemmer(const char* algorithm) {
  thread_local std::unordered_map<std::string, std::unique_ptr<sb_stemmer, StemmerDeleter>> stemmers;
  auto it = stemmers.find(algorithm);
  if (it == stemmers.end())
    it = stemmers.emplace(algorithm, std::unique_ptr<sb_stemmer, StemmerDeleter>(sb_stemmer_new(algorithm, "UTF_8")))
             .first;
  return it->second.get();
}

}  // namespace

bool HasStemmer(const char* algorithm) {
  for (const char** name = sb_stemmer_list(); *name != nullptr; ++name)
    if (std::strcmp(*name, algorithm) == 0) return true;
  return false;
}

UnicodeString StemWord(const char* algorithm, std::u16string_view word) {
  sb_stemmer* stemmer = ThreadStemmer(algorithm);
  if (stemmer == nullptr || word.empty()) return UnicodeString(word);
  const std::string utf8 = WideToUtf8(word);
  const sb_symbol* stem =
      sb_stemmer_stem(stemmer, reinterpret_cast<const sb_symbol*>(utf8.data()), static_cast<int>(utf8.size()));
  if (stem == nullptr) return UnicodeString(word);  // out of memory inside the stemmer
  return Utf8ToWide(std::string_view(reinterpret_cast<const char*>(stem), static_cast<size_t>(sb_stemmer_length(stemmer))));
}

}  // namespace platform
