// TqzStrings family: stemming and stop words; and TqzStopwordCache, the process-wide stop-word
// lists by language id.
//
// Words: a text is flattened so that every character other than a letter (any script, accents
// and marks included), a digit or "_" becomes a blank; words are never split at "é" or "ß", and
// Cyrillic words reach the Russian stemmer. Stemming uses libstemmer (Stemmer.h).
//
// Stop words: a word of the text (a run of characters above code 32) whose upper-case form
// equals a stop word's is removed together with one blank next to it, wherever it stands (also
// at the start or end of the text, also repeated). Stop-list files ("stopList_<id>.txt", one
// word per line, UTF-8 or UTF-16 with a byte-order mark, else Windows-1252) are read once and
// kept by path until the file's modification time or size changes.
//
// Stemming a text (both forms) removes the stop words after flattening and lower-casing, so a
// stop word followed by a punctuation mark is removed too.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "StringList.h"
#include "Text.h"

class TqzObjectHashList;

class TqzStringsStemming {
 public:
  TqzStringsStemming() = delete;

  // The stop words of the file (one per line) removed from Content; a missing file raises.
  static UnicodeString DeleteStopWords(const UnicodeString& Content, const UnicodeString& FilePath);
  // With TrimBefore the text is trimmed, with IgnoreCase lower-cased; the words are the cache's
  // list for LanguageId (UseCache; none cached: nothing removed) or the lines of
  // ListAsStringSeparatorCRLF.
  static UnicodeString DeleteStopWords(const UnicodeString& Content, const UnicodeString& LanguageId,
                                       const UnicodeString& ListAsStringSeparatorCRLF, bool TrimBefore,
                                       bool IgnoreCase, bool UseCache);
  // Replaces every item of the comma text IgnoreLetterListCommaText by a blank, lower-cases with
  // ToLower, reduces blank runs to one blank and appends the pieces between blanks to WordList.
  static TStrings& GetEachFragment(const UnicodeString& Content, bool ToLower,
                                   const UnicodeString& IgnoreLetterListCommaText, TStrings& WordList);
  // Appends the stems of the words of Content (words shorter than MinSizeWord dropped) for
  // LanguageID: "en", "fr", "sp", "it", "hu", "da", "fi", "no", "po" (Porter), "pt", "ro",
  // "ru", "sw", "de"; any other id appends the words unstemmed. With UseStopWordList the words of
  // PathStemLanguageFiles + "stopList_<id>.txt" are removed first (a missing file is passed over).
  static TStrings& StemStringW(const UnicodeString& Content, const UnicodeString& PathStemLanguageFiles,
                               const UnicodeString& LanguageID, bool ToLowerCase, bool RemoveNumerical,
                               int32_t MinSizeWord, TStrings& StringList, bool UseStopWordList);
  // The stem of one word (several words: joined by CR LF, stemmed as one text).
  static UnicodeString StemStringW(const UnicodeString& SingleWord, const UnicodeString& LanguageID,
                                   bool ToLowerCase, bool RemoveNumerical, int32_t MinSizeWord);
  // As StemStringW, with the stop words of TqzStopwordCache and the ids "en", "fr", "es", "it",
  // "hu", "da", "fi", "no", "po", "pt", "ro", "ru", "sv", "de".
  static TStrings& StemStringUseCacheW(const UnicodeString& Content, const UnicodeString& LanguageID,
                                       bool ToLowerCase, bool RemoveNumerical, int32_t MinSizeWord,
                                       TStrings& StringList, bool UseStopWordList);
};

// One stop-word list per language id (ids compared ignoring case). Thread-safe: every operation
// takes the cache's lock. A list handed out by GetListForLanguage stays the cache's and is valid
// until RemoveListForLanguage of that id.
class TqzStopwordCache : public TObject {
 public:
  static TqzStopwordCache* GetInstance();

  bool IsInCache(const UnicodeString& LanguageID) const;
  TStringList* GetListForLanguage(const UnicodeString& LanguageID) const;
  // Stores the lines of the text as the id's list; false (nothing changed) when the id is
  // cached already or the text is empty after trimming.
  bool SetListForLanguage(const UnicodeString& ListAsStringCRLFSeperated, const UnicodeString& LanguageId);
  // Removes and frees the id's list; true, also when none was cached.
  bool RemoveListForLanguage(const UnicodeString& LanguageID);
  // A copy of the id's words (empty when none is cached).
  std::vector<UnicodeString> WordsForLanguage(const UnicodeString& LanguageID) const;

  ~TqzStopwordCache() override;

 private:
  TqzStopwordCache();
  mutable std::mutex FLock;
  std::unique_ptr<TqzObjectHashList> StopWordLists;
};
