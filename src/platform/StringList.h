// The platform's string list, over both text types.
//
//   TStringsT<S>          abstract list interface: indexed strings with an object each,
//                         name/value access, line text, delimited and comma text, files, updates.
//   TStringListT<S>       the list itself: items in one growable array, sorting with a duplicate
//                         rule, case sensitivity, change events, optional ownership of objects.
//   THashedStringListT<S> the same with IndexOf/IndexOfName answered through hash tables that
//                         are rebuilt lazily after any change.
//
//   TStringList / THashedStringList            UTF-16 lists (S = UnicodeString)
//   TAnsiStringList (qzAnsiStringList.h)       the 8-bit list (S = AnsiString)
//
// Conventions (the platform's):
// - Indexes are 0-based ints. Bad indexes raise EStringListError with the German list texts
//   below; so do Put/Insert/Move on a sorted list and a refused duplicate.
// - Comparison: CompareItems. The abstract base always ignores case; the list ignores case unless
//   CaseSensitive. Both go through the process locale's collation (platform::CompareTextW /
//   CompareStrW; 8-bit texts are widened through Windows-1252 first). Both are strict weak
//   orderings whose "equal" means "equal after upper-casing" (ignoring case) or "identical".
// - Text: every item followed by CR LF. Writing Text splits at CR LF, LF or CR; a break at the
//   very end adds no empty line. Zero characters are ordinary data (the length of a C++ string is
//   known), they neither end a text nor get lost.
// - DelimitedText: items that contain a blank or control character (codes 0..32), the quote
//   character or the delimiter are written quoted, inner quote characters doubled. Reading skips
//   blanks/control characters around items, and a blank ends an unquoted item ("a b,c" gives three
//   items) unless StrictDelimiter is set, in which case only the delimiter separates and only items
//   holding the delimiter or the quote character are quoted. CommaText is the same with "," and the
//   double quote, never strict; reading it leaves the list's own delimiter settings untouched.
// - Objects: items carry a TObject* (any class derived from TObject). A list does not own its
//   objects unless OwnsObjects is set; an owning list deletes an item's object when the item is
//   deleted, cleared or the list destroyed. PutObject never deletes the object it replaces (so
//   "Objects[i] := nil" takes an object back out of an owning list). When a sorted owning list does
//   not store the object handed to AddObject (duplicate ignored or refused), the object stays the
//   caller's. Do not put one object into two owning lists.
// - Sorting is a stable merge sort over a permutation of the items, so a comparison that is not a
//   strict weak ordering (custom sorts) can reorder items arbitrarily but never loses or duplicates
//   one. The comparison of CustomSort sees the list unchanged while the sort runs.
// - Move on a sorted list is refused before anything changes (no item is lost); Exchange is
//   allowed on a sorted list and may break its order, as on the platform.
// - Events: OnChanging fires before and OnChange after each change, not inside an open
//   BeginUpdate/EndUpdate bracket, whose outermost pair fires each of them once.
// - Not thread-safe: a list belongs to one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "CaseMap.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "Text.h"

// Root of the objects a list can refer to (the platform's TObject): anything a list may own must
// derive from it, so that the list can delete it through the virtual destructor.
class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = default;
  TObject& operator=(const TObject&) = default;
  virtual ~TObject() = default;
};

// A notification that receives the object that sends it.
using TNotifyEvent = std::function<void(TObject* Sender)>;

// What adding an existing string to a sorted list does.
enum TDuplicates { dupIgnore, dupAccept, dupError };

// Encodings of the UTF-16 list's files (the 8-bit list reads and writes bytes unchanged).
enum class TTextEncoding { Ansi, Utf8, Utf16LE, Utf16BE };

