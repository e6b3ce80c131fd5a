// String-list text: lines, comma and delimited text, name=value pairs, files with byte-order
// marks; and a list written as comma or delimited text reads back as the same items.
#include <cstdint>
#include <cstdlib>
#include <sstream>

#include "Exceptions.h"
#include "FuzzInput.h"
#include "StringList.h"
#include "qzAnsiStringList.h"

namespace {

template <class List, class S>
void Exercise(const S& text, std::string_view bytes) {
  List list;
  list.SetText(text);
  list.SetCommaText(text);
  for (int i = 0; i < list.Count() && i < 8; ++i) {
    list.Names(i);
    list.ValueFromIndex(i);
  }
  list.Values(text.substr(0, 4));
  const S comma = list.CommaText();
  List back;
  back.SetCommaText(comma);
  if (back.Count() != list.Count()) std::abort();
  for (int i = 0; i < list.Count(); ++i)
    if (back.Get(i) != list.Get(i)) std::abort();
  list.SetDelimiter(typename List::Char(';'));
  list.SetStrictDelimiter(true);
  list.SetDelimitedText(text);
  list.DelimitedText();
  List sorted;
  sorted.SetSorted(true);
  sorted.SetDuplicates(dupIgnore);
  sorted.SetText(text);
  std::istringstream stream{std::string(bytes)};
  List loaded;
  try {
    loaded.LoadFromStream(stream);
  } catch (const Exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes = qzfuzz::Bytes(data, size);
  Exercise<TStringList>(qzfuzz::Wide(data, size), bytes);
  Exercise<TAnsiStringList>(AnsiString(bytes), bytes);
  return 0;
}
