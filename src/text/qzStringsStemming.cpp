#include "qzStringsStemming.h"

#include <sys/stat.h>
#include <unicode/uchar.h>

#include <map>
#include <string>
#include <unordered_set>

#include "CaseMap.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "Stemmer.h"
#include "SysUtils.h"
#include "qzSortableStringLists.h"
#include "qzStringsSearch.h"
#include "qzToolsEvo2.h"

namespace {

using WordSet = std::unordered_set<UnicodeString>;

struct Language {
  const char16_t* id;
  const char* algorithm;
};

// The ids of the text and single-word forms (which name their stop-list files) ...
constexpr Language kLanguages[] = {
    {u"en", "english"},   {u"fr", "french"},     {u"sp", "spanish"}, {u"it", "italian"},
    {u"hu", "hungarian"}, {u"da", "danish"},     {u"fi", "finnish"}, {u"no", "norwegian"},
    {u"po", "porter"},    {u"pt", "portuguese"}, {u"ro", "romanian"}, {u"ru", "russian"},
    {u"sw", "swedish"},   {u"de", "german"},
};
// ... and of the form that takes its stop words from the cache.
constexpr Language kCacheLanguages[] = {
    {u"en", "english"},   {u"fr", "french"},     {u"es", "spanish"}, {u"it", "italian"},
    {u"hu", "hungarian"}, {u"da", "danish"},     {u"fi", "finnish"}, {u"no", "norwegian"},
    {u"po", "porter"},    {u"pt", "portuguese"}, {u"ro", "romanian"}, {u"ru", "russian"},
    {u"sv", "swedish"},   {u"de", "german"},
};

template <size_t N>
const Language* FindLanguage(const Language (&table)[N], const UnicodeString& id) {
  const UnicodeString key = platform::LowerAscii(std::u16string_view(platform::Trim(id)));
  for (const Language& l : table)
    if (key == l.id) return &l;
  return nullptr;
}

constexpr const char16_t* kIgnorePlain = u"\r,\n,', ";
constexpr const char16_t* kIgnoreDigits = u"\r,1,2,3,4,5,6,7,8,9,0,\n,', ";

bool IsWordChar(UChar32 c) {
  if (c == u'_') return true;
  const int8_t type = u_charType(c);
  return u_isalnum(c) || type == U_NON_SPACING_MARK || type == U_COMBINING_SPACING_MARK ||
         type == U_ENCLOSING_MARK;
}

// Every character other than a letter, mark, digit or "_" becomes a blank (a surrogate pair
// stays a pair or becomes two blanks).
UnicodeString FlattenToWords(const UnicodeString& text) {
  UnicodeString out(text);
  for (size_t i = 0; i < out.size();) {
    const char16_t c = out[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < out.size() && out[i + 1] >= 0xDC00 && out[i + 1] <= 0xDFFF) {
      const UChar32 cp = 0x10000 + ((c - 0xD800) << 10) + (out[i + 1] - 0xDC00);
      if (!IsWordChar(cp)) out[i] = out[i + 1] = u' ';
      i += 2;
      continue;
    }
    if (!IsWordChar(c)) out[i] = u' ';
    ++i;
  }
  return out;
}

WordSet MakeWordSet(const TStrings& words) {
  WordSet set;
  for (int i = 0; i < words.Count(); ++i) {
    UnicodeString w = platform::Trim(words.Get(i));
    if (!w.empty()) set.insert(platform::UpperW(w));
  }
  return set;
}

// Removes every word (run of characters above code 32) that is in the set (compared upper-cased),
// with the separator before it (or after it, for the first word of the text).
UnicodeString RemoveWords(const UnicodeString& text, const WordSet& words) {
  if (words.empty() || text.empty()) return text;
  UnicodeString out;
  out.reserve(text.size());
  size_t i = 0;
  const size_t n = text.size();
  bool dropNextSeparator = false;
  while (i < n) {
    if (text[i] <= 32) {
      if (dropNextSeparator)
        dropNextSeparator = false;
      else
        out += text[i];
      ++i;
      continue;
    }
    size_t j = i;
    while (j < n && text[j] > 32) ++j;
    const std::u16string_view word(text.data() + i, j - i);
    if (words.count(platform::UpperW(word)) != 0) {
      // Drop one separator: the one written just before, else the next one.
      if (!out.empty() && out.back() <= 32)
        out.pop_back();
      else
        dropNextSeparator = true;
    } else {
      dropNextSeparator = false;
      out.append(word);
    }
    i = j;
  }
  return out;
}

// Stop-list files, read once per path and kept while their time stamp and size stay.
struct FileWords {
  int64_t mtimeNs = 0;
  int64_t size = -1;
  std::shared_ptr<const WordSet> words;
};

std::shared_ptr<const WordSet> StopWordsOfFile(const UnicodeString& path) {
  static std::mutex lock;
  static std::map<UnicodeString, FileWords> files;
  struct stat st {};
  const std::string native = platform::WideToUtf8(path);
  const bool exists = ::stat(native.c_str(), &st) == 0;
  const int64_t mtime = exists ? static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec : 0;
  if (exists) {
    std::lock_guard<std::mutex> guard(lock);
    const auto it = files.find(path);
    if (it != files.end() && it->second.mtimeNs == mtime && it->second.size == st.st_size) return it->second.words;
  }
  THashedStringList list;
  list.LoadFromFile(path);  // a missing file raises here
  auto words = std::make_shared<const WordSet>(MakeWordSet(list));
  std::lock_guard<std::mutex> guard(lock);
  if (files.size() > 256) files.clear();
  files[path] = FileWords{mtime, exists ? static_cast<int64_t>(st.st_size) : -1, words};
  return words;
}

bool FileExists(const UnicodeString& path) {
  struct stat st {};
  return ::stat(platform::WideToUtf8(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Step shared by the stemming forms: the words of the flattened text, stemmed or not.
void AppendStems(const UnicodeString& flatText, const Language* language, bool removeNumerical, int32_t minSizeWord,
                 TStrings& out) {
  TStringList words;
  TqzStringsStemming::GetEachFragment(flatText, true, removeNumerical ? kIgnoreDigits : kIgnorePlain, words);
  for (int i = 0; i < words.Count(); ++i) {
    const UnicodeString word = platform::Trim(words[i]);
    if (word.empty()) continue;
    if (language == nullptr) {
      out.Add(word);
    } else if (static_cast<int64_t>(word.size()) >= minSizeWord) {
      out.Add(platform::Trim(platform::StemWord(language->algorithm, word)));
    }
  }
}

}  // namespace

// --- Stop words --------------------------------------------------------------------------------

UnicodeString TqzStringsStemming::DeleteStopWords(const UnicodeString& Content, const UnicodeString& FilePath) {
  return RemoveWords(Content, *StopWordsOfFile(FilePath));
}

UnicodeString TqzStringsStemming::DeleteStopWords(const UnicodeString& Content, const UnicodeString& LanguageId,
                                                  const UnicodeString& ListAsStringSeparatorCRLF, bool TrimBefore,
                                                  bool IgnoreCase, bool UseCache) {
  UnicodeString text = TrimBefore ? platform::Trim(Content) : Content;
  if (IgnoreCase) text = LowerCaseStr(text);
  WordSet words;
  if (UseCache) {
    for (const UnicodeString& w : TqzStopwordCache::GetInstance()->WordsForLanguage(LanguageId)) {
      const UnicodeString t = platform::Trim(w);
      if (!t.empty()) words.insert(platform::UpperW(t));
    }
  } else {
    TStringList list;
    list.SetText(ListAsStringSeparatorCRLF);
    words = MakeWordSet(list);
  }
  return RemoveWords(text, words);
}

TStrings& TqzStringsStemming::GetEachFragment(const UnicodeString& Content, bool ToLower,
                                              const UnicodeString& IgnoreLetterListCommaText, TStrings& WordList) {
  UnicodeString text = Content;
  if (!IgnoreLetterListCommaText.empty()) {
    TStringList items;
    items.SetCommaText(IgnoreLetterListCommaText);
    for (int i = 0; i < items.Count(); ++i)
      if (!items[i].empty()) text = TqzStringsSearch::ReplaceW(text, items[i], u" ");
  }
  if (ToLower) text = LowerCaseStr(text);
  text = TqzStringsSearch::RemoveMoreThenOneBlanks(text);
  size_t start = 0;
  for (size_t p = text.find(u' '); p != UnicodeString::npos; p = text.find(u' ', start)) {
    WordList.Add(text.substr(start, p - start));
    start = p + 1;
  }
  if (!text.empty()) WordList.Add(text.substr(start));
  return WordList;
}

// --- Stemming ----------------------------------------------------------------------------------

TStrings& TqzStringsStemming::StemStringW(const UnicodeString& Content, const UnicodeString& PathStemLanguageFiles,
                                          const UnicodeString& LanguageID, bool ToLowerCase, bool RemoveNumerical,
                                          int32_t MinSizeWord, TStrings& StringList, bool UseStopWordList) {
  (void)ToLowerCase;  // the words are lower-cased in any case
  const Language* language = FindLanguage(kLanguages, LanguageID);
  UnicodeString text = LowerCaseStr(FlattenToWords(Content));
  if (UseStopWordList && language != nullptr) {
    UnicodeString folder = PathStemLanguageFiles;
    if (!folder.empty() && folder.back() != u'/' && folder.back() != u'\\') folder += u'/';
    const UnicodeString path = folder + u"stopList_" + language->id + u".txt";
    if (FileExists(path)) text = DeleteStopWords(text, path);
  }
  AppendStems(text, language, RemoveNumerical, MinSizeWord, StringList);
  return StringList;
}

UnicodeString TqzStringsStemming::StemStringW(const UnicodeString& SingleWord, const UnicodeString& LanguageID,
                                              bool ToLowerCase, bool RemoveNumerical, int32_t MinSizeWord) {
  const Language* language = FindLanguage(kLanguages, LanguageID);
  const UnicodeString text = FlattenToWords(ToLowerCase ? LowerCaseStr(SingleWord) : SingleWord);
  TStringList words;
  GetEachFragment(text, true, RemoveNumerical ? kIgnoreDigits : kIgnorePlain, words);
  const UnicodeString word = platform::Trim(words.Text());
  if (language == nullptr) return word;
  if (word.empty() || static_cast<int64_t>(word.size()) < MinSizeWord) return UnicodeString();
  return platform::Trim(platform::StemWord(language->algorithm, word));
}

TStrings& TqzStringsStemming::StemStringUseCacheW(const UnicodeString& Content, const UnicodeString& LanguageID,
                                                  bool ToLowerCase, bool RemoveNumerical, int32_t MinSizeWord,
                                                  TStrings& StringList, bool UseStopWordList) {
  const Language* language = FindLanguage(kCacheLanguages, LanguageID);
  UnicodeString text = FlattenToWords(Content);
  if (UseStopWordList && language != nullptr) text = DeleteStopWords(text, LanguageID, u"", true, ToLowerCase, true);
  AppendStems(text, language, RemoveNumerical, MinSizeWord, StringList);
  return StringList;
}

// --- The cache ---------------------------------------------------------------------------------

TqzStopwordCache::TqzStopwordCache() : StopWordLists(std::make_unique<TqzObjectHashList>(true)) {}

TqzStopwordCache::~TqzStopwordCache() = default;

TqzStopwordCache* TqzStopwordCache::GetInstance() {
  static TqzStopwordCache* instance = new TqzStopwordCache;  // lives as long as the process
  return instance;
}

bool TqzStopwordCache::IsInCache(const UnicodeString& LanguageID) const {
  std::lock_guard<std::mutex> guard(FLock);
  return StopWordLists->IsValueNotNil(LanguageID);
}

TStringList* TqzStopwordCache::GetListForLanguage(const UnicodeString& LanguageID) const {
  std::lock_guard<std::mutex> guard(FLock);
  return static_cast<TStringList*>(StopWordLists->Get(LanguageID));
}

bool TqzStopwordCache::SetListForLanguage(const UnicodeString& ListAsStringCRLFSeperated,
                                          const UnicodeString& LanguageId) {
  if (TqzStringsSearch::IsEmptyW(ListAsStringCRLFSeperated, true)) return false;
  std::lock_guard<std::mutex> guard(FLock);
  if (StopWordLists->IsValueNotNil(LanguageId)) return false;
  auto list = std::make_unique<TStringList>();
  list->SetText(ListAsStringCRLFSeperated);
  StopWordLists->Put(LanguageId, list.release(), true);
  return true;
}

bool TqzStopwordCache::RemoveListForLanguage(const UnicodeString& LanguageID) {
  std::lock_guard<std::mutex> guard(FLock);
  StopWordLists->Remove(LanguageID);
  return true;
}

std::vector<UnicodeString> TqzStopwordCache::WordsForLanguage(const UnicodeString& LanguageID) const {
  std::lock_guard<std::mutex> guard(FLock);
  std::vector<UnicodeString> out;
  if (const auto* list = static_cast<const TStringList*>(StopWordLists->Get(LanguageID)))
    for (int i = 0; i < list->Count(); ++i) out.push_back((*list)[i]);
  return out;
}