namespace platform {

// The string-list error texts (the platform's German resource strings).
inline constexpr const char16_t* SListIndexError = u"Listenindex \u00fcberschreitet das Maximum (%d)";
inline constexpr const char16_t* SSortedListError = u"Operation f\u00fcr sortierte Listen nicht zul\u00e4ssig";
inline constexpr const char16_t* SDuplicateString = u"In der Stringliste sind Duplikate nicht erlaubt";

// The message with "%d" replaced by the number (texts without "%d" stay as they are).
UnicodeString FormatListError(const char16_t* text, int64_t value);
[[noreturn]] void RaiseListError(const char16_t* text, int64_t value);

namespace strlist_detail {

// Character-type dependent helpers of the list.
template <class S>
struct Traits;

template <>
struct Traits<UnicodeString> {
  using Char = char16_t;
  static int CompareText(std::u16string_view a, std::u16string_view b) { return CompareTextW(a, b); }
  static int CompareStr(std::u16string_view a, std::u16string_view b) { return CompareStrW(a, b); }
  static bool SameText(std::u16string_view a, std::u16string_view b) { return SameTextW(a, b); }
  static UnicodeString ToWide(const UnicodeString& s) { return s; }
  // Keys equal exactly when the texts compare equal (see CaseMap.h).
  static UnicodeString HashKey(const UnicodeString& s, bool caseSensitive) {
    return caseSensitive ? s : UpperW(s);
  }
};

template <>
struct Traits<AnsiString> {
  using Char = char;
  static int CompareText(std::string_view a, std::string_view b) { return CompareTextA(a, b); }
  static int CompareStr(std::string_view a, std::string_view b) { return CompareStrA(a, b); }
  static bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && (a == b || SameTextA(a, b));
  }
  static UnicodeString ToWide(const AnsiString& s) { return AnsiToWide(s); }
  static UnicodeString HashKey(const AnsiString& s, bool caseSensitive) {
    // Windows-1252 widening is one to one, so byte equality is UTF-16 equality.
    return caseSensitive ? AnsiToWide(s) : UpperW(AnsiToWide(s));
  }
};

// File and stream helpers (StringList.cpp).
std::string ReadStreamRest(std::istream& stream);
void WriteStream(std::ostream& stream, const void* data, size_t size);
std::string ReadFileBytes(const UnicodeString& fileName);
void WriteFileBytes(const UnicodeString& fileName, std::string_view bytes);
// Decodes file bytes: a byte-order mark selects UTF-8 / UTF-16, otherwise Windows-1252.
UnicodeString DecodeText(std::string_view bytes, TTextEncoding& detected);
std::string EncodeText(std::u16string_view text, TTextEncoding encoding, bool withPreamble);

// Stable merge sort of 0..n-1 by `less`; always yields a permutation, whatever `less` answers.
std::vector<int> SortPermutation(int n, const std::function<bool(int, int)>& less);

}  // namespace strlist_detail
}  // namespace platform

template <class S>
class TStringsT : public TObject {
 public:
  using string_type = S;
  using Char = typename S::value_type;
  using Traits = platform::strlist_detail::Traits<S>;

  TStringsT() = default;
  TStringsT(const TStringsT&) = delete;
  TStringsT& operator=(const TStringsT&) = delete;
  ~TStringsT() override = default;

  // --- abstract / overridable item access ---
  virtual int Count() const = 0;
  virtual S Get(int Index) const = 0;
  virtual void Clear() = 0;
  virtual void Delete(int Index) = 0;
  virtual void Insert(int Index, const S& Value) = 0;

  virtual TObject* GetObject(int /*Index*/) const { return nullptr; }
  virtual void PutObject(int /*Index*/, TObject* /*AObject*/) {}
  // Keeps the item's object, deletes the item and inserts the new string with that object.
  virtual void Put(int Index, const S& Value) {
    TObject* obj = GetObject(Index);
    Delete(Index);
    InsertObject(Index, Value, obj);
  }
  virtual int Capacity() const { return Count(); }
  virtual void SetCapacity(int /*NewCapacity*/) {}

  // Comparison of two item strings: < 0, 0, > 0. The base ignores case.
  virtual int CompareItems(const S& S1, const S& S2) const { return Traits::CompareText(S1, S2); }
  // CompareItems(S1, S2) == 0, answered without collating where possible. A class that overrides
  // CompareItems overrides this too.
  virtual bool ItemsEqual(const S& S1, const S& S2) const { return Traits::SameText(S1, S2); }

