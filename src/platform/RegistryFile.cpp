// Reading and writing hive files in the .reg text format (see Registry.h).
#include <cstdio>
#include <optional>
#include <set>
#include <unordered_map>

#include "CaseMap.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "Registry.h"
#include "SysUtils.h"
#include "TextFile.h"

namespace platform {

namespace {

UnicodeString ShortRootName(RootKey root) {
  switch (root) {
    case RootKey::ClassesRoot: return u"HKCR";
    case RootKey::CurrentUser: return u"HKCU";
    case RootKey::LocalMachine: return u"HKLM";
  }
  return u"";
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Parsing

namespace {

bool StartsWithText(std::u16string_view line, std::u16string_view prefix) {
  return line.size() >= prefix.size() && SameTextW(line.substr(0, prefix.size()), prefix);
}

class RegParser {
 public:
  RegParser(RootKey hive, RegKey& root, const std::string& fileName, RegFileLayout* layout)
      : hive_(hive), root_(root), file_(fileName), layout_(layout ? *layout : ownLayout_) {}

  void Parse(const std::string& bytes) {
    UnicodeString text = DecodeTextFileBytes(bytes, &hadBom_);
    std::vector<UnicodeString>& lines = layout_.Lines;
    lines = SplitTextLines(text);
    size_t i = 0;
    // The header is the first line that is not blank.
    while (i < lines.size() && Trim(lines[i]).empty()) ++i;
    if (i == lines.size()) {
      if (bytes.empty()) return;  // an empty file is an empty hive
      Fail(1, u"missing header");
    }
    UnicodeString header = Trim(lines[i]);
    if (header == u"Windows Registry Editor Version 5.00") {
      regedit4_ = false;
    } else if (header == u"REGEDIT4") {
      regedit4_ = true;
      if (!hadBom_) {  // REGEDIT4 files are in the ANSI code page
        text = AnsiToWide(bytes);
        lines = SplitTextLines(text);
      }
    } else {
      Fail(i + 1, u"unknown header \"" + header + u"\"");
    }
    NoteFormat(bytes, text);
    ++i;
    for (; i < lines.size(); ++i) {
      size_t lineNo = i + 1;
      UnicodeString line = TrimLeft(lines[i]);
      if (line.empty() || line[0] == u';') continue;
      if (line[0] == u'[') {
        if (!layout_.Sections.empty()) layout_.Sections.back().End = i;
        KeyLine(TrimRight(line), lineNo);
        continue;
      }
      // A value; hex data may continue on the following lines after a trailing backslash.
      const size_t first = i;
      UnicodeString logical = TrimRight(line);
      if (!logical.empty() && logical.back() == u'\\' && IsHexContinuation(logical)) {
        while (!logical.empty() && logical.back() == u'\\' && i + 1 < lines.size()) {
          logical.pop_back();
          ++i;
          logical += Trim(lines[i]);
        }
      }
      ValueLine(logical, lineNo, first, i);
    }
    if (!layout_.Sections.empty()) layout_.Sections.back().End = lines.size();
  }

 private:
  // The encoding and line ends the file was written with.
  void NoteFormat(const std::string& bytes, std::u16string_view text) {
    using Enc = RegFileLayout::Encoding;
    auto b = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
    if (bytes.size() >= 2 && b(0) == 0xFF && b(1) == 0xFE)
      layout_.TextEncoding = Enc::Utf16Le;
    else if (bytes.size() >= 2 && b(0) == 0xFE && b(1) == 0xFF)
      layout_.TextEncoding = Enc::Utf16Be;
    else if (hadBom_)
      layout_.TextEncoding = Enc::Utf8Bom;
    else
      layout_.TextEncoding = regedit4_ || !IsValidUtf8(bytes) ? Enc::Ansi : Enc::Utf8;
    layout_.Regedit4 = regedit4_;
    size_t end = text.find_first_of(u"\r\n");
    if (end != std::u16string_view::npos)
      layout_.LineEnd = text[end] == u'\n' ? u"\n" : (end + 1 < text.size() && text[end + 1] == u'\n' ? u"\r\n" : u"\r");
    layout_.EndsWithLineEnd = !text.empty() && (text.back() == u'\n' || text.back() == u'\r');
  }

  [[noreturn]] void Fail(size_t line, const UnicodeString& reason) {
    throw ERegistryException(Utf8ToWide(file_) + u" line " + ToU16(std::to_string(line)) + u": " + reason);
  }

  // A trailing backslash continues the line only in hex data ("...=hex:01,02,\").
  static bool IsHexContinuation(const UnicodeString& logical) {
    size_t eq = logical.find(u"=hex");
    if (eq == UnicodeString::npos) eq = logical.find(u"= hex");
    return eq != UnicodeString::npos;
  }

  void KeyLine(const UnicodeString& line, size_t lineNo) {
    if (line.size() < 2 || line.back() != u']') Fail(lineNo, u"key line without closing \"]\"");
    UnicodeString body = line.substr(1, line.size() - 2);
    bool remove = !body.empty() && body[0] == u'-';
    if (remove) body.erase(0, 1);
    std::vector<UnicodeString> parts = SplitKeyPath(body);
    if (parts.empty()) Fail(lineNo, u"empty key name");
    if (parts.size() - 1 > kMaxKeyDepth)
      Fail(lineNo, u"key path deeper than " + ToU16(std::to_string(kMaxKeyDepth)) + u" levels");
    if (!SameTextW(parts[0], RootKeyName(hive_)) && !SameTextW(parts[0], ShortRootName(hive_)))
      Fail(lineNo, u"key \"" + body + u"\" does not belong to " + RootKeyName(hive_));
    if (remove) {
      layout_.Preservable = false;
      current_ = nullptr;
      if (parts.size() == 1) {
        root_.Values.clear();
        root_.SubKeys.clear();
        return;
      }
      RegKey* parent = &root_;
      for (size_t k = 1; k + 1 < parts.size() && parent; ++k) parent = parent->FindSubKey(parts[k]);
      if (parent) parent->DeleteSubKey(parts.back());
      return;
    }
    RegKey* key = &root_;
    UnicodeString folded;
    for (size_t k = 1; k < parts.size(); ++k) {
      key = &key->SubKey(parts[k]);
      if (k > 1) folded.push_back(u'\\');
      folded += UpperW(parts[k]);
    }
    current_ = key;
    if (!sectionPaths_.insert(folded).second) layout_.Preservable = false;
    RegFileLayout::Section section;
    section.Path = std::move(folded);
    section.Header = lineNo - 1;
    layout_.Sections.push_back(std::move(section));
    sectionValues_.clear();
  }

  // Reads a quoted text starting at pos (on the opening quote); pos ends after the closing quote.
  UnicodeString Quoted(const UnicodeString& line, size_t& pos, size_t lineNo) {
    UnicodeString out;
    ++pos;
    while (pos < line.size()) {
      char16_t c = line[pos++];
      if (c == u'"') return out;
      if (c == u'\\' && pos < line.size() && (line[pos] == u'\\' || line[pos] == u'"')) {
        out.push_back(line[pos++]);
        continue;
      }
      out.push_back(c);
    }
    Fail(lineNo, u"missing closing quote");
  }

  static void SkipBlanks(const UnicodeString& line, size_t& pos) {
    while (pos < line.size() && (line[pos] == u' ' || line[pos] == u'\t')) ++pos;
  }

  RegBytes HexList(std::u16string_view s, size_t lineNo) {
    RegBytes out;
    size_t i = 0;
    auto blanks = [&] {
      while (i < s.size() && (s[i] == u' ' || s[i] == u'\t')) ++i;
    };
    blanks();
    while (i < s.size()) {
      int value = 0, digits = 0;
      while (i < s.size() && HexDigitValue(s[i]) >= 0) {
        value = value * 16 + HexDigitValue(s[i++]);
        if (++digits > 2) Fail(lineNo, u"hex byte with more than two digits");
      }
      if (digits == 0) Fail(lineNo, u"invalid hex data");
      out.push_back(static_cast<uint8_t>(value));
      blanks();
      if (i == s.size()) break;
      if (s[i] != u',') Fail(lineNo, u"invalid hex data");
      ++i;
      blanks();
    }
    return out;
  }

  void ValueLine(const UnicodeString& line, size_t lineNo, size_t first, size_t last) {
    if (!current_) Fail(lineNo, u"value outside a key");
    size_t pos = 0;
    UnicodeString name;
    if (line[0] == u'@') {
      pos = 1;
    } else if (line[0] == u'"') {
      name = Quoted(line, pos, lineNo);
    } else {
      Fail(lineNo, u"unexpected text \"" + line + u"\"");
    }
    SkipBlanks(line, pos);
    if (pos >= line.size() || line[pos] != u'=') Fail(lineNo, u"missing \"=\"");
    ++pos;
    SkipBlanks(line, pos);
    std::u16string_view data = std::u16string_view(line).substr(pos);
    RegValue value;
    value.Name = name;
    if (data == u"-") {
      layout_.Preservable = false;
      current_->DeleteValue(name);
      return;
    }
    if (!sectionValues_.insert(UpperW(name)).second) layout_.Preservable = false;
    layout_.Sections.back().Values.push_back({name, first, last});
    if (!data.empty() && data[0] == u'"') {
      UnicodeString text = Quoted(line, pos, lineNo);
      SkipBlanks(line, pos);
      if (pos != line.size()) Fail(lineNo, u"text after the closing quote");
      value.Type = REG_SZ;
      value.Data = RegSzBytes(text);
    } else if (StartsWithText(data, u"dword:")) {
      std::u16string_view digits = data.substr(6);
      while (!digits.empty() && (digits.back() == u' ' || digits.back() == u'\t')) digits.remove_suffix(1);
      if (digits.empty() || digits.size() > 8) Fail(lineNo, u"invalid dword value");
      uint32_t v = 0;
      for (char16_t c : digits) {
        int d = HexDigitValue(c);
        if (d < 0) Fail(lineNo, u"invalid dword value");
        v = v * 16 + static_cast<uint32_t>(d);
      }
      value.Type = REG_DWORD;
      value.Data = RegDwordBytes(v);
    } else if (StartsWithText(data, u"hex:")) {
      value.Type = REG_BINARY;
      value.Data = HexList(data.substr(4), lineNo);
    } else if (StartsWithText(data, u"hex(")) {
      size_t close = data.find(u')');
      if (close == std::u16string_view::npos || close == 4 || close > 12 || close + 1 >= data.size() ||
          data[close + 1] != u':')
        Fail(lineNo, u"invalid hex(N) type");
      uint64_t type = 0;
      for (char16_t c : data.substr(4, close - 4)) {
        int d = HexDigitValue(c);
        if (d < 0) Fail(lineNo, u"invalid hex(N) type");
        type = type * 16 + static_cast<uint64_t>(d);
      }
      if (type > 0xFFFFFFFFu) Fail(lineNo, u"invalid hex(N) type");
      value.Type = static_cast<uint32_t>(type);
      value.Data = HexList(data.substr(close + 2), lineNo);
      // REGEDIT4 keeps the texts of these types as 8-bit characters; Windows keeps UTF-16.
      if (regedit4_ && (value.Type == REG_SZ || value.Type == REG_EXPAND_SZ || value.Type == REG_MULTI_SZ)) {
        UnicodeString wide = AnsiToWide(std::string(value.Data.begin(), value.Data.end()));
        value.Data.clear();
        for (char16_t c : wide) {
          value.Data.push_back(static_cast<uint8_t>(c & 0xFF));
          value.Data.push_back(static_cast<uint8_t>(c >> 8));
        }
      }
    } else {
      Fail(lineNo, u"unknown value data \"" + UnicodeString(data) + u"\"");
    }
    current_->SetValue(std::move(value));
  }

  RootKey hive_;
  RegKey& root_;
  std::string file_;
  RegFileLayout ownLayout_;
  RegFileLayout& layout_;
  RegKey* current_ = nullptr;
  bool regedit4_ = false;
  bool hadBom_ = false;
  std::set<UnicodeString> sectionPaths_;
  std::set<UnicodeString> sectionValues_;
};

// ---------------------------------------------------------------------------------------------
// Writing

UnicodeString EscapeQuoted(std::u16string_view text) {
  UnicodeString out;
  out.reserve(text.size() + 2);
  out.push_back(u'"');
  for (char16_t c : text) {
    if (c == u'\\' || c == u'"') out.push_back(u'\\');
    out.push_back(c);
  }
  out.push_back(u'"');
  return out;
}

// REG_SZ data that regedit can write as a quoted text: UTF-16 with exactly one terminating zero
// at the end and no control characters (line breaks would break the line format).
bool PlainText(const RegBytes& data, UnicodeString& text) {
  if (data.size() < 2 || data.size() % 2 != 0) return false;
  size_t n = data.size() / 2 - 1;
  if (data[2 * n] != 0 || data[2 * n + 1] != 0) return false;
  text.clear();
  for (size_t i = 0; i < n; ++i) {
    char16_t c = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    if (c < 0x20 || c == 0x7F) return false;
    text.push_back(c);
  }
  // Unpaired surrogates would not survive UTF-8.
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

void WriteHex(std::vector<UnicodeString>& out, UnicodeString prefix, const RegBytes& data) {
  static const char16_t* digits = u"0123456789abcdef";
  UnicodeString line = std::move(prefix);
  for (size_t i = 0; i < data.size(); ++i) {
    line.push_back(digits[data[i] >> 4]);
    line.push_back(digits[data[i] & 15]);
    if (i + 1 < data.size()) {
      line.push_back(u',');
      if (line.size() > 76) {
        line.push_back(u'\\');
        out.push_back(std::move(line));
        line = u"  ";
      }
    }
  }
  out.push_back(std::move(line));
}

// Names are written on one line: a line break in one cannot be stored in the file format.
void CheckName(std::u16string_view name) {
  for (char16_t c : name)
    if (c == u'\r' || c == u'\n' || c == 0)
      throw ERegistryException(u"a registry name cannot hold line breaks or zero characters: \"" + UnicodeString(name) + u"\"");
}

// The lines of one value. In a REGEDIT4 file the texts of hex(1), hex(2) and hex(7) data are
// 8-bit characters; false when such a text has no ANSI form.
bool FormatValue(std::vector<UnicodeString>& out, const RegValue& v, bool regedit4) {
  CheckName(v.Name);
  UnicodeString name = v.Name.empty() ? UnicodeString(u"@") : EscapeQuoted(v.Name);
  UnicodeString text;
  if (v.Type == REG_SZ && PlainText(v.Data, text)) {
    out.push_back(name + u"=" + EscapeQuoted(text));
  } else if (v.Type == REG_DWORD && v.Data.size() == 4) {
    uint32_t d = static_cast<uint32_t>(v.Data[0]) | (static_cast<uint32_t>(v.Data[1]) << 8) |
                 (static_cast<uint32_t>(v.Data[2]) << 16) | (static_cast<uint32_t>(v.Data[3]) << 24);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08x", d);
    out.push_back(name + u"=dword:" + ToU16(buf));
  } else if (v.Type == REG_BINARY) {
    WriteHex(out, name + u"=hex:", v.Data);
  } else {
    char buf[24];
    std::snprintf(buf, sizeof buf, "=hex(%x):", v.Type);
    if (regedit4 && (v.Type == REG_SZ || v.Type == REG_EXPAND_SZ || v.Type == REG_MULTI_SZ)) {
      if (v.Data.size() % 2 != 0) return false;
      UnicodeString wide = Utf16BytesToWide(std::string_view(reinterpret_cast<const char*>(v.Data.data()), v.Data.size()), false);
      AnsiString ansi = WideToAnsi(wide);
      if (AnsiToWide(ansi) != wide) return false;
      WriteHex(out, name + ToU16(buf), RegBytes(ansi.begin(), ansi.end()));
    } else {
      WriteHex(out, name + ToU16(buf), v.Data);
    }
  }
  return true;
}

// Every key of a tree in alphabetical pre-order (a key before its subkeys), with its path.
struct TreeKey {
  const RegKey* Key;
  UnicodeString Folded;   // upper-cased names below the root joined by "\"
  UnicodeString Display;  // "HKEY_..\Name\Name" as written in the file
  size_t Parent;          // index in the walk; npos for the root
};

std::vector<TreeKey> WalkTree(const RegKey& root, RootKey hive) {
  std::vector<TreeKey> out;
  std::vector<TreeKey> stack{{&root, u"", RootKeyName(hive), std::u16string::npos}};
  while (!stack.empty()) {
    TreeKey k = std::move(stack.back());
    stack.pop_back();
    const size_t self = out.size();
    for (auto it = k.Key->SubKeys.rbegin(); it != k.Key->SubKeys.rend(); ++it) {
      CheckName(it->second->Name);
      stack.push_back({it->second.get(), k.Folded.empty() ? it->first : k.Folded + u"\\" + it->first,
                       k.Display + u"\\" + it->second->Name, self});
    }
    out.push_back(std::move(k));
  }
  return out;
}

void AppendSection(std::vector<UnicodeString>& out, const TreeKey& k, bool regedit4, bool& ok) {
  if (!out.empty() && !out.back().empty()) out.emplace_back();
  out.push_back(u"[" + k.Display + u"]");
  for (const RegValue& v : k.Key->Values) ok = FormatValue(out, v, regedit4) && ok;
  out.emplace_back();
}

// The lines of a whole hive written anew as version 5.00.
std::vector<UnicodeString> FreshLines(const RegKey& root, RootKey hive) {
  std::vector<UnicodeString> out{u"Windows Registry Editor Version 5.00", u""};
  bool ok = true;
  for (const TreeKey& k : WalkTree(root, hive))
    if (k.Parent != std::u16string::npos || !k.Key->Values.empty()) AppendSection(out, k, false, ok);
  return out;
}

bool SameValue(const RegValue* a, const RegValue* b) { return a && b && a->Type == b->Type && a->Data == b->Data; }

// The file's lines with only the changes from `before` to `after` applied; nullopt when the
// file's own lines cannot carry the change (a REGEDIT4 file and a text without ANSI form).
std::optional<std::vector<UnicodeString>> PreservedLines(const RegFileLayout& layout, const RegKey& before,
                                                         const RegKey& after, RootKey hive) {
  const std::vector<UnicodeString>& lines = layout.Lines;
  std::vector<TreeKey> order = WalkTree(after, hive);
  std::unordered_map<UnicodeString, size_t> afterIndex;
  for (size_t i = 0; i < order.size(); ++i) afterIndex.emplace(order[i].Folded, i);
  std::unordered_map<UnicodeString, const RegKey*> beforeKeys;
  for (const TreeKey& k : WalkTree(before, hive)) beforeKeys.emplace(k.Folded, k.Key);

  // Which keys keep their section, and which need a new one: a key with values, or a key that
  // no section of its own or below would otherwise bring back when the file is read.
  std::vector<size_t> sectionOf(order.size(), std::u16string::npos);
  for (size_t s = 0; s < layout.Sections.size(); ++s)
    if (auto it = afterIndex.find(layout.Sections[s].Path); it != afterIndex.end()) sectionOf[it->second] = s;
  std::vector<bool> represented(order.size(), false), childRepresented(order.size(), false), fresh(order.size(), false);
  for (size_t i = order.size(); i-- > 0;) {
    const bool isRoot = order[i].Parent == std::u16string::npos;
    if (sectionOf[i] != std::u16string::npos) {
      represented[i] = true;
    } else if (!order[i].Key->Values.empty() || (!isRoot && !childRepresented[i])) {
      fresh[i] = represented[i] = true;
    }
    if ((represented[i] || childRepresented[i]) && !isRoot) childRepresented[order[i].Parent] = true;
  }
  // A new section follows the section of the key before it in alphabetical order.
  const size_t front = layout.Sections.size();
  std::vector<std::vector<size_t>> newAfter(layout.Sections.size() + 1);
  size_t previous = front;
  for (size_t i = 0; i < order.size(); ++i) {
    if (sectionOf[i] != std::u16string::npos) previous = sectionOf[i];
    if (fresh[i]) newAfter[previous].push_back(i);
  }

  bool ok = true;
  std::vector<UnicodeString> out;
  auto copy = [&](size_t from, size_t to) { out.insert(out.end(), lines.begin() + from, lines.begin() + to); };
  auto appendNew = [&](size_t slot) {
    for (size_t i : newAfter[slot]) AppendSection(out, order[i], layout.Regedit4, ok);
  };
  // New sections go before the comment lines that stand right above the next section: those
  // belong to it.
  auto commentsAbove = [&](size_t from, size_t to) {
    while (to > from && !TrimLeft(lines[to - 1]).empty() && TrimLeft(lines[to - 1])[0] == u';') --to;
    return to;
  };
  const size_t preamble = layout.Sections.empty() ? lines.size() : layout.Sections.front().Header;
  const size_t preambleComments = commentsAbove(1, preamble);
  copy(0, preambleComments);
  appendNew(front);
  copy(preambleComments, preamble);
  for (size_t s = 0; s < layout.Sections.size(); ++s) {
    const RegFileLayout::Section& section = layout.Sections[s];
    auto found = afterIndex.find(section.Path);
    if (found == afterIndex.end()) continue;  // the key is gone: so is its section
    const RegKey* now = order[found->second].Key;
    auto was = beforeKeys.find(section.Path);
    if (was == beforeKeys.end()) return std::nullopt;
    const RegKey* old = was->second;
    std::set<UnicodeString> listed;
    for (const auto& v : section.Values) listed.insert(UpperW(v.Name));
    auto appendAdded = [&] {
      for (const RegValue& v : now->Values)
        if (!listed.count(UpperW(v.Name))) ok = FormatValue(out, v, layout.Regedit4) && ok;
    };
    out.push_back(lines[section.Header]);
    if (section.Values.empty()) appendAdded();
    size_t line = section.Header + 1;
    for (size_t vi = 0; vi < section.Values.size(); ++vi) {
      const RegFileLayout::ValueLines& entry = section.Values[vi];
      copy(line, entry.First);  // comments and blank lines before it
      const RegValue* next = now->FindValue(entry.Name);
      if (SameValue(next, old->FindValue(entry.Name)))
        copy(entry.First, entry.Last + 1);
      else if (next)
        ok = FormatValue(out, *next, layout.Regedit4) && ok;
      line = entry.Last + 1;
      if (vi + 1 == section.Values.size()) appendAdded();
    }
    const size_t comments = commentsAbove(line, section.End);
    copy(line, comments);
    appendNew(s);
    copy(comments, section.End);
  }
  if (!ok) return std::nullopt;
  return out;
}

// The lines joined with the file's line ends in the file's encoding; false when an ANSI file
// cannot hold a character.
bool EncodeLines(const std::vector<UnicodeString>& lines, RegFileLayout::Encoding encoding, std::u16string_view lineEnd,
                 bool endsWithLineEnd, std::string& out) {
  using Enc = RegFileLayout::Encoding;
  UnicodeString text;
  for (size_t i = 0; i < lines.size(); ++i) {
    text += lines[i];
    if (i + 1 < lines.size() || endsWithLineEnd) text += lineEnd;
  }
  switch (encoding) {
    case Enc::Utf16Le: out = "\xFF\xFE" + WideToUtf16Bytes(text, false); return true;
    case Enc::Utf16Be: out = "\xFE\xFF" + WideToUtf16Bytes(text, true); return true;
    case Enc::Utf8Bom: out = "\xEF\xBB\xBF" + WideToUtf8(text); return true;
    case Enc::Utf8: out = WideToUtf8(text); return true;
    case Enc::Ansi:
      out = WideToAnsi(text);
      return AnsiToWide(out) == text;
  }
  return false;
}

}  // namespace

void ParseRegFile(const std::string& bytes, RootKey hive, RegKey& root, const std::string& fileName,
                  RegFileLayout* layout) {
  RegParser(hive, root, fileName, layout).Parse(bytes);
}

std::string WriteRegFile(const RegKey& root, RootKey hive) {
  std::string out;
  EncodeLines(FreshLines(root, hive), RegFileLayout::Encoding::Utf8, u"\n", true, out);
  return out;
}

std::string RewriteRegFile(const RegFileLayout& layout, const RegKey& before, const RegKey& after, RootKey hive) {
  std::string out;
  if (layout.Lines.empty()) return WriteRegFile(after, hive);
  if (layout.Preservable) {
    auto lines = PreservedLines(layout, before, after, hive);
    if (lines && EncodeLines(*lines, layout.TextEncoding, layout.LineEnd, layout.EndsWithLineEnd, out)) return out;
  }
  // Written anew; an ANSI file that cannot hold a character becomes UTF-8.
  std::vector<UnicodeString> lines = FreshLines(after, hive);
  if (!EncodeLines(lines, layout.TextEncoding, layout.LineEnd, true, out))
    EncodeLines(lines, RegFileLayout::Encoding::Utf8, layout.LineEnd, true, out);
  return out;
}

}  // namespace platform
