// Word stemming with libstemmer (the Snowball algorithms and Porter's), over UTF-16 words.
//
// Stemmers are created once per thread and algorithm and kept for the thread's life (a
// libstemmer object must not be shared between threads), so stemming many words costs no
// set-up per call. Words pass to the stemmer as UTF-8, so every script its algorithm knows
// (Cyrillic for Russian, accented Latin letters) reaches it unchanged.
//
//   platform::StemWord("german", u"häuser")   // u"haus"
#pragma once

#include <string_view>

#include "Text.h"

namespace platform {

// True when libstemmer knows the algorithm ("english", "german", "porter", ...).
bool HasStemmer(const char* algorithm);
// The stem of one word; the word itself when the algorithm is unknown.
UnicodeString StemWord(const char* algorithm, std::u16string_view word);

}  // namespace platform