  virtual int Add(const S& Value) {
    const int index = Count();
    Insert(index, Value);
    return index;
  }
  virtual int AddObject(const S& Value, TObject* AObject) {
    const int index = Add(Value);
    PutObject(index, AObject);
    return index;
  }
  void Append(const S& Value) { Add(Value); }
  // Every item of Strings with its object, through AddObject, inside one update.
  virtual void AddStrings(const TStringsT& Strings) {
    UpdateGuard guard(*this);
    const int n = Strings.Count();  // fixed first: adding a list to itself doubles it once
    for (int i = 0; i < n; ++i) AddObject(Strings.Get(i), Strings.GetObject(i));
  }
  // Copies the items, objects and the delimiter, quote character, name-value separator and
  // strict-delimiter setting of Source. Sorting, duplicates, case and events are not copied.
  virtual void Assign(const TStringsT& Source) {
    if (&Source == this) return;
    UpdateGuard guard(*this);
    Clear();
    FDelimiter = Source.FDelimiter;
    FQuoteChar = Source.FQuoteChar;
    FNameValueSeparator = Source.FNameValueSeparator;
    FStrictDelimiter = Source.FStrictDelimiter;
    ContentChanged();
    AddStrings(Source);
  }
  virtual void Exchange(int Index1, int Index2) {
    UpdateGuard guard(*this);
    const S s1 = Get(Index1);
    TObject* o1 = GetObject(Index1);
    Put(Index1, Get(Index2));
    PutObject(Index1, GetObject(Index2));
    Put(Index2, s1);
    PutObject(Index2, o1);
  }
  virtual int IndexOf(const S& Value) const {
    const int n = Count();
    for (int i = 0; i < n; ++i)
      if (ItemsEqual(Get(i), Value)) return i;
    return -1;
  }
  // First item that holds the separator and whose name compares equal to Name; -1 when none.
  virtual int IndexOfName(const S& Name) const {
    const int n = Count();
    for (int i = 0; i < n; ++i) {
      const S item = Get(i);
      const auto p = item.find(FNameValueSeparator);
      if (p != S::npos && ItemsEqual(item.substr(0, p), Name)) return i;
    }
    return -1;
  }
  virtual int IndexOfObject(const TObject* AObject) const {
    const int n = Count();
    for (int i = 0; i < n; ++i)
      if (GetObject(i) == AObject) return i;
    return -1;
  }
  virtual void InsertObject(int Index, const S& Value, TObject* AObject) {
    Insert(Index, Value);
    PutObject(Index, AObject);
  }
  // Moves an item with its object. Should the re-insertion fail, the item is put back.
  virtual void Move(int CurIndex, int NewIndex) {
    if (CurIndex == NewIndex) return;
    UpdateGuard guard(*this);
    const S s = Get(CurIndex);
    TObject* obj = GetObject(CurIndex);
    Delete(CurIndex);
    try {
      InsertObject(NewIndex, s, obj);
    } catch (...) {
      InsertObject(CurIndex, s, obj);
      throw;
    }
  }

  // --- properties ---
  S Strings(int Index) const { return Get(Index); }
  S operator[](int Index) const { return Get(Index); }
  TObject* Objects(int Index) const { return GetObject(Index); }

  // The item's text before the first separator; empty when it has none.
  S Names(int Index) const {
    const S item = Get(Index);
    const auto p = item.find(FNameValueSeparator);
    return p == S::npos ? S() : item.substr(0, p);
  }
  // The text after the separator of the first item named Name; empty when there is none.
  S Values(const S& Name) const {
    const int i = IndexOfName(Name);
    if (i < 0) return S();
    const S item = Get(i);
    return item.substr(item.find(FNameValueSeparator) + 1);
  }
  // Sets the value of the first item named Name (appending "Name=Value" when there is none);
  // an empty Value deletes that item.
  virtual void SetValue(const S& Name, const S& Value) {
    int i = IndexOfName(Name);
    if (!Value.empty()) {
      if (i < 0) i = Add(S());
      Put(i, Name + FNameValueSeparator + Value);
    } else if (i >= 0) {
      Delete(i);
    }
  }
  // The text after the item's first separator; empty when it has none or Index < 0. An item
  // without a separator has no value: reading it as "the text from position len(name) + 2" would
  // hand back the item minus its first character, a value that was never stored.
  S ValueFromIndex(int Index) const {
    if (Index < 0) return S();
    const S item = Get(Index);
    const auto p = item.find(FNameValueSeparator);
    return p == S::npos ? S() : item.substr(p + 1);
  }
  // Stores Names[Index], the separator and Value at Index (a negative Index appends an empty item
  // first); an empty Value deletes the item.
  virtual void SetValueFromIndex(int Index, const S& Value) {
    if (!Value.empty()) {
      if (Index < 0) Index = Add(S());
      Put(Index, Names(Index) + FNameValueSeparator + Value);
    } else if (Index >= 0) {
      Delete(Index);
    }
  }

  Char Delimiter() const { return FDelimiter; }
  void SetDelimiter(Char Value) { FDelimiter = Value; }
  Char QuoteChar() const { return FQuoteChar; }
  void SetQuoteChar(Char Value) { FQuoteChar = Value; }
  Char NameValueSeparator() const { return FNameValueSeparator; }
  void SetNameValueSeparator(Char Value) {
    if (FNameValueSeparator == Value) return;
    FNameValueSeparator = Value;
    ContentChanged();
  }
  bool StrictDelimiter() const { return FStrictDelimiter; }
  void SetStrictDelimiter(bool Value) { FStrictDelimiter = Value; }

