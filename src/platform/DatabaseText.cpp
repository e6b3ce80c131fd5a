#include "DatabaseText.h"

#include "CaseMap.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "SysUtils.h"
#include "Udl.h"

namespace platform {

namespace {

bool IsBlank(char16_t c) { return c <= 32; }

bool IsNameChar(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
         c == u'_' || c == u'$' || c == u'#' || c >= 0x80;
}

UnicodeString Quoted(const UnicodeString& s) { return u"\"" + s + u"\""; }

}  // namespace

UnicodeString NameKey(std::u16string_view name) { return UpperW(name); }

// ---------------------------------------------------------------------------------------------
// Connection strings

std::vector<ConnectionStringItem> ParseConnectionString(std::u16string_view text) {
  std::vector<ConnectionStringItem> items;
  size_t i = 0, n = text.size();
  while (i < n) {
    while (i < n && (IsBlank(text[i]) || text[i] == u';')) ++i;
    if (i >= n) break;
    size_t keyStart = i;
    while (i < n && text[i] != u'=' && text[i] != u';') ++i;
    ConnectionStringItem item;
    item.Key = Trim(text.substr(keyStart, i - keyStart));
    if (i < n && text[i] == u'=') {
      ++i;
      while (i < n && IsBlank(text[i])) ++i;
      if (i < n && (text[i] == u'{' || text[i] == u'"' || text[i] == u'\'')) {
        char16_t open = text[i];
        char16_t close = open == u'{' ? u'}' : open;
        ++i;
        while (i < n) {
          if (text[i] == close) {
            if (i + 1 < n && text[i + 1] == close) {  // doubled closer stands for itself
              item.Value.push_back(close);
              i += 2;
              continue;
            }
            ++i;
            break;
          }
          item.Value.push_back(text[i++]);
        }
        while (i < n && text[i] != u';') ++i;  // anything after the closing quote is dropped
      } else {
        size_t valueStart = i;
        while (i < n && text[i] != u';') ++i;
        item.Value = Trim(text.substr(valueStart, i - valueStart));
      }
    }
    if (!item.Key.empty()) items.push_back(std::move(item));
  }
  return items;
}

UnicodeString BuildConnectionString(const std::vector<ConnectionStringItem>& items) {
  UnicodeString out;
  for (const auto& item : items) {
    out += item.Key;
    out += u'=';
    // Braces around values with separators, braces or blanks ("{MariaDB Unicode}").
    bool brace = false;
    for (char16_t c : item.Value) brace = brace || c == u';' || c == u'{' || c == u'}' || IsBlank(c);
    if (brace) {
      out += u'{';
      for (char16_t c : item.Value) {
        out += c;
        if (c == u'}') out += u'}';
      }
      out += u'}';
    } else {
      out += item.Value;
    }
    out += u';';
  }
  return out;
}

// The file itself is read by the one data-link reader of the platform layer (Udl.h); here its
// failures become the database layer's errors.
UnicodeString ReadDataLinkFile(const UnicodeString& fileName) {
  UnicodeString line;
  try {
    line = ReadUdlConnectionString(WideToUtf8(fileName));
  } catch (const EInOutError&) {
    throw EOleException(u"The data link file " + Quoted(fileName) + u" cannot be read");
  }
  if (line.empty()) {
    throw EOleException(u"The data link file " + Quoted(fileName) +
                        u" holds no connection string in its [oledb] section");
  }
  return line;
}

namespace {

bool IsMsdasql(const UnicodeString& provider) {
  UnicodeString p = NameKey(Trim(provider));
  return p == u"MSDASQL" || p.rfind(u"MSDASQL.", 0) == 0;
}

UnicodeString Resolve(const UnicodeString& connectionString, int depth) {
  std::vector<ConnectionStringItem> items = ParseConnectionString(connectionString);
  for (const auto& item : items) {
    if (NameKey(item.Key) == u"FILE NAME") {
      if (depth > 0) {
        throw EOleException(u"The data link file " + Quoted(item.Value) +
                            u" is named inside another data link file");
      }
      return Resolve(ReadDataLinkFile(item.Value), depth + 1);
    }
  }

  bool msdasql = false;
  std::vector<ConnectionStringItem> out;
  for (auto& item : items) {
    if (NameKey(item.Key) == u"PROVIDER") {
      if (!IsMsdasql(item.Value)) {
        throw EOleException(u"The provider " + Quoted(item.Value) +
                            u" is not supported: use an ODBC connection string (DRIVER=... or "
                            u"DSN=...), optionally after Provider=MSDASQL;");
      }
      msdasql = true;
      continue;
    }
    out.push_back(std::move(item));
  }

  if (msdasql) {
    // The ODBC provider's own keywords, as it passes them on to the driver manager.
    std::vector<ConnectionStringItem> mapped;
    for (auto& item : out) {
      UnicodeString key = NameKey(item.Key);
      if (key == u"PERSIST SECURITY INFO") continue;
      if (key == u"EXTENDED PROPERTIES") {
        for (auto& inner : ParseConnectionString(item.Value)) mapped.push_back(std::move(inner));
        continue;
      }
      if (key == u"DATA SOURCE") item.Key = u"DSN";
      else if (key == u"USER ID") item.Key = u"UID";
      else if (key == u"PASSWORD") item.Key = u"PWD";
      else if (key == u"INITIAL CATALOG") item.Key = u"DATABASE";
      mapped.push_back(std::move(item));
    }
    // A DSN from "Data Source" next to a DRIVER from "Extended Properties": the driver wins.
    bool hasDriver = false;
    for (const auto& item : mapped) hasDriver = hasDriver || NameKey(item.Key) == u"DRIVER";
    out.clear();
    for (auto& item : mapped) {
      if (hasDriver && NameKey(item.Key) == u"DSN") continue;
      out.push_back(std::move(item));
    }
  }

  if (out.empty()) throw EOleException(u"No connection string given");
  return BuildConnectionString(out);
}

}  // namespace

UnicodeString ResolveConnectionString(const UnicodeString& connectionString) {
  return Resolve(connectionString, 0);
}

// ---------------------------------------------------------------------------------------------
// Parameters

ParsedStatement ParseParameters(std::u16string_view sql) {
  ParsedStatement result;
  UnicodeString& out = result.Sql;
  out.reserve(sql.size());
  size_t i = 0, n = sql.size();
  while (i < n) {
    char16_t c = sql[i];
    if (c == u'\'' || c == u'"' || c == u'`') {
      // Literal or quoted name; a doubled quote stands for itself.
      size_t start = i++;
      while (i < n) {
        if (sql[i] == c) {
          if (i + 1 < n && sql[i + 1] == c) {
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        ++i;
      }
      out.append(sql.substr(start, i - start));
    } else if (c == u'-' && i + 1 < n && sql[i + 1] == u'-') {
      size_t end = sql.find(u'\n', i);
      if (end == std::u16string_view::npos) end = n;
      out.append(sql.substr(i, end - i));
      i = end;
    } else if (c == u'/' && i + 1 < n && sql[i + 1] == u'*') {
      size_t end = sql.find(u"*/", i + 2);
      end = end == std::u16string_view::npos ? n : end + 2;
      out.append(sql.substr(i, end - i));
      i = end;
    } else if (c == u':' && i + 1 < n && sql[i + 1] == u':') {
      out.push_back(u':');
      i += 2;
    } else if (c == u':' && i + 1 < n && sql[i + 1] == u'"') {
      size_t end = sql.find(u'"', i + 2);
      if (end == std::u16string_view::npos) {
        out.append(sql.substr(i));
        break;
      }
      result.ParamNames.emplace_back(sql.substr(i + 2, end - i - 2));
      out.push_back(u'?');
      i = end + 1;
    } else if (c == u':' && i + 1 < n && IsNameChar(sql[i + 1])) {
      size_t start = ++i;
      while (i < n && IsNameChar(sql[i])) ++i;
      result.ParamNames.emplace_back(sql.substr(start, i - start));
      out.push_back(u'?');
    } else {
      out.push_back(c);
      ++i;
    }
  }
  return result;
}

// ---------------------------------------------------------------------------------------------
// Single table of a query

namespace {

struct Token {
  UnicodeString text;  // as written
  UnicodeString key;   // upper-cased, for keywords
  bool name = false;   // identifier, possibly quoted or dotted
  int depth = 0;       // parenthesis depth
};

std::vector<Token> Tokenize(std::u16string_view sql) {
  std::vector<Token> tokens;
  size_t i = 0, n = sql.size();
  int depth = 0;
  while (i < n) {
    char16_t c = sql[i];
    if (IsBlank(c)) {
      ++i;
    } else if (c == u'-' && i + 1 < n && sql[i + 1] == u'-') {
      while (i < n && sql[i] != u'\n') ++i;
    } else if (c == u'/' && i + 1 < n && sql[i + 1] == u'*') {
      size_t end = sql.find(u"*/", i + 2);
      i = end == std::u16string_view::npos ? n : end + 2;
    } else if (c == u'\'') {
      size_t start = i++;
      while (i < n) {
        if (sql[i] == u'\'') {
          if (i + 1 < n && sql[i + 1] == u'\'') {
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        ++i;
      }
      tokens.push_back({UnicodeString(sql.substr(start, i - start)), u"'", false, depth});
    } else if (IsNameChar(c) || c == u'"' || c == u'`' || c == u'[') {
      // A possibly dotted name made of plain and quoted parts.
      size_t start = i;
      for (;;) {
        if (i < n && (sql[i] == u'"' || sql[i] == u'`' || sql[i] == u'[')) {
          char16_t close = sql[i] == u'[' ? u']' : sql[i];
          size_t end = sql.find(close, i + 1);
          i = end == std::u16string_view::npos ? n : end + 1;
        } else {
          while (i < n && IsNameChar(sql[i])) ++i;
        }
        if (i < n && sql[i] == u'.') {
          ++i;
          continue;
        }
        break;
      }
      UnicodeString text(sql.substr(start, i - start));
      tokens.push_back({text, NameKey(text), true, depth});
    } else {
      if (c == u')') --depth;
      tokens.push_back({UnicodeString(1, c), UnicodeString(1, c), false, depth});
      if (c == u'(') ++depth;
      ++i;
    }
  }
  return tokens;
}

bool IsClauseKeyword(const UnicodeString& key) {
  static const char16_t* const words[] = {u"WHERE", u"ORDER", u"HAVING", u"LIMIT",
                                          u"FOR",   u"OFFSET", u"FETCH"};
  for (const char16_t* w : words) {
    if (key == w) return true;
  }
  return false;
}

bool IsReservedAfterTable(const UnicodeString& key) {
  static const char16_t* const words[] = {
      u"JOIN", u"INNER", u"LEFT", u"RIGHT", u"FULL", u"CROSS", u"NATURAL", u"OUTER", u"STRAIGHT_JOIN",
      u"UNION", u"INTERSECT", u"EXCEPT", u"GROUP", u"WINDOW", u"USING", u"ON"};
  for (const char16_t* w : words) {
    if (key == w) return true;
  }
  return IsClauseKeyword(key);
}

}  // namespace

UnicodeString SingleTableOfQuery(std::u16string_view sql) {
  std::vector<Token> t = Tokenize(sql);
  if (t.empty() || t[0].key != u"SELECT") return {};
  for (const auto& tok : t) {
    if (tok.depth == 0 && (tok.key == u"UNION" || tok.key == u"INTERSECT" || tok.key == u"EXCEPT" ||
                           tok.key == u"GROUP" || tok.key == u"DISTINCT")) {
      return {};
    }
  }
  size_t i = 1;
  while (i < t.size() && !(t[i].depth == 0 && t[i].key == u"FROM")) ++i;
  if (++i >= t.size() || !t[i].name) return {};
  UnicodeString table = t[i].text;
  ++i;
  // Optional alias.
  if (i < t.size() && t[i].key == u"AS") {
    ++i;
    if (i >= t.size() || !t[i].name) return {};
    ++i;
  } else if (i < t.size() && t[i].name && !IsReservedAfterTable(t[i].key)) {
    ++i;
  }
  if (i >= t.size()) return table;
  if (t[i].key == u";") return i + 1 == t.size() ? table : UnicodeString();
  if (IsClauseKeyword(t[i].key)) return table;
  return {};
}

}  // namespace platform