  // --- text forms ---
  S Text() const { return GetTextStr(); }
  void SetText(const S& Value) { SetTextStr(Value); }
  // Sets Text from a zero-terminated text (null = empty).
  void SetText(const Char* Value) { SetTextStr(Value ? S(Value) : S()); }
  // A newly allocated zero-terminated copy of Text.
  std::unique_ptr<Char[]> GetText() const {
    const S t = GetTextStr();
    auto out = std::make_unique<Char[]>(t.size() + 1);
    std::copy(t.begin(), t.end(), out.get());
    out[t.size()] = Char(0);
    return out;
  }

  virtual S GetTextStr() const {
    const int n = Count();
    std::vector<S> items;
    items.reserve(static_cast<size_t>(n));
    size_t total = 0;
    for (int i = 0; i < n; ++i) {
      items.push_back(Get(i));
      total += items.back().size() + 2;
    }
    S out;
    out.reserve(total);
    for (const S& item : items) {
      out += item;
      out += Char('\r');
      out += Char('\n');
    }
    return out;
  }
  virtual void SetTextStr(const S& Value) {
    UpdateGuard guard(*this);
    Clear();
    const size_t n = Value.size();
    size_t start = 0;
    while (start < n) {
      size_t p = start;
      while (p < n && Value[p] != Char('\r') && Value[p] != Char('\n')) ++p;
      Add(Value.substr(start, p - start));
      // CR LF is one break; a lone CR and a lone LF are one each.
      if (p < n && Value[p] == Char('\r')) {
        ++p;
        if (p < n && Value[p] == Char('\n')) ++p;
      } else if (p < n) {
        ++p;
      }
      start = p;
    }
  }

  S DelimitedText() const { return DelimitedTextWith(FDelimiter, FQuoteChar, FStrictDelimiter); }
  void SetDelimitedText(const S& Value) {
    SetDelimitedTextWith(Value, FDelimiter, FQuoteChar, FStrictDelimiter);
  }
  // The delimited text with "," and the double quote, never strict; the list's own settings stay.
  S CommaText() const { return DelimitedTextWith(Char(','), Char('"'), false); }
  // Sets the delimiter to "," and the quote character to the double quote (they stay so) and reads
  // the text as delimited text, never strictly.
  void SetCommaText(const S& Value) {
    FDelimiter = Char(',');
    FQuoteChar = Char('"');
    SetDelimitedTextWith(Value, FDelimiter, FQuoteChar, false);
  }

  // True when Strings has the same count and the same strings at each index (exactly; objects are
  // not compared).
  bool Equals(const TStringsT& Strings) const {
    const int n = Count();
    if (n != Strings.Count()) return false;
    for (int i = 0; i < n; ++i)
      if (Get(i) != Strings.Get(i)) return false;
    return true;
  }

  // Appends every item, converted to UTF-16 through Windows-1252, to Destination (objects are
  // not copied); returns Destination's count afterwards. 8-bit lists only.
  // (Member templates, so an explicit instantiation of the class never instantiates them for the
  // other text type.)
  template <class T = S>
    requires std::is_same_v<T, AnsiString>
  int toTStrings(TStringsT<UnicodeString>& Destination) const {
    const int n = Count();
    Destination.BeginUpdate();
    try {
      for (int i = 0; i < n; ++i) Destination.Add(platform::AnsiToWide(Get(i)));
    } catch (...) {
      Destination.EndUpdate();
      throw;
    }
    Destination.EndUpdate();
    return Destination.Count();
  }

  // --- files and streams ---
  // The 8-bit list reads and writes bytes unchanged. The UTF-16 list reads a byte-order mark
  // (UTF-8, UTF-16 LE/BE) and otherwise Windows-1252, and writes in the encoding it last read
  // (Windows-1252 when it has read none) unless told otherwise; UTF-8 and UTF-16 get their mark.
  // Open failures raise EInOutError with the file name and the system's reason.
  virtual void LoadFromFile(const S& FileName) {
    const std::string bytes = platform::strlist_detail::ReadFileBytes(Traits::ToWide(FileName));
    LoadFromBytes(bytes);
  }
  virtual void LoadFromStream(std::istream& Stream) {
    UpdateGuard guard(*this);
    LoadFromBytes(platform::strlist_detail::ReadStreamRest(Stream));
  }
  virtual void SaveToFile(const S& FileName) const {
    const std::string bytes = SaveBytes(FEncoding);
    platform::strlist_detail::WriteFileBytes(Traits::ToWide(FileName), bytes);
  }
  virtual void SaveToStream(std::ostream& Stream) const {
    const std::string bytes = SaveBytes(FEncoding);
    platform::strlist_detail::WriteStream(Stream, bytes.data(), bytes.size());
  }
  template <class T = S>
    requires std::is_same_v<T, UnicodeString>
  void SaveToFile(const S& FileName, TTextEncoding Encoding) const {
    platform::strlist_detail::WriteFileBytes(FileName, SaveBytes(Encoding));
  }
  template <class T = S>
    requires std::is_same_v<T, UnicodeString>
  void SaveToStream(std::ostream& Stream, TTextEncoding Encoding) const {
    const std::string bytes = SaveBytes(Encoding);
    platform::strlist_detail::WriteStream(Stream, bytes.data(), bytes.size());
  }
  // The encoding of the last file or stream read (UTF-16 list).
  TTextEncoding Encoding() const { return FEncoding; }

  // --- update brackets ---
  void BeginUpdate() {
    if (FUpdateCount == 0) UpdatingChanged(true);
    ++FUpdateCount;
  }
  void EndUpdate() {
    if (FUpdateCount <= 0) return;
    --FUpdateCount;
    if (FUpdateCount == 0) UpdatingChanged(false);
  }
  int UpdateCount() const { return FUpdateCount; }

 protected:
  // Opens an update bracket for the lifetime of the guard (closed also when an exception leaves).
  class UpdateGuard {
   public:
    explicit UpdateGuard(TStringsT& list) : list_(list) { list_.BeginUpdate(); }
    ~UpdateGuard() { list_.EndUpdate(); }
    UpdateGuard(const UpdateGuard&) = delete;
    UpdateGuard& operator=(const UpdateGuard&) = delete;

   private:
    TStringsT& list_;
  };

  virtual void UpdatingChanged(bool /*Updating*/) {}
  // Called whenever the item strings or the way they are compared change (lookup caches).
  virtual void ContentChanged() {}

  S DelimitedTextWith(Char delim, Char quote, bool strict) const {
    const int n = Count();
    if (n == 1 && Get(0).empty()) return S(2, quote);
    S out;
    for (int i = 0; i < n; ++i) {
      const S item = Get(i);
      bool needQuote = false;
      for (Char c : item) {
        if (c == quote || c == delim || (!strict && IsBlank(c))) {
          needQuote = true;
          break;
        }
      }
      if (needQuote) {
        out += quote;
        for (Char c : item) {
          out += c;
          if (c == quote) out += quote;
        }
        out += quote;
      } else {
        out += item;
      }
      if (i + 1 < n) out += delim;
    }
    return out;
  }
  void SetDelimitedTextWith(const S& Value, Char delim, Char quote, bool strict) {
    UpdateGuard guard(*this);
    Clear();
    const size_t n = Value.size();
    size_t p = 0;
    auto skipBlanks = [&] {
      if (!strict)
        while (p < n && IsBlank(Value[p])) ++p;
    };
    skipBlanks();
    while (p < n) {
      S item;
      if (Value[p] == quote) {
        // Quoted item: doubled quote characters stand for one; an unclosed item takes the rest.
        ++p;
        while (p < n) {
          if (Value[p] == quote) {
            ++p;
            if (p >= n || Value[p] != quote) break;
          }
          item += Value[p];
          ++p;
        }
      } else {
        const size_t start = p;
        while (p < n && Value[p] != delim && (strict || !IsBlank(Value[p]))) ++p;
        item = Value.substr(start, p - start);
      }
      Add(item);
      skipBlanks();
      if (p < n && Value[p] == delim) {
        if (p + 1 == n) Add(S());
        ++p;
        skipBlanks();
      }
    }
  }

  static bool IsBlank(Char c) {
    return static_cast<std::make_unsigned_t<Char>>(c) <= 32;
  }

  Char FDelimiter = Char(',');
  Char FQuoteChar = Char('"');
  Char FNameValueSeparator = Char('=');
  bool FStrictDelimiter = false;
  int FUpdateCount = 0;
  TTextEncoding FEncoding = TTextEncoding::Ansi;

 private:
  void LoadFromBytes(const std::string& bytes) {
    if constexpr (std::is_same_v<S, AnsiString>) {
      SetTextStr(bytes);
    } else {
      TTextEncoding detected = TTextEncoding::Ansi;
      UnicodeString text = platform::strlist_detail::DecodeText(bytes, detected);
      SetTextStr(text);
      FEncoding = detected;
    }
  }
  std::string SaveBytes(TTextEncoding encoding) const {
    if constexpr (std::is_same_v<S, AnsiString>) {
      (void)encoding;
      return GetTextStr();
    } else {
      return platform::strlist_detail::EncodeText(GetTextStr(), encoding, true);
    }
  }
};

template <class S>
class TStringListT : public TStringsT<S> {
  using Base = TStringsT<S>;

 public:
  using typename Base::Char;
  using typename Base::Traits;
  using Base::Count;
  // Sort comparison: < 0 when item Index1 goes before item Index2, 0 when equal, > 0 after.
  using TStringListSortCompare = std::function<int(TStringListT& List, int Index1, int Index2)>;

  // One record of the list: the string and the object it refers to.
  struct Item {
    S FString;
    TObject* FObject = nullptr;
  };

  TStringListT() = default;
  explicit TStringListT(bool OwnsObjects) : FOwnsObjects(OwnsObjects) {}
  TStringListT(TDuplicates Duplicates, bool Sorted, bool CaseSensitive = false)
      : FSorted(Sorted), FDuplicates(Duplicates), FCaseSensitive(CaseSensitive) {}
  ~TStringListT() override {
    OnChange = nullptr;
    OnChanging = nullptr;
    ReleaseItems(std::move(FList));
  }

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

  int Count() const override { return static_cast<int>(FList.size()); }
  S Get(int Index) const override {
    CheckIndex(Index, Count());
    return FList[static_cast<size_t>(Index)].FString;
  }
  // The item's string by reference (valid until the list changes).
  const S& operator[](int Index) const {
    CheckIndex(Index, Count());
    return FList[static_cast<size_t>(Index)].FString;
  }
  TObject* GetObject(int Index) const override {
    CheckIndex(Index, Count());
    return FList[static_cast<size_t>(Index)].FObject;
  }
  void Put(int Index, const S& Value) override {
    if (FSorted) platform::RaiseListError(platform::SSortedListError, 0);
    CheckIndex(Index, Count());
    NotifyChanging();
    FList[static_cast<size_t>(Index)].FString = Value;
    ContentChanged();
    NotifyChanged();
  }
  void PutObject(int Index, TObject* AObject) override {
    CheckIndex(Index, Count());
    NotifyChanging();
    FList[static_cast<size_t>(Index)].FObject = AObject;
    NotifyChanged();
  }
  int Capacity() const override { return FCapacity; }
  // Reserves room for exactly NewCapacity items; a capacity below Count raises the index error.
  void SetCapacity(int NewCapacity) override {
    if (NewCapacity < Count()) platform::RaiseListError(platform::SListIndexError, NewCapacity);
    if (NewCapacity == FCapacity) return;
    std::vector<Item> list;
    list.reserve(static_cast<size_t>(NewCapacity));
    for (Item& item : FList) list.push_back(std::move(item));
    FList.swap(list);
    FCapacity = NewCapacity;
  }

  int CompareItems(const S& S1, const S& S2) const override {
    return FCaseSensitive ? Traits::CompareStr(S1, S2) : Traits::CompareText(S1, S2);
  }
  bool ItemsEqual(const S& S1, const S& S2) const override {
    return FCaseSensitive ? S1 == S2 : Traits::SameText(S1, S2);
  }

  int Add(const S& Value) override { return AddObject(Value, nullptr); }
  int AddObject(const S& Value, TObject* AObject) override {
    int index = Count();
    if (FSorted) {
      if (Find(Value, index)) {
        switch (FDuplicates) {
          case dupIgnore:
            return index;
          case dupError:
            platform::RaiseListError(platform::SDuplicateString, 0);
          case dupAccept:
            break;
        }
      }
    }
    InsertItemAt(index, Value, AObject);
    return index;
  }

  void Clear() override {
    if (FList.empty()) return;
    NotifyChanging();
    std::vector<Item> old;
    old.swap(FList);
    FCapacity = 0;
    ContentChanged();
    ReleaseItems(std::move(old));
    NotifyChanged();
  }
  void Delete(int Index) override {
    CheckIndex(Index, Count());
    NotifyChanging();
    TObject* obj = FList[static_cast<size_t>(Index)].FObject;
    FList.erase(FList.begin() + Index);
    ContentChanged();
    if (FOwnsObjects) delete obj;
    NotifyChanged();
  }
  void Exchange(int Index1, int Index2) override {
    CheckIndex(Index1, Count());
    CheckIndex(Index2, Count());
    NotifyChanging();
    std::swap(FList[static_cast<size_t>(Index1)], FList[static_cast<size_t>(Index2)]);
    ContentChanged();
    NotifyChanged();
  }
  int IndexOf(const S& Value) const override {
    if (FSorted) {
      int index = -1;
      return Find(Value, index) ? index : -1;
    }
    const int n = Count();
    for (int i = 0; i < n; ++i)
      if (ItemsEqual(FList[static_cast<size_t>(i)].FString, Value)) return i;
    return -1;
  }
  int IndexOfName(const S& Name) const override {
    const int n = Count();
    for (int i = 0; i < n; ++i) {
      const S& item = FList[static_cast<size_t>(i)].FString;
      const auto p = item.find(this->FNameValueSeparator);
      if (p != S::npos && ItemsEqual(item.substr(0, p), Name)) return i;
    }
    return -1;
  }
  // Every item followed by CR LF, built in one allocation.
  S GetTextStr() const override {
    size_t total = 0;
    for (const Item& item : FList) total += item.FString.size() + 2;
    S out;
    out.reserve(total);
    for (const Item& item : FList) {
      out += item.FString;
      out += Char('\r');
      out += Char('\n');
    }
    return out;
  }
  void Insert(int Index, const S& Value) override { InsertObject(Index, Value, nullptr); }
  void InsertObject(int Index, const S& Value, TObject* AObject) override {
    if (FSorted) platform::RaiseListError(platform::SSortedListError, 0);
    CheckIndex(Index, Count() + 1);
    InsertItemAt(Index, Value, AObject);
  }
  // Moves the item with its object to NewIndex (its index after the move). Refused on a sorted
  // list before anything changes.
  void Move(int CurIndex, int NewIndex) override {
    if (CurIndex == NewIndex) return;
    if (FSorted) platform::RaiseListError(platform::SSortedListError, 0);
    CheckIndex(CurIndex, Count());
    CheckIndex(NewIndex, Count());
    NotifyChanging();
    const auto first = FList.begin();
    if (CurIndex < NewIndex)
      std::rotate(first + CurIndex, first + CurIndex + 1, first + NewIndex + 1);
    else
      std::rotate(first + NewIndex, first + CurIndex, first + CurIndex + 1);
    ContentChanged();
    NotifyChanged();
  }
  // A sorted list cannot take a value at a chosen place: refused before anything changes.
  void SetValue(const S& Name, const S& Value) override {
    if (FSorted && !Value.empty()) platform::RaiseListError(platform::SSortedListError, 0);
    Base::SetValue(Name, Value);
  }
  void SetValueFromIndex(int Index, const S& Value) override {
    if (FSorted && !Value.empty()) platform::RaiseListError(platform::SSortedListError, 0);
    Base::SetValueFromIndex(Index, Value);
  }

  // Binary search for a sorted list. True when found; Index receives the position (with dupAccept
  // the first of equal strings) or, when not found, the insertion point.
  virtual bool Find(const S& Value, int& Index) const {
    bool result = false;
    int low = 0;
    int high = Count() - 1;
    while (low <= high) {
      const int mid = low + (high - low) / 2;
      const int c = CompareItems(FList[static_cast<size_t>(mid)].FString, Value);
      if (c < 0) {
        low = mid + 1;
      } else {
        high = mid - 1;
        if (c == 0) {
          result = true;
          if (FDuplicates != dupAccept) low = mid;
        }
      }
    }
    Index = low;
    return result;
  }
  virtual void Sort() {
    CustomSort([](TStringListT& list, int a, int b) {
      return list.CompareItems(list.FList[static_cast<size_t>(a)].FString,
                               list.FList[static_cast<size_t>(b)].FString);
    });
  }
  // Sorts by Compare; nothing happens when the list is sorted or has fewer than two items.
  virtual void CustomSort(const TStringListSortCompare& Compare) {
    if (FSorted || Count() < 2) return;
    SortItems(Compare);
  }

  bool Sorted() const { return FSorted; }
  void SetSorted(bool Value) {
    if (FSorted == Value) return;
    if (Value) Sort();
    FSorted = Value;
  }
  TDuplicates Duplicates() const { return FDuplicates; }
  void SetDuplicates(TDuplicates Value) { FDuplicates = Value; }
  bool CaseSensitive() const { return FCaseSensitive; }
  void SetCaseSensitive(bool Value) {
    if (FCaseSensitive == Value) return;
    FCaseSensitive = Value;
    ContentChanged();
    if (FSorted && Count() > 1) {
      SortItems([](TStringListT& list, int a, int b) {
        return list.CompareItems(list.FList[static_cast<size_t>(a)].FString,
                                 list.FList[static_cast<size_t>(b)].FString);
      });
    }
  }
  bool OwnsObjects() const { return FOwnsObjects; }
  void SetOwnsObjects(bool Value) { FOwnsObjects = Value; }

 protected:

  void UpdatingChanged(bool Updating) override {
    if (Updating)
      NotifyChanging();
    else
      NotifyChanged();
  }
  virtual void NotifyChanged() {
    if (OnChange && this->FUpdateCount == 0) OnChange(this);
  }
  virtual void NotifyChanging() {
    if (OnChanging && this->FUpdateCount == 0) OnChanging(this);
  }
  using Base::ContentChanged;

  virtual void InsertItemAt(int Index, const S& Value, TObject* AObject) {
    NotifyChanging();
    if (Count() == FCapacity) Grow();
    FList.insert(FList.begin() + Index, Item{Value, AObject});
    ContentChanged();
    NotifyChanged();
  }

  static void CheckIndex(int Index, int Limit) {
    if (Index < 0 || Index >= Limit) platform::RaiseListError(platform::SListIndexError, Index);
  }

  std::vector<Item> FList;
  int FCapacity = 0;
  bool FSorted = false;
  TDuplicates FDuplicates = dupIgnore;
  bool FCaseSensitive = false;
  bool FOwnsObjects = false;

 private:
  // Capacity grows by a quarter above 64, by 16 above 8, by 4 otherwise.
  void Grow() {
    int delta = 4;
    if (FCapacity > 64)
      delta = FCapacity / 4;
    else if (FCapacity > 8)
      delta = 16;
    const int newCapacity = FCapacity + delta;
    FList.reserve(static_cast<size_t>(newCapacity));
    FCapacity = newCapacity;
  }

  void SortItems(const TStringListSortCompare& Compare) {
    NotifyChanging();
    const std::vector<int> order = platform::strlist_detail::SortPermutation(
        Count(), [&](int a, int b) { return Compare(*this, a, b) < 0; });
    std::vector<Item> sorted;
    sorted.reserve(FList.capacity());
    for (int i : order) sorted.push_back(std::move(FList[static_cast<size_t>(i)]));
    FList.swap(sorted);
    ContentChanged();
    NotifyChanged();
  }

  void ReleaseItems(std::vector<Item>&& items) {
    std::vector<Item> old(std::move(items));
    if (!FOwnsObjects) return;
    for (Item& item : old) {
      TObject* obj = item.FObject;
      item.FObject = nullptr;
      delete obj;
    }
  }
};

// The list with hashed IndexOf / IndexOfName. The hash tables are built on the first lookup after
// a change and map each key (upper-cased unless CaseSensitive) to its first index.
template <class S>
class THashedStringListT : public TStringListT<S> {
  using Base = TStringListT<S>;

 public:
  using Base::Base;
  using typename Base::Traits;

  int IndexOf(const S& Value) const override {
    if (!FValueHashValid) {
      FValueHash.clear();
      const int n = this->Count();
      FValueHash.reserve(static_cast<size_t>(n));
      for (int i = 0; i < n; ++i) FValueHash.try_emplace(Key(this->FList[static_cast<size_t>(i)].FString), i);
      FValueHashValid = true;
    }
    const auto it = FValueHash.find(Key(Value));
    return it == FValueHash.end() ? -1 : it->second;
  }
  int IndexOfName(const S& Name) const override {
    if (!FNameHashValid) {
      FNameHash.clear();
      const int n = this->Count();
      FNameHash.reserve(static_cast<size_t>(n));
      for (int i = 0; i < n; ++i) {
        const S& item = this->FList[static_cast<size_t>(i)].FString;
        const auto p = item.find(this->FNameValueSeparator);
        if (p != S::npos) FNameHash.try_emplace(Key(item.substr(0, p)), i);
      }
      FNameHashValid = true;
    }
    const auto it = FNameHash.find(Key(Name));
    return it == FNameHash.end() ? -1 : it->second;
  }

 protected:
  void ContentChanged() override {
    FValueHashValid = false;
    FNameHashValid = false;
  }

 private:
  UnicodeString Key(const S& s) const { return Traits::HashKey(s, this->FCaseSensitive); }

  mutable std::unordered_map<UnicodeString, int> FValueHash;
  mutable std::unordered_map<UnicodeString, int> FNameHash;
  mutable bool FValueHashValid = false;
  mutable bool FNameHashValid = false;
};

// Compiled once in StringList.cpp.
extern template class TStringsT<UnicodeString>;
extern template class TStringsT<AnsiString>;
extern template class TStringListT<UnicodeString>;
extern template class TStringListT<AnsiString>;
extern template class THashedStringListT<UnicodeString>;
extern template class THashedStringListT<AnsiString>;

using TStrings = TStringsT<UnicodeString>;
using TStringList = TStringListT<UnicodeString>;
using THashedStringList = THashedStringListT<UnicodeString>;
using TStringListSortCompare = TStringList::TStringListSortCompare;
