#include "Database.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <sys/mman.h>
#include <limits>
#include <memory>
#include <type_traits>

#include "CaseMap.h"
#include "CodePage.h"
#include "DatabaseText.h"
#include "Exceptions.h"
#include "SysUtils.h"

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "unixODBC's SQLWCHAR must be 16-bit");

namespace platform {

namespace {

SQLWCHAR* W(const UnicodeString& s) {
  return reinterpret_cast<SQLWCHAR*>(const_cast<char16_t*>(s.c_str()));
}

// ---- diagnostics ---------------------------------------------------------------------------

struct DiagRecord {
  std::string State;  // five ASCII characters
  SQLINTEGER Native = 0;
  UnicodeString Text;
};

std::vector<DiagRecord> Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::vector<DiagRecord> out;
  if (handle == SQL_NULL_HANDLE) return out;
  for (SQLSMALLINT i = 1; i <= 20; ++i) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    std::vector<SQLWCHAR> msg(1024);
    SQLRETURN r = SQLGetDiagRecW(type, handle, i, state, &native, msg.data(),
                                 static_cast<SQLSMALLINT>(msg.size()), &len);
    if (r == SQL_SUCCESS_WITH_INFO && len >= static_cast<SQLSMALLINT>(msg.size())) {
      msg.resize(static_cast<size_t>(len) + 1);
      r = SQLGetDiagRecW(type, handle, i, state, &native, msg.data(),
                         static_cast<SQLSMALLINT>(msg.size()), &len);
    }
    if (!SQL_SUCCEEDED(r)) break;
    DiagRecord d;
    for (int k = 0; k < 5; ++k) d.State.push_back(static_cast<char>(state[k] & 0x7F));
    d.Native = native;
    size_t n = std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(len, 0)), msg.size() - 1);
    d.Text.assign(reinterpret_cast<const char16_t*>(msg.data()), n);
    out.push_back(std::move(d));
  }
  return out;
}

UnicodeString DiagText(const std::vector<DiagRecord>& records, const char16_t* fallback) {
  UnicodeString text;
  for (const auto& d : records) {
    if (d.State == "01004" || d.State == "01S07") continue;  // truncation notices
    if (!text.empty()) text += u"\n";
    text += d.Text;
  }
  return text.empty() ? UnicodeString(fallback) : text;
}

bool ContainsNoCase(const UnicodeString& text, std::u16string_view word) {
  return UpperW(text).find(UpperW(word)) != UnicodeString::npos;
}

// Errors that mean the link to the server is gone, so the connection must be opened anew.
bool IsLinkFailure(const std::vector<DiagRecord>& records) {
  for (const auto& d : records) {
    if (d.State == "08S01" || d.State == "08003" || d.State == "08007" || d.State == "08S02") {
      return true;
    }
    // MariaDB/MySQL client errors: server gone away, lost connection, connection killed,
    // client interaction timeout.
    if (d.Native == 2006 || d.Native == 2013 || d.Native == 2055 || d.Native == 1927 ||
        d.Native == 4031) {
      return true;
    }
    if (ContainsNoCase(d.Text, u"gone away") || ContainsNoCase(d.Text, u"lost connection") ||
        ContainsNoCase(d.Text, u"connection was killed") ||
        ContainsNoCase(d.Text, u"communication link failure")) {
      return true;
    }
  }
  return false;
}

// Errors that show that the statement never reached the server: the connection had already been
// killed (the server's notice is the answer), or the statement could not be sent at all. Such a
// statement may run again on a fresh connection, writes included.
bool NeverRan(const std::vector<DiagRecord>& records) {
  for (const auto& d : records)
    if (d.Native == 1927 || d.Native == 2006) return true;
  return false;
}

// ---- the ODBC environment, shared by every connection of the process -------------------------

SQLHENV Environment() {
  static SQLHENV env = [] {
    SQLHENV e = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &e))) {
      throw EOleException(u"The ODBC driver manager cannot be initialised");
    }
    SQLSetEnvAttr(e, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    return e;
  }();
  return env;
}

// ---- column types ---------------------------------------------------------------------------

uint16_t VarTypeOf(const DbConnection::Column& c) {
  switch (c.SqlType) {
    case SQL_TINYINT: return c.Unsigned ? varByte : varShortInt;
    case SQL_SMALLINT: return c.Unsigned ? varWord : varSmallint;
    case SQL_INTEGER: return c.Unsigned ? varLongWord : varInteger;
    case SQL_BIGINT: return c.Unsigned ? varUInt64 : varInt64;
    case SQL_BIT: return varBoolean;
    case SQL_REAL: return varSingle;
    case SQL_FLOAT: case SQL_DOUBLE: return varDouble;
    case SQL_DECIMAL: case SQL_NUMERIC:
      // Exact numerics are never rounded through a double: whole numbers as 64-bit integers
      // (values beyond 64 bits as their decimal text), up to four decimals as currency, more
      // decimals (or more digits) as the exact decimal text.
      if (c.Scale <= 0) return varInt64;
      if (c.Scale <= 4 && c.Size > 0 && c.Size <= 18) return varCurrency;
      return varOleStr;
    case SQL_TYPE_DATE: case SQL_TYPE_TIME: case SQL_TYPE_TIMESTAMP:
    case SQL_DATE: case SQL_TIME: case SQL_TIMESTAMP:
      return varDate;
    case SQL_BINARY: case SQL_VARBINARY: case SQL_LONGVARBINARY:
      return varArray | varByte;
    default:
      return varOleStr;
  }
}

bool FitsInteger(uint16_t type, int64_t v) {
  switch (type) {
    case varShortInt: return v >= -128 && v <= 127;
    case varByte: return v >= 0 && v <= 255;
    case varSmallint: return v >= -32768 && v <= 32767;
    case varWord: return v >= 0 && v <= 65535;
    case varInteger: return v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
    case varLongWord: return v >= 0 && v <= 0xFFFFFFFFLL;
    default: return true;
  }
}

struct StmtHandle {
  SQLHSTMT h = SQL_NULL_HSTMT;
  ~StmtHandle() {
    if (h != SQL_NULL_HSTMT) {
      SQLFreeStmt(h, SQL_CLOSE);
      SQLFreeHandle(SQL_HANDLE_STMT, h);
    }
  }
};

class StatementError {
 public:
  std::vector<DiagRecord> Records;
  UnicodeString Fallback;
};

[[noreturn]] void ThrowStmt(SQLHSTMT st, const char16_t* fallback) {
  throw StatementError{Diagnostics(SQL_HANDLE_STMT, st), fallback};
}

// Asks the kernel to back a large value's buffer with huge pages where it offers them: a value
// of many megabytes otherwise costs one page fault per 4 KiB as it is written, more than the
// copying itself. Only whole 2 MiB pages inside the buffer are advised; smaller buffers and
// kernels without transparent huge pages are left as they are.
void AdviseLargeBuffer(void* data, size_t bytes) {
  constexpr uintptr_t kHuge = uintptr_t(2) << 20;
  if (bytes < 2 * kHuge) return;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kHuge - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

// A statement's buffer for the first piece of every text or binary value: allocated once per
// statement and never zeroed (the driver writes it).
struct ReadBuffer {
  static constexpr SQLLEN kSize = SQLLEN(64) << 10;
  std::unique_ptr<char[]> data;
  char* Get() {
    if (!data) data = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(kSize));
    return data.get();
  }
};

// Reads a value of C type `cType` (SQL_C_WCHAR into UTF-16 units, SQL_C_CHAR or SQL_C_BINARY
// into bytes). The first piece goes into the statement's buffer; a longer value is read straight
// into its result, sized once from the length the driver reports (else grown by doubling), so a
// long value costs one pass over its bytes.
template <class Out>
Out ReadLongValue(SQLHSTMT st, SQLUSMALLINT col, SQLSMALLINT cType, ReadBuffer& buffer, bool& isNull) {
  // The terminating zero the driver writes after text.
  const SQLLEN kTerm = cType == SQL_C_WCHAR ? 2 : cType == SQL_C_CHAR ? 1 : 0;
  constexpr size_t kUnit = sizeof(typename Out::value_type);
  isNull = false;
  Out out;
  SQLLEN ind = 0;
  SQLRETURN r = SQLGetData(st, col, cType, buffer.Get(), ReadBuffer::kSize, &ind);
  if (r == SQL_NO_DATA) return out;
  if (!SQL_SUCCEEDED(r)) ThrowStmt(st, u"Reading a column failed");
  if (ind == SQL_NULL_DATA) {
    isNull = true;
    return out;
  }
  SQLLEN room = ReadBuffer::kSize - kTerm;
  bool truncated = r == SQL_SUCCESS_WITH_INFO && (ind == SQL_NO_TOTAL || ind > room);
  size_t got = static_cast<size_t>(truncated ? room : std::max<SQLLEN>(ind, 0));
  // The whole value when the length is known, else twice the first piece; units, with the room
  // for the terminating zero that the string keeps anyway.
  size_t want = truncated && ind != SQL_NO_TOTAL ? static_cast<size_t>(ind) : 2 * got;
  out.reserve((truncated ? want : got) / kUnit);
  AdviseLargeBuffer(out.data(), out.capacity() * kUnit);
  out.resize((truncated ? want : got) / kUnit);
  std::memcpy(out.data(), buffer.Get(), got);
  while (truncated) {
    if (out.size() * kUnit - got < 64) out.resize(out.size() * 2);
    room = static_cast<SQLLEN>(out.size() * kUnit - got);
    r = SQLGetData(st, col, cType, reinterpret_cast<char*>(out.data()) + got, room + kTerm, &ind);
    if (r == SQL_NO_DATA) break;
    if (!SQL_SUCCEEDED(r)) ThrowStmt(st, u"Reading a column failed");
    truncated = r == SQL_SUCCESS_WITH_INFO && (ind == SQL_NO_TOTAL || ind > room);
    got += static_cast<size_t>(truncated ? room : std::max<SQLLEN>(ind, 0));
    if (truncated && ind != SQL_NO_TOTAL && got + static_cast<size_t>(ind) - static_cast<size_t>(room) > out.size() * kUnit)
      out.resize((got + static_cast<size_t>(ind) - static_cast<size_t>(room)) / kUnit + 1);
  }
  out.resize(got / kUnit);
  return out;
}

// The number of bytes at the end of `piece` that begin a UTF-8 sequence the piece does not
// complete: they are kept for the next piece so that no character is split between two.
size_t IncompleteUtf8Tail(std::string_view piece) {
  const size_t n = piece.size();
  for (size_t back = 1; back <= 3 && back <= n; ++back) {
    const auto b = static_cast<unsigned char>(piece[n - back]);
    if ((b & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    const size_t len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    return len > back ? back : 0;
  }
  return 0;
}

// Reads a UTF-8 text value: the first piece goes into the statement's buffer; a longer value is
// decoded piece by piece from that buffer straight into its result, reserved once from the
// length the driver reports. No copy of the bytes is kept and the result is never zero-filled.
UnicodeString ReadUtf8Text(SQLHSTMT st, SQLUSMALLINT col, ReadBuffer& buffer, bool& isNull) {
  isNull = false;
  char* buf = buffer.Get();
  SQLLEN ind = 0;
  SQLRETURN r = SQLGetData(st, col, SQL_C_CHAR, buf, ReadBuffer::kSize, &ind);
  if (r == SQL_NO_DATA) return {};
  if (!SQL_SUCCEEDED(r)) ThrowStmt(st, u"Reading a column failed");
  if (ind == SQL_NULL_DATA) {
    isNull = true;
    return {};
  }
  SQLLEN room = ReadBuffer::kSize - 1;  // the driver ends each piece with a zero byte
  bool truncated = r == SQL_SUCCESS_WITH_INFO && (ind == SQL_NO_TOTAL || ind > room);
  if (!truncated) return Utf8ToWide(std::string_view(buf, static_cast<size_t>(std::max<SQLLEN>(ind, 0))));
  UnicodeString out;
  // A byte gives at most one UTF-16 unit.
  out.reserve(ind != SQL_NO_TOTAL ? static_cast<size_t>(ind) : 2 * static_cast<size_t>(room));
  AdviseLargeBuffer(out.data(), out.capacity() * sizeof(char16_t));
  // Drivers measure the rest of a value on every call (SQLite's runs strlen over it), so fixed
  // pieces would make a long value cost time in the square of its length. A value of known
  // length beyond four first pieces is read in pieces of a quarter of its length: at most five
  // calls, and a buffer of a quarter of the value besides the result.
  std::unique_ptr<char[]> large;
  SQLLEN cap = ReadBuffer::kSize;
  if (ind != SQL_NO_TOTAL && ind / 4 > cap) {
    cap = ind / 4 + 4;
    large = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(cap));
  }
  char* piece = buf;  // the piece being decoded
  size_t have = static_cast<size_t>(room);
  for (;;) {
    const size_t keep = truncated ? IncompleteUtf8Tail(std::string_view(piece, have)) : 0;
    AppendUtf8ToWide(out, std::string_view(piece, have - keep));
    if (!truncated) break;
    char* next = large ? large.get() : buf;
    std::memmove(next, piece + have - keep, keep);
    piece = next;
    r = SQLGetData(st, col, SQL_C_CHAR, piece + keep, cap - static_cast<SQLLEN>(keep), &ind);
    if (r == SQL_NO_DATA) {
      AppendUtf8ToWide(out, std::string_view(piece, keep));
      break;
    }
    if (!SQL_SUCCEEDED(r)) ThrowStmt(st, u"Reading a column failed");
    room = cap - static_cast<SQLLEN>(keep) - 1;
    truncated = r == SQL_SUCCESS_WITH_INFO && (ind == SQL_NO_TOTAL || ind > room);
    have = keep + static_cast<size_t>(truncated ? room : std::max<SQLLEN>(ind, 0));
  }
  return out;
}

// Reads a text value. Where the connection delivers character data as UTF-8 (found out when it
// opens), the bytes are read and decoded here: drivers convert to UTF-16 far more slowly (and
// MariaDB's several times more slowly) than they hand over their own bytes.
UnicodeString ReadText(SQLHSTMT st, SQLUSMALLINT col, bool utf8, ReadBuffer& buffer, bool& isNull) {
  if (!utf8) return ReadLongValue<UnicodeString>(st, col, SQL_C_WCHAR, buffer, isNull);
  return ReadUtf8Text(st, col, buffer, isNull);
}

TDateTime FromTimestamp(const SQL_TIMESTAMP_STRUCT& ts, bool& ok) {
  TDateTime date = 0, time = 0;
  ok = TryEncodeDate(ts.year, ts.month, ts.day, date) &&
       TryEncodeTime(ts.hour, ts.minute, ts.second, static_cast<int>(ts.fraction / 1000000), time);
  return date >= 0 ? date + time : date - time;
}

// The value of a decimal text scaled by 10^scale ("-123.45" with scale 4 gives -1234500); false
// when the text is no plain decimal number, has more decimals than `scale` or does not fit.
bool ScaledDecimal(std::string_view raw, int scale, int64_t& out) {
  const AnsiString trimmed = Trim(raw);
  std::string_view text = trimmed;
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return false;
  const uint64_t limit = negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX);
  uint64_t v = 0;
  auto push = [&](unsigned digit) {
    if (v > (limit - digit) / 10) return false;
    v = v * 10 + digit;
    return true;
  };
  int decimals = -1;  // -1: no decimal point yet
  for (char ch : text) {
    if (ch == '.' && decimals < 0) {
      decimals = 0;
      continue;
    }
    if (ch < '0' || ch > '9') return false;
    if (decimals >= 0 && decimals == scale) {
      if (ch != '0') return false;  // trailing zeros beyond the scale change nothing
      continue;
    }
    if (decimals >= 0) ++decimals;
    if (!push(static_cast<unsigned>(ch - '0'))) return false;
  }
  for (int i = decimals < 0 ? 0 : decimals; i < scale; ++i)
    if (!push(0)) return false;
  out = !negative ? static_cast<int64_t>(v) : v == uint64_t(INT64_MAX) + 1 ? INT64_MIN : -static_cast<int64_t>(v);
  return true;
}

// ---- values of a column's type, shared by the one-value and the block reads ----------------

bool IsExactNumeric(const DbConnection::Column& c) { return c.SqlType == SQL_DECIMAL || c.SqlType == SQL_NUMERIC; }
bool IsTimeColumn(const DbConnection::Column& c) { return c.SqlType == SQL_TYPE_TIME || c.SqlType == SQL_TIME; }

// An exact numeric read as the driver's decimal text: whole numbers that fit become Int64,
// values that fit four decimals Currency, everything else stays the exact text.
Variant DecimalValue(const DbConnection::Column& c, const UnicodeString& text) {
  const std::string ascii = WideToAnsi(text);
  int64_t v = 0;
  if (c.VarType == varInt64 && ScaledDecimal(ascii, 0, v)) return Variant(v);
  if (c.VarType == varCurrency && ScaledDecimal(ascii, 4, v)) return Variant::FromCurrencyScaled(v);
  return Variant::FromOleStr(UnicodeString(Trim(std::u16string_view(text))));
}

Variant IntegerValue(const DbConnection::Column& c, int64_t v) {
  return Variant::FromInteger(FitsInteger(c.VarType, v) ? c.VarType : static_cast<uint16_t>(varInt64), v);
}

Variant TimeValue(const SQL_TIME_STRUCT& t) {
  TDateTime v = 0;
  if (!TryEncodeTime(t.hour, t.minute, t.second, 0, v)) return Variant::Null();
  return Variant::FromDate(v);
}

Variant TimestampValue(const SQL_TIMESTAMP_STRUCT& ts) {
  bool ok = false;
  TDateTime v = FromTimestamp(ts, ok);
  // A zero date ("0000-00-00") has no day number: it reads as no date.
  return ok ? Variant::FromDate(v) : Variant::Null();
}

// Reads one fixed-size value with SQLGetData; false when it is NULL.
template <class T>
bool GetFixed(SQLHSTMT st, SQLUSMALLINT col, SQLSMALLINT cType, T& v) {
  SQLLEN ind = 0;
  SQLRETURN r = SQLGetData(st, col, cType, &v, sizeof v, &ind);
  if (!SQL_SUCCEEDED(r)) ThrowStmt(st, u"Reading a column failed");
  return ind != SQL_NULL_DATA;
}

Variant ReadValue(SQLHSTMT st, SQLUSMALLINT col, const DbConnection::Column& c, bool utf8, ReadBuffer& buffer) {
  bool isNull = false;
  if (IsExactNumeric(c)) {
    const UnicodeString text = ReadText(st, col, utf8, buffer, isNull);
    return isNull ? Variant::Null() : DecimalValue(c, text);
  }
  switch (c.VarType) {
    case varShortInt: case varByte: case varSmallint: case varWord: case varInteger:
    case varLongWord: case varInt64: {
      int64_t v = 0;
      return GetFixed(st, col, SQL_C_SBIGINT, v) ? IntegerValue(c, v) : Variant::Null();
    }
    case varUInt64: {
      uint64_t v = 0;
      return GetFixed(st, col, SQL_C_UBIGINT, v) ? Variant(v) : Variant::Null();
    }
    case varBoolean: {
      unsigned char v = 0;
      return GetFixed(st, col, SQL_C_BIT, v) ? Variant(v != 0) : Variant::Null();
    }
    case varSingle: case varDouble: {
      double v = 0;
      if (!GetFixed(st, col, SQL_C_DOUBLE, v)) return Variant::Null();
      return c.VarType == varSingle ? Variant::FromSingle(static_cast<float>(v)) : Variant(v);
    }
    case varDate: {
      if (IsTimeColumn(c)) {
        SQL_TIME_STRUCT t{};
        return GetFixed(st, col, SQL_C_TYPE_TIME, t) ? TimeValue(t) : Variant::Null();
      }
      SQL_TIMESTAMP_STRUCT ts{};
      return GetFixed(st, col, SQL_C_TYPE_TIMESTAMP, ts) ? TimestampValue(ts) : Variant::Null();
    }
    case varArray | varByte: {
      std::string bytes = ReadLongValue<std::string>(st, col, SQL_C_BINARY, buffer, isNull);
      return isNull ? Variant::Null() : Variant::FromBytes(std::move(bytes));
    }
    default: {
      UnicodeString text = ReadText(st, col, utf8, buffer, isNull);
      return isNull ? Variant::Null() : Variant::FromOleStr(std::move(text));
    }
  }
}

// ---- block reads -----------------------------------------------------------------------------

// A result whose columns all have a small fixed size is fetched many rows at a time into bound
// column arrays: one driver call per block instead of one per value. Text columns are bound
// with room for their declared length; a value longer than that (SQLite does not enforce
// declared lengths) ends the block read, and the statement is read again value by value.
class BlockReader {
 public:
  static constexpr SQLULEN kRows = 256;
  static constexpr uint64_t kMaxTextChars = 1024;

  // Whether every column can be bound with a fixed width.
  static bool Fits(const std::vector<DbConnection::Column>& columns) {
    for (const auto& c : columns) {
      if (Width(c, false) == 0) return false;
    }
    return !columns.empty();
  }

  BlockReader(SQLHSTMT st, const std::vector<DbConnection::Column>& columns, bool utf8)
      : st_(st), columns_(columns), utf8_(utf8), bound_(columns.size()) {}

  ~BlockReader() {
    SQLFreeStmt(st_, SQL_UNBIND);
    SQLSetStmtAttr(st_, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
    SQLSetStmtAttr(st_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(1)), 0);
  }

  enum class Outcome {
    Done,        // every row is in `rows`
    NotStarted,  // the driver does not take block reads; nothing was fetched
    TooLong,     // a text value did not fit its bound width; `rows` is incomplete
  };

  // Reads every row into `rows`.
  Outcome ReadAll(std::vector<std::vector<Variant>>& rows) {
    if (!SQL_SUCCEEDED(SQLSetStmtAttr(st_, SQL_ATTR_ROW_ARRAY_SIZE,
                                      reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(kRows)), 0)))
      return Outcome::NotStarted;
    SQLULEN rowsSet = 0;
    if (!SQL_SUCCEEDED(SQLGetStmtAttr(st_, SQL_ATTR_ROW_ARRAY_SIZE, &rowsSet, 0, nullptr)) || rowsSet != kRows)
      return Outcome::NotStarted;
    if (!SQL_SUCCEEDED(SQLSetStmtAttr(st_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched_, 0))) return Outcome::NotStarted;
    for (size_t i = 0; i < columns_.size(); ++i) {
      Bound& b = bound_[i];
      b.width = Width(columns_[i], utf8_);
      b.cType = CType(columns_[i], utf8_);
      b.data = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(b.width) * kRows);
      b.ind.resize(kRows);
      if (!SQL_SUCCEEDED(SQLBindCol(st_, static_cast<SQLUSMALLINT>(i + 1), b.cType, b.data.get(), b.width,
                                    b.ind.data())))
        return Outcome::NotStarted;
    }
    for (;;) {
      fetched_ = 0;
      SQLRETURN r = SQLFetch(st_);
      if (r == SQL_NO_DATA) return Outcome::Done;
      if (!SQL_SUCCEEDED(r)) ThrowStmt(st_, u"Fetching the result failed");
      for (SQLULEN row = 0; row < fetched_; ++row) {
        std::vector<Variant> values;
        values.reserve(columns_.size());
        for (size_t i = 0; i < columns_.size(); ++i) {
          bool fits = true;
          values.push_back(Value(columns_[i], bound_[i], row, fits));
          if (!fits) return Outcome::TooLong;
        }
        rows.push_back(std::move(values));
      }
    }
  }

 private:
  struct Bound {
    SQLSMALLINT cType = 0;
    SQLLEN width = 0;
    std::unique_ptr<char[]> data;
    std::vector<SQLLEN> ind;
  };

  static bool IsShortText(const DbConnection::Column& c) {
    switch (c.SqlType) {
      case SQL_CHAR: case SQL_VARCHAR: case SQL_WCHAR: case SQL_WVARCHAR:
        return c.Size > 0 && c.Size <= kMaxTextChars;
      default:
        return false;
    }
  }

  // Bytes per bound value; 0 when the column is not bound (long, binary or of unknown size).
  // A text column of n characters needs up to 4n bytes of UTF-8 or 2n UTF-16 units, plus the
  // terminating zero; a decimal text its digits, sign, point and a leading zero.
  static SQLLEN Width(const DbConnection::Column& c, bool utf8) {
    const SQLLEN term = utf8 ? 1 : 2;
    if (IsExactNumeric(c)) return c.Size > 0 && c.Size <= 64 ? static_cast<SQLLEN>(c.Size + 4) * (utf8 ? 1 : 2) + term : 0;
    switch (c.VarType) {
      case varShortInt: case varByte: case varSmallint: case varWord: case varInteger:
      case varLongWord: case varInt64: case varUInt64:
        return 8;
      case varBoolean: return 1;
      case varSingle: case varDouble: return sizeof(double);
      case varDate: return IsTimeColumn(c) ? sizeof(SQL_TIME_STRUCT) : sizeof(SQL_TIMESTAMP_STRUCT);
      case varOleStr: return IsShortText(c) ? static_cast<SQLLEN>(c.Size) * 4 + term : 0;
      default: return 0;
    }
  }

  static SQLSMALLINT CType(const DbConnection::Column& c, bool utf8) {
    if (IsExactNumeric(c)) return utf8 ? SQL_C_CHAR : SQL_C_WCHAR;
    switch (c.VarType) {
      case varUInt64: return SQL_C_UBIGINT;
      case varBoolean: return SQL_C_BIT;
      case varSingle: case varDouble: return SQL_C_DOUBLE;
      case varDate: return IsTimeColumn(c) ? SQL_C_TYPE_TIME : SQL_C_TYPE_TIMESTAMP;
      case varOleStr: return utf8 ? SQL_C_CHAR : SQL_C_WCHAR;
      default: return SQL_C_SBIGINT;
    }
  }

  Variant Value(const DbConnection::Column& c, const Bound& b, SQLULEN row, bool& fits) const {
    const SQLLEN ind = b.ind[row];
    if (ind == SQL_NULL_DATA) return Variant::Null();
    const char* p = b.data.get() + static_cast<size_t>(b.width) * row;
    if (b.cType == SQL_C_CHAR || b.cType == SQL_C_WCHAR) {
      const SQLLEN term = b.cType == SQL_C_CHAR ? 1 : 2;
      if (ind == SQL_NO_TOTAL || ind < 0 || ind > b.width - term) {
        fits = false;
        return Variant();
      }
      UnicodeString text = b.cType == SQL_C_CHAR
                               ? Utf8ToWide(std::string_view(p, static_cast<size_t>(ind)))
                               : UnicodeString(reinterpret_cast<const char16_t*>(p), static_cast<size_t>(ind) / 2);
      return IsExactNumeric(c) ? DecimalValue(c, text) : Variant::FromOleStr(std::move(text));
    }
    switch (b.cType) {
      case SQL_C_UBIGINT: return Variant(Load<uint64_t>(p));
      case SQL_C_BIT: return Variant(*p != 0);
      case SQL_C_DOUBLE: {
        const double v = Load<double>(p);
        return c.VarType == varSingle ? Variant::FromSingle(static_cast<float>(v)) : Variant(v);
      }
      case SQL_C_TYPE_TIME: return TimeValue(Load<SQL_TIME_STRUCT>(p));
      case SQL_C_TYPE_TIMESTAMP: return TimestampValue(Load<SQL_TIMESTAMP_STRUCT>(p));
      default: return IntegerValue(c, Load<int64_t>(p));
    }
  }

  template <class T>
  static T Load(const char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }

  SQLHSTMT st_;
  const std::vector<DbConnection::Column>& columns_;
  bool utf8_;
  std::vector<Bound> bound_;
  SQLULEN fetched_ = 0;
};

// ---- parameter binding ------------------------------------------------------------------------

struct Bound {
  SQLSMALLINT cType = SQL_C_WCHAR;
  SQLSMALLINT sqlType = SQL_WVARCHAR;
  SQLULEN size = 1;
  SQLSMALLINT digits = 0;
  UnicodeString text;
  std::string bytes;
  int64_t i = 0;
  uint64_t u = 0;
  double d = 0;
  SQL_TIMESTAMP_STRUCT ts{};
  SQLLEN ind = 0;
  void* ptr = nullptr;
  SQLLEN bufLen = 0;
};

void Prepare(Bound& b, const Variant& v, int position) {
  if (v.IsArray()) {
    if (v.VarType() != (varArray | varByte)) {
      throw EOleException(u"Parameter " + IntToStr(position) + u": values of type " +
                          VarTypeName(v.VarType()) + u" cannot be passed to the database");
    }
    b.bytes = v.AsBytes();
    b.cType = SQL_C_BINARY;
    b.sqlType = b.bytes.size() > 8000 ? SQL_LONGVARBINARY : SQL_VARBINARY;
    b.size = std::max<SQLULEN>(b.bytes.size(), 1);
    b.ind = static_cast<SQLLEN>(b.bytes.size());
    b.ptr = b.bytes.data();
    b.bufLen = b.ind;
    return;
  }
  switch (v.BaseType()) {
    case varEmpty:
    case varNull:
      b.cType = SQL_C_WCHAR;
      b.sqlType = SQL_WVARCHAR;
      b.ind = SQL_NULL_DATA;
      b.ptr = nullptr;
      return;
    case varBoolean:
      b.cType = SQL_C_SBIGINT;
      b.sqlType = SQL_INTEGER;
      b.i = v.AsBool() ? 1 : 0;
      b.ptr = &b.i;
      b.bufLen = sizeof b.i;
      b.size = 10;
      return;
    case varShortInt: case varByte: case varSmallint: case varWord: case varInteger:
    case varLongWord: case varInt64:
      b.cType = SQL_C_SBIGINT;
      b.sqlType = SQL_BIGINT;
      b.i = v.AsInt64();
      b.ptr = &b.i;
      b.bufLen = sizeof b.i;
      b.size = 19;
      return;
    case varUInt64:
      b.cType = SQL_C_UBIGINT;
      b.sqlType = SQL_BIGINT;
      b.u = static_cast<uint64_t>(v.AsInt64());
      b.ptr = &b.u;
      b.bufLen = sizeof b.u;
      b.size = 20;
      return;
    case varSingle: case varDouble: case varCurrency:
      b.cType = SQL_C_DOUBLE;
      b.sqlType = SQL_DOUBLE;
      b.d = v.AsDouble();
      b.ptr = &b.d;
      b.bufLen = sizeof b.d;
      b.size = 15;
      return;
    case varDate: {
      int y, mo, da, h, mi, s, ms;
      TDateTime t = v.AsDateTime();
      DecodeDate(t, y, mo, da);
      DecodeTime(t, h, mi, s, ms);
      b.ts.year = static_cast<SQLSMALLINT>(y);
      b.ts.month = static_cast<SQLUSMALLINT>(mo);
      b.ts.day = static_cast<SQLUSMALLINT>(da);
      b.ts.hour = static_cast<SQLUSMALLINT>(h);
      b.ts.minute = static_cast<SQLUSMALLINT>(mi);
      b.ts.second = static_cast<SQLUSMALLINT>(s);
      b.ts.fraction = static_cast<SQLUINTEGER>(ms) * 1000000u;
      b.cType = SQL_C_TYPE_TIMESTAMP;
      b.sqlType = SQL_TYPE_TIMESTAMP;
      b.size = 23;
      b.digits = 3;
      b.ptr = &b.ts;
      b.bufLen = sizeof b.ts;
      return;
    }
    case varString:
      b.text = AnsiToWide(v.AsBytes());
      break;
    case varOleStr: case varUString: case varStrArg: case varUStrArg:
      b.text = v.AsString();
      break;
    default:
      throw EOleException(u"Parameter " + IntToStr(position) + u": values of type " +
                          VarTypeName(v.VarType()) + u" cannot be passed to the database");
  }
  b.cType = SQL_C_WCHAR;
  b.sqlType = b.text.size() > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
  b.size = std::max<SQLULEN>(b.text.size(), 1);
  b.ind = static_cast<SQLLEN>(b.text.size() * sizeof(char16_t));
  b.ptr = b.text.data();
  b.bufLen = b.ind;
}

// The first word of a statement, upper-cased: reads may be repeated after a dropped link.
bool IsReadStatement(const UnicodeString& sql) {
  size_t i = 0;
  while (i < sql.size() && (sql[i] <= 32 || sql[i] == u'(')) ++i;
  size_t start = i;
  while (i < sql.size() && ((sql[i] >= u'a' && sql[i] <= u'z') || (sql[i] >= u'A' && sql[i] <= u'Z'))) ++i;
  UnicodeString word = UpperAscii(std::u16string_view(sql).substr(start, i - start));
  return word == u"SELECT" || word == u"WITH" || word == u"SHOW" || word == u"VALUES" ||
         word == u"DESCRIBE" || word == u"EXPLAIN" || word == u"PRAGMA";
}

UnicodeString Unquote(std::u16string_view part) {
  if (part.size() >= 2 && ((part.front() == u'"' && part.back() == u'"') ||
                           (part.front() == u'`' && part.back() == u'`') ||
                           (part.front() == u'[' && part.back() == u']'))) {
    return UnicodeString(part.substr(1, part.size() - 2));
  }
  return UnicodeString(part);
}

// Whether the connection hands character data over as UTF-8 when asked for SQL_C_CHAR: a text
// with a two- and a three-byte character must come back as exactly its UTF-8 bytes. A connection
// in another character set, or a database that does not take the statement, keeps UTF-16. The
// text goes in as a bound parameter: the SQLite driver narrows non-ASCII characters in statement
// text to single bytes, which would make the probe fail although its results are UTF-8. (The
// probe has no four-byte character: a connection whose character set has none replaces them on
// the server, the same for both ways of reading.)
bool DeliversUtf8(SQLHDBC dbc) {
  static constexpr char kExpected[] = "\xc3\xa9\xe2\x82\xac";
  StmtHandle st;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st.h))) return false;
  SQLWCHAR text[] = {0x00e9, 0x20ac, 0};
  SQLLEN textLen = 2 * sizeof(SQLWCHAR);
  if (!SQL_SUCCEEDED(SQLBindParameter(st.h, 1, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 2, 0, text,
                                      sizeof text, &textLen)))
    return false;
  UnicodeString sql = u"SELECT ?";
  if (!SQL_SUCCEEDED(SQLExecDirectW(st.h, W(sql), SQL_NTS))) return false;
  if (!SQL_SUCCEEDED(SQLFetch(st.h))) return false;
  char got[64] = {};
  SQLLEN ind = 0;
  if (SQLGetData(st.h, 1, SQL_C_CHAR, got, sizeof got, &ind) != SQL_SUCCESS) return false;
  return ind == static_cast<SQLLEN>(sizeof kExpected - 1) && std::memcmp(got, kExpected, sizeof kExpected - 1) == 0;
}

}  // namespace


// =============================================================================================
// DbConnection

struct DbConnection::Handles {
  SQLHDBC dbc = SQL_NULL_HDBC;
  UnicodeString dbmsName;
  UnicodeString quote;
  bool quoteKnown = false;
  bool utf8Text = false;  // character data is read as UTF-8 bytes (see DeliversUtf8)
};

DbConnection::DbConnection() = default;

DbConnection::DbConnection(UnicodeString connectionString)
    : connectionString_(std::move(connectionString)) {}

DbConnection::~DbConnection() {
  try {
    Close();
  } catch (...) {
  }
}

bool DbConnection::Connected() const { return h_ && h_->dbc != SQL_NULL_HDBC; }

void DbConnection::RaiseDbcError(const char16_t* context) {
  UnicodeString text = DiagText(Diagnostics(SQL_HANDLE_DBC, h_ ? h_->dbc : SQL_NULL_HANDLE), context);
  throw EOleException(text);
}

void DbConnection::Open() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (Connected()) return;
  UnicodeString odbc = ResolveConnectionString(connectionString_);
  auto h = std::make_unique<Handles>();
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, Environment(), &h->dbc))) {
    throw EOleException(u"A database connection handle cannot be allocated");
  }
  if (LoginTimeout >= 0) {
    SQLSetConnectAttr(h->dbc, SQL_ATTR_LOGIN_TIMEOUT,
                      reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(LoginTimeout)), 0);
  }
  SQLRETURN r = SQLDriverConnectW(h->dbc, nullptr, W(odbc), SQL_NTS, nullptr, 0, nullptr,
                                  SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(r)) {
    UnicodeString text = DiagText(Diagnostics(SQL_HANDLE_DBC, h->dbc), u"The database connection failed");
    SQLFreeHandle(SQL_HANDLE_DBC, h->dbc);
    throw EOleException(text);
  }
  SQLINTEGER level = 0;
  switch (IsolationLevel) {
    case DbIsolationLevel::ReadUncommitted: level = SQL_TXN_READ_UNCOMMITTED; break;
    case DbIsolationLevel::ReadCommitted: level = SQL_TXN_READ_COMMITTED; break;
    case DbIsolationLevel::RepeatableRead: level = SQL_TXN_REPEATABLE_READ; break;
    case DbIsolationLevel::Serializable: level = SQL_TXN_SERIALIZABLE; break;
    case DbIsolationLevel::Unspecified: break;
  }
  if (level != 0) {
    // A level the database does not offer leaves its own default in force.
    SQLSetConnectAttr(h->dbc, SQL_ATTR_TXN_ISOLATION,
                      reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(level)), 0);
  }
  h_ = std::move(h);
  inTransaction_ = false;
  ++openCount_;
  // MariaDB's and MySQL's drivers answer the dead-link question with a round trip to the server.
  SQLWCHAR name[128] = {};
  SQLSMALLINT len = 0;
  UnicodeString dbms;
  if (SQL_SUCCEEDED(SQLGetInfoW(h_->dbc, SQL_DBMS_NAME, name, sizeof name, &len)))
    dbms = UpperW(std::u16string_view(reinterpret_cast<const char16_t*>(name),
                                      std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(len, 0)) / 2, 127)));
  checkPings_ = dbms.find(u"MYSQL") != UnicodeString::npos || dbms.find(u"MARIADB") != UnicodeString::npos;
  h_->utf8Text = DeliversUtf8(h_->dbc);
  lastUsed_ = std::chrono::steady_clock::now();
}

void DbConnection::Close() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (!h_) return;
  if (h_->dbc != SQL_NULL_HDBC) {
    if (inTransaction_) SQLEndTran(SQL_HANDLE_DBC, h_->dbc, SQL_ROLLBACK);
    SQLDisconnect(h_->dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, h_->dbc);
  }
  h_.reset();
  inTransaction_ = false;
}

void DbConnection::MarkDead() {
  // The link is gone: drop the handle without waiting for the server.
  Close();
}

bool DbConnection::LinkCheckDue() const {
  // Drivers that answer from their own state are asked every time; drivers that ask the server
  // (a ping) only once the connection has been idle for a while.
  if (!checkPings_) return true;
  const auto idle = std::chrono::steady_clock::now() - lastUsed_;
  return idle >= std::chrono::milliseconds(LinkCheckIdleMs);
}

bool DbConnection::LinkIsDead() {
  SQLUINTEGER dead = SQL_CD_FALSE;
  SQLRETURN r = SQLGetConnectAttr(h_->dbc, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr);
  return SQL_SUCCEEDED(r) && dead == SQL_CD_TRUE;
}

bool DbConnection::LinkAlive() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (!Connected()) return false;
  if (LinkIsDead()) {
    MarkDead();
    return false;
  }
  return true;
}

void DbConnection::EnsureOpen() {
  if (!Connected()) {
    Open();
    return;
  }
  if (!inTransaction_ && LinkCheckDue() && LinkIsDead()) {
    MarkDead();
    Open();
  }
}

void DbConnection::BeginTrans() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  EnsureOpen();
  if (inTransaction_) throw EOleException(u"A transaction is already open on this connection");
  if (!SQL_SUCCEEDED(SQLSetConnectAttr(h_->dbc, SQL_ATTR_AUTOCOMMIT,
                                       reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0))) {
    RaiseDbcError(u"The transaction cannot be started");
  }
  inTransaction_ = true;
}

void DbConnection::CommitTrans() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (!inTransaction_ || !Connected()) throw EOleException(u"No transaction is open on this connection");
  SQLRETURN r = SQLEndTran(SQL_HANDLE_DBC, h_->dbc, SQL_COMMIT);
  if (!SQL_SUCCEEDED(r)) {
    auto records = Diagnostics(SQL_HANDLE_DBC, h_->dbc);
    UnicodeString text = DiagText(records, u"The transaction cannot be committed");
    if (IsLinkFailure(records)) {
      MarkDead();
      throw EOleException(text + u"\n(the connection was lost; the transaction did not complete)");
    }
    throw EOleException(text);
  }
  SQLSetConnectAttr(h_->dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
  inTransaction_ = false;
}

void DbConnection::RollbackTrans() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (!inTransaction_ || !Connected()) throw EOleException(u"No transaction is open on this connection");
  SQLRETURN r = SQLEndTran(SQL_HANDLE_DBC, h_->dbc, SQL_ROLLBACK);
  if (!SQL_SUCCEEDED(r)) {
    auto records = Diagnostics(SQL_HANDLE_DBC, h_->dbc);
    UnicodeString text = DiagText(records, u"The transaction cannot be rolled back");
    // Either way the work is not committed; a dead link leaves nothing to roll back.
    MarkDead();
    throw EOleException(text);
  }
  SQLSetConnectAttr(h_->dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
  inTransaction_ = false;
}

int64_t DbConnection::Execute(const UnicodeString& sql, int commandTimeout) {
  return Run(sql, {}, commandTimeout, false, false).RowsAffected;
}

UnicodeString DbConnection::InfoText(uint16_t infoType) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  EnsureOpen();
  SQLWCHAR buf[512] = {};
  SQLSMALLINT len = 0;
  SQLRETURN r = SQLGetInfoW(h_->dbc, infoType, buf, sizeof buf, &len);
  if (!SQL_SUCCEEDED(r)) return {};
  size_t n = std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(len, 0)) / 2, 511);
  return UnicodeString(reinterpret_cast<const char16_t*>(buf), n);
}

UnicodeString DbConnection::DbmsName() { return InfoText(SQL_DBMS_NAME); }
UnicodeString DbConnection::DbmsVersion() { return InfoText(SQL_DBMS_VER); }
UnicodeString DbConnection::DriverName() { return InfoText(SQL_DRIVER_NAME); }

UnicodeString DbConnection::IdentifierQuote() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  EnsureOpen();
  if (!h_->quoteKnown) {
    UnicodeString q = Trim(InfoText(SQL_IDENTIFIER_QUOTE_CHAR));
    h_->quote = q;
    h_->quoteKnown = true;
  }
  return h_->quote;
}

DbConnection::Result DbConnection::Run(const UnicodeString& sql, const std::vector<Variant>& values,
                                       int commandTimeout, bool fetch, bool retryOnDeadLink) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (commandTimeout < 0) commandTimeout = CommandTimeout;
  for (int attempt = 0;; ++attempt) {
    EnsureOpen();
    bool wasInTransaction = inTransaction_;
    bool dead = false;
    struct Used {
      DbConnection& c;
      ~Used() { c.lastUsed_ = std::chrono::steady_clock::now(); }
    } used{*this};
    try {
      return RunOnce(sql, values, commandTimeout, fetch, dead);
    } catch (const StatementError& e) {
      UnicodeString text = DiagText(e.Records, e.Fallback.c_str());
      if (dead) {
        MarkDead();
        if (wasInTransaction) {
          throw EOleException(text + u"\n(the connection was lost; the open transaction was rolled back)");
        }
        if (attempt == 0 && ((retryOnDeadLink && IsReadStatement(sql)) || NeverRan(e.Records))) continue;
      }
      throw EOleException(text);
    }
  }
}

DbConnection::Result DbConnection::RunOnce(const UnicodeString& sql, const std::vector<Variant>& values,
                                           int commandTimeout, bool fetch, bool& deadLink) {
  Result result;
  StmtHandle st;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, h_->dbc, &st.h))) {
    auto records = Diagnostics(SQL_HANDLE_DBC, h_->dbc);
    deadLink = IsLinkFailure(records);
    throw StatementError{records, u"A statement handle cannot be allocated"};
  }
  try {
    if (commandTimeout > 0) {
      SQLSetStmtAttr(st.h, SQL_ATTR_QUERY_TIMEOUT,
                     reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(commandTimeout)), 0);
    }
    SQLRETURN r;
    std::vector<Bound> bound(values.size());
    if (values.empty()) {
      r = SQLExecDirectW(st.h, W(sql), SQL_NTS);
    } else {
      r = SQLPrepareW(st.h, W(sql), SQL_NTS);
      if (!SQL_SUCCEEDED(r)) ThrowStmt(st.h, u"The statement cannot be prepared");
      for (size_t i = 0; i < values.size(); ++i) {
        Bound& b = bound[i];
        Prepare(b, values[i], static_cast<int>(i) + 1);
        r = SQLBindParameter(st.h, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, b.cType,
                             b.sqlType, b.size, b.digits, b.ptr, b.bufLen, &b.ind);
        if (!SQL_SUCCEEDED(r)) ThrowStmt(st.h, u"A parameter cannot be bound");
      }
      r = SQLExecute(st.h);
    }
    if (!SQL_SUCCEEDED(r) && r != SQL_NO_DATA) ThrowStmt(st.h, u"The statement failed");

    SQLSMALLINT ncols = 0;
    SQLLEN rows = -1;
    SQLRowCount(st.h, &rows);
    result.RowsAffected = rows;
    SQLNumResultCols(st.h, &ncols);
    const bool firstResult = ncols > 0;
    // A batch whose first part returns no rows: look for a later result set.
    while (ncols == 0 && fetch) {
      SQLRETURN m = SQLMoreResults(st.h);
      if (m == SQL_NO_DATA) break;
      if (!SQL_SUCCEEDED(m)) ThrowStmt(st.h, u"The statement failed");
      SQLNumResultCols(st.h, &ncols);
    }
    if (ncols > 0 && fetch) {
      result.HasResultSet = true;
      for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(ncols); ++c) {
        SQLWCHAR name[512] = {};
        SQLSMALLINT nameLen = 0, type = 0, scale = 0, nullable = SQL_NULLABLE_UNKNOWN;
        SQLULEN size = 0;
        r = SQLDescribeColW(st.h, c, name, 512, &nameLen, &type, &size, &scale, &nullable);
        if (!SQL_SUCCEEDED(r)) ThrowStmt(st.h, u"The result columns cannot be read");
        Column col;
        col.Name.assign(reinterpret_cast<const char16_t*>(name),
                        std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(nameLen, 0)), 511));
        col.SqlType = type;
        col.Size = size;
        col.Scale = scale;
        col.Nullable = nullable != SQL_NO_NULLS;
        SQLLEN isUnsigned = SQL_FALSE;
        if (SQL_SUCCEEDED(SQLColAttributeW(st.h, c, SQL_DESC_UNSIGNED, nullptr, 0, nullptr, &isUnsigned))) {
          // Only integer types carry a sign that matters here.
          col.Unsigned = isUnsigned == SQL_TRUE && (type == SQL_TINYINT || type == SQL_SMALLINT ||
                                                    type == SQL_INTEGER || type == SQL_BIGINT);
        }
        col.VarType = VarTypeOf(col);
        result.Columns.push_back(std::move(col));
      }
      bool read = false;
      if (firstResult && BlockReader::Fits(result.Columns) && IsReadStatement(sql)) {
        BlockReader::Outcome outcome;
        {
          BlockReader reader(st.h, result.Columns, h_->utf8Text);
          outcome = reader.ReadAll(result.Rows);
        }
        read = outcome == BlockReader::Outcome::Done;
        if (outcome == BlockReader::Outcome::TooLong) {
          // Read the result again value by value (a read statement runs again without harm).
          result.Rows.clear();
          SQLFreeStmt(st.h, SQL_CLOSE);
          r = values.empty() ? SQLExecDirectW(st.h, W(sql), SQL_NTS) : SQLExecute(st.h);
          if (!SQL_SUCCEEDED(r) && r != SQL_NO_DATA) ThrowStmt(st.h, u"The statement failed");
        }
      }
      ReadBuffer buffer;  // one per statement, for the first piece of every text value
      for (; !read;) {
        r = SQLFetch(st.h);
        if (r == SQL_NO_DATA) break;
        if (!SQL_SUCCEEDED(r)) ThrowStmt(st.h, u"Fetching the result failed");
        std::vector<Variant> row;
        row.reserve(result.Columns.size());
        for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(ncols); ++c) {
          row.push_back(ReadValue(st.h, c, result.Columns[c - 1], h_->utf8Text, buffer));
        }
        result.Rows.push_back(std::move(row));
      }
    }
  } catch (StatementError& e) {
    deadLink = IsLinkFailure(e.Records);
    throw;
  }
  return result;
}

std::vector<UnicodeString> DbConnection::PrimaryKeys(const UnicodeString& table) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  EnsureOpen();
  if (h_->dbmsName.empty()) h_->dbmsName = UpperW(InfoText(SQL_DBMS_NAME));
  UnicodeString prefix, name = table;
  size_t dot = table.rfind(u'.');
  if (dot != UnicodeString::npos) {
    prefix = Unquote(std::u16string_view(table).substr(0, dot));
    name = table.substr(dot + 1);
  }
  name = Unquote(name);
  // MySQL and MariaDB call a database a catalog; others put the prefix in the schema.
  bool catalogPrefix = h_->dbmsName.find(u"MYSQL") != UnicodeString::npos ||
                       h_->dbmsName.find(u"MARIADB") != UnicodeString::npos;

  auto query = [&](const UnicodeString& tableName) {
    std::vector<std::pair<int, UnicodeString>> keys;
    StmtHandle st;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, h_->dbc, &st.h))) return keys;
    SQLWCHAR* cat = nullptr;
    SQLWCHAR* sch = nullptr;
    SQLSMALLINT catLen = 0, schLen = 0;
    if (!prefix.empty()) {
      (catalogPrefix ? cat : sch) = W(prefix);
      (catalogPrefix ? catLen : schLen) = SQL_NTS;
    }
    SQLRETURN r = SQLPrimaryKeysW(st.h, cat, catLen, sch, schLen, W(tableName), SQL_NTS);
    if (!SQL_SUCCEEDED(r)) return keys;
    while (SQL_SUCCEEDED(SQLFetch(st.h))) {
      SQLWCHAR col[256] = {};
      SQLLEN ind = 0;
      SQLSMALLINT seq = 0;
      SQLLEN seqInd = 0;
      if (!SQL_SUCCEEDED(SQLGetData(st.h, 4, SQL_C_WCHAR, col, sizeof col, &ind)) || ind <= 0) continue;
      SQLGetData(st.h, 5, SQL_C_SSHORT, &seq, sizeof seq, &seqInd);
      keys.emplace_back(seq, UnicodeString(reinterpret_cast<const char16_t*>(col),
                                           std::min<size_t>(static_cast<size_t>(ind) / 2, 255)));
    }
    return keys;
  };
  auto keys = query(name);
  if (keys.empty() && LowerW(name) != name) keys = query(LowerW(name));
  std::stable_sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<UnicodeString> out;
  for (auto& k : keys) out.push_back(std::move(k.second));
  return out;
}

// =============================================================================================
// Parameters and statements

DbParameter& DbParameters::Items(int index) {
  if (index < 0 || index >= Count()) {
    throw EOleException(u"Parameter index " + IntToStr(index) + u" is out of range");
  }
  return *items_[static_cast<size_t>(index)];
}

DbParameter* DbParameters::FindParam(const UnicodeString& name) {
  UnicodeString key = NameKey(name);
  for (auto& p : items_) {
    if (NameKey(p->Name) == key) return p.get();
  }
  return nullptr;
}

DbParameter& DbParameters::ParamByName(const UnicodeString& name) {
  DbParameter* p = FindParam(name);
  if (!p) throw EOleException(u"Parameter " + name + u" not found");
  return *p;
}

void DbParameters::Assign(const std::vector<UnicodeString>& names) {
  std::vector<std::unique_ptr<DbParameter>> next;
  for (const auto& name : names) {
    UnicodeString key = NameKey(name);
    bool seen = false;
    for (const auto& p : next) seen = seen || NameKey(p->Name) == key;
    if (seen) continue;
    auto param = std::make_unique<DbParameter>(name);
    if (DbParameter* old = FindParam(name)) param->Value = old->Value;
    next.push_back(std::move(param));
  }
  items_ = std::move(next);
}

std::vector<Variant> DbParameters::ValuesFor(const std::vector<UnicodeString>& names) {
  std::vector<Variant> values;
  values.reserve(names.size());
  for (const auto& name : names) {
    DbParameter& p = ParamByName(name);
    if (p.Value.IsEmpty()) throw EOleException(u"No value given for parameter " + p.Name);
    values.push_back(p.Value);
  }
  return values;
}

DbParameters& DbStatement::Parameters() {
  Sync();
  return params_;
}

void DbStatement::Sync() {
  UnicodeString text = StatementText();
  if (parsed_ && text == parsedText_ && ParamCheck == parsedCheck_) return;
  if (ParamCheck) {
    ParsedStatement p = ParseParameters(text);
    markerNames_ = std::move(p.ParamNames);
    parsedSql_ = std::move(p.Sql);
  } else {
    markerNames_.clear();
    parsedSql_ = text;
  }
  params_.Assign(markerNames_);
  parsedText_ = std::move(text);
  parsedCheck_ = ParamCheck;
  parsed_ = true;
}

void DbStatement::Prepare(const UnicodeString& /*text*/, UnicodeString& sql, std::vector<Variant>& values) {
  Sync();
  if (Trim(parsedSql_).empty()) throw EOleException(u"No statement text given");
  sql = parsedSql_;
  values = params_.ValuesFor(markerNames_);
}

// =============================================================================================
// Fields

Variant DbField::Value() const { return owner_->CurrentValue(index_); }

int64_t DbField::AsInteger() const {
  Variant v = Value();
  if (v.IsEmptyOrNull()) return 0;
  try {
    return v.AsInt64();
  } catch (const Exception&) {
    throw EConvertError(u"'" + VarToStr(v) + u"' is not a valid integer value (field " + FieldName() + u")");
  }
}

double DbField::AsFloat() const {
  Variant v = Value();
  if (v.IsEmptyOrNull()) return 0;
  try {
    return v.AsDouble();
  } catch (const Exception&) {
    throw EConvertError(u"'" + VarToStr(v) + u"' is not a valid floating point value (field " + FieldName() + u")");
  }
}

bool DbField::AsBoolean() const {
  Variant v = Value();
  return v.IsEmptyOrNull() ? false : v.AsBool();
}

TDateTime DbField::AsDateTime() const {
  Variant v = Value();
  return v.IsEmptyOrNull() ? 0 : v.AsDateTime();
}

std::string DbField::AsBytes() const {
  Variant v = Value();
  if (v.IsEmptyOrNull()) return {};
  if (v.VarType() == (varArray | varByte) || v.VarType() == varString) return v.AsBytes();
  return WideToUtf8(v.AsString());
}

void DbField::SetValue(const Variant& value) { owner_->SetCurrentValue(index_, value); }

// =============================================================================================
// DbDataSet

DbDataSet::DbDataSet() = default;
DbDataSet::DbDataSet(DbConnection* connection) : connection_(connection) {}
DbDataSet::~DbDataSet() = default;

void DbDataSet::SetConnection(DbConnection* connection) {
  connection_ = connection;
}

void DbDataSet::SetConnectionString(UnicodeString value) {
  if (value != connectionString_) ownConnection_.reset();
  connectionString_ = std::move(value);
}

DbConnection& DbDataSet::Conn() {
  if (connection_) return *connection_;
  if (!ownConnection_) {
    if (Trim(connectionString_).empty()) {
      throw EOleException(u"The data set has neither a connection nor a connection string");
    }
    ownConnection_ = std::make_unique<DbConnection>(connectionString_);
  }
  return *ownConnection_;
}

void DbDataSet::CheckActive() const {
  if (state_ == DbDataSetState::Inactive) {
    throw EOleException(u"Cannot perform this operation on a closed dataset");
  }
}

void DbDataSet::Open() {
  if (Active()) return;
  DbConnection& conn = Conn();
  UnicodeString sql;
  std::vector<Variant> values;
  Prepare(StatementText(), sql, values);
  int timeout = CommandTimeout >= 0 ? CommandTimeout : conn.CommandTimeout;
  DbConnection::Result r = conn.Run(sql, values, timeout, true, true);
  if (!r.HasResultSet) {
    throw EOleException(u"The statement returns no result set (run it with ExecSQL)");
  }
  columns_ = std::move(r.Columns);
  rows_ = std::move(r.Rows);
  queryText_ = sql;
  primaryKeys_.clear();
  primaryKeysKnown_ = false;
  state_ = DbDataSetState::Browse;
  InitFieldDefs();
  cursor_ = 0;
  bof_ = true;
  eof_ = rows_.empty();
}

void DbDataSet::InitFieldDefs() {
  fields_.clear();
  for (size_t i = 0; i < columns_.size(); ++i) {
    fields_.push_back(std::make_unique<DbField>(this, static_cast<int>(i), columns_[i]));
  }
}

void DbDataSet::Close() {
  state_ = DbDataSetState::Inactive;
  fields_.clear();
  columns_.clear();
  rows_.clear();
  buffer_.clear();
  modified_.clear();
  cursor_ = 0;
  eof_ = bof_ = true;
}

int64_t DbDataSet::ExecSQL() {
  DbConnection& conn = Conn();
  UnicodeString sql;
  std::vector<Variant> values;
  Prepare(StatementText(), sql, values);
  int timeout = CommandTimeout >= 0 ? CommandTimeout : conn.CommandTimeout;
  return conn.Run(sql, values, timeout, false, false).RowsAffected;
}

void DbDataSet::CheckBrowseMode() {
  CheckActive();
  if (state_ == DbDataSetState::Edit || state_ == DbDataSetState::Insert) Post();
}

void DbDataSet::First() {
  CheckBrowseMode();
  cursor_ = 0;
  bof_ = true;
  eof_ = rows_.empty();
}

void DbDataSet::Next() {
  CheckBrowseMode();
  if (cursor_ + 1 < RecordCount()) {
    ++cursor_;
    bof_ = false;
    eof_ = false;
  } else {
    eof_ = true;
    bof_ = rows_.empty();
  }
}

void DbDataSet::Prior() {
  CheckBrowseMode();
  if (cursor_ > 0) {
    --cursor_;
    bof_ = false;
    eof_ = false;
  } else {
    bof_ = true;
    eof_ = rows_.empty();
  }
}

void DbDataSet::Last() {
  CheckBrowseMode();
  cursor_ = rows_.empty() ? 0 : RecordCount() - 1;
  eof_ = true;
  bof_ = rows_.empty();
}

void DbDataSet::SetRecNo(int recNo) {
  CheckBrowseMode();
  if (recNo < 1 || recNo > RecordCount()) {
    throw EOleException(u"Record number " + IntToStr(recNo) + u" is out of range");
  }
  cursor_ = recNo - 1;
  bof_ = eof_ = false;
}

DbField& DbDataSet::Fields(int index) {
  CheckActive();
  if (index < 0 || index >= FieldCount()) {
    throw EOleException(u"Field index " + IntToStr(index) + u" is out of range");
  }
  return *fields_[static_cast<size_t>(index)];
}

DbField* DbDataSet::FindField(const UnicodeString& name) {
  UnicodeString key = NameKey(name);
  for (auto& f : fields_) {
    if (NameKey(f->FieldName()) == key) return f.get();
  }
  return nullptr;
}

DbField& DbDataSet::FieldByName(const UnicodeString& name) {
  DbField* f = FindField(name);
  if (!f) throw EOleException(u"Field '" + name + u"' not found");
  return *f;
}

std::vector<UnicodeString> DbDataSet::FieldNames() const {
  std::vector<UnicodeString> names;
  for (const auto& f : fields_) names.push_back(f->FieldName());
  return names;
}

Variant DbDataSet::CurrentValue(int index) const {
  if (state_ == DbDataSetState::Edit || state_ == DbDataSetState::Insert) {
    return buffer_[static_cast<size_t>(index)];
  }
  if (state_ == DbDataSetState::Inactive || rows_.empty()) return Variant::Null();
  return rows_[static_cast<size_t>(cursor_)][static_cast<size_t>(index)];
}

void DbDataSet::SetCurrentValue(int index, const Variant& value) {
  if (state_ != DbDataSetState::Edit && state_ != DbDataSetState::Insert) {
    throw EOleException(u"Dataset not in edit or insert mode");
  }
  buffer_[static_cast<size_t>(index)] = value.IsEmpty() ? Variant::Null() : value;
  modified_[static_cast<size_t>(index)] = true;
}

void DbDataSet::Append() {
  CheckBrowseMode();
  buffer_.assign(columns_.size(), Variant::Null());
  modified_.assign(columns_.size(), false);
  savedCursor_ = cursor_;
  state_ = DbDataSetState::Insert;
}

void DbDataSet::Edit() {
  CheckActive();
  if (state_ == DbDataSetState::Edit || state_ == DbDataSetState::Insert) return;
  if (rows_.empty()) {
    Append();
    return;
  }
  buffer_ = rows_[static_cast<size_t>(cursor_)];
  modified_.assign(columns_.size(), false);
  savedCursor_ = cursor_;
  state_ = DbDataSetState::Edit;
}

void DbDataSet::Cancel() {
  if (state_ == DbDataSetState::Edit || state_ == DbDataSetState::Insert) {
    cursor_ = savedCursor_;
    state_ = DbDataSetState::Browse;
  }
  buffer_.clear();
  modified_.clear();
}

UnicodeString DbDataSet::TargetTable() {
  UnicodeString table = Trim(UpdateTable);
  if (table.empty()) table = SingleTableOfQuery(queryText_);
  if (table.empty()) {
    throw EOleException(u"The data set cannot be changed: its query does not read exactly one table");
  }
  return table;
}

namespace {

UnicodeString QuoteName(const UnicodeString& name, const UnicodeString& quote) {
  if (quote.empty()) return name;
  UnicodeString out = quote;
  for (char16_t c : name) {
    out += c;
    if (quote.size() == 1 && c == quote[0]) out += c;
  }
  return out + quote;
}

bool IsMySqlFamily(DbConnection& conn) {
  UnicodeString name = UpperW(conn.DbmsName());
  return name.find(u"MYSQL") != UnicodeString::npos || name.find(u"MARIADB") != UnicodeString::npos;
}

}  // namespace

DbDataSet::Where DbDataSet::LocateRow(DbConnection& conn, const UnicodeString& table,
                                      const UnicodeString& quote, const std::vector<Variant>& original) {
  if (!primaryKeysKnown_) {
    primaryKeys_ = conn.PrimaryKeys(table);
    primaryKeysKnown_ = true;
  }
  // By primary key when the result holds every key column with a value.
  std::vector<int> keyColumns;
  for (const auto& key : primaryKeys_) {
    DbField* f = FindField(key);
    if (!f || original[static_cast<size_t>(f->Index())].IsEmptyOrNull()) {
      keyColumns.clear();
      break;
    }
    keyColumns.push_back(f->Index());
  }
  if (primaryKeys_.empty()) keyColumns.clear();
  if (keyColumns.empty()) {
    for (int i = 0; i < FieldCount(); ++i) keyColumns.push_back(i);
  }
  Where w;
  for (int i : keyColumns) {
    if (!w.Sql.empty()) w.Sql += u" AND ";
    const Variant& v = original[static_cast<size_t>(i)];
    UnicodeString col = QuoteName(columns_[static_cast<size_t>(i)].Name, quote);
    if (v.IsEmptyOrNull()) {
      w.Sql += col + u" IS NULL";
    } else {
      w.Sql += col + u" = ?";
      w.Values.push_back(v);
    }
  }
  return w;
}

int64_t DbDataSet::RunChecked(DbConnection& conn, const UnicodeString& table, const Where& where,
                              const UnicodeString& sql, const std::vector<Variant>& values) {
  int timeout = CommandTimeout >= 0 ? CommandTimeout : conn.CommandTimeout;
  std::lock_guard<std::recursive_mutex> guard(conn.Lock());
  bool own = !conn.InTransaction();
  if (own) conn.BeginTrans();
  try {
    DbConnection::Result count =
        conn.Run(u"SELECT COUNT(*) FROM " + table + u" WHERE " + where.Sql, where.Values, timeout, true, false);
    int64_t matches = 0;
    if (!count.Rows.empty() && !count.Rows[0].empty()) {
      TryStrToInt64(VarToStr(count.Rows[0][0]), matches);
    }
    if (matches == 0) {
      throw EOleException(u"Row cannot be located for updating. Some values may have been changed "
                          u"since it was last read.");
    }
    if (matches > 1) {
      throw EOleException(u"The row to change is not unique in " + table + u": " + IntToStr(matches) +
                          u" rows have the same values; nothing was changed");
    }
    std::vector<Variant> all = values;
    all.insert(all.end(), where.Values.begin(), where.Values.end());
    int64_t changed = conn.Run(sql + u" WHERE " + where.Sql, all, timeout, false, false).RowsAffected;
    if (changed > 1) {
      throw EOleException(u"The change would have touched " + IntToStr(changed) + u" rows of " + table +
                          u"; it was undone");
    }
    if (own) conn.CommitTrans();
    return changed;
  } catch (...) {
    if (own && conn.InTransaction()) {
      try {
        conn.RollbackTrans();
      } catch (...) {
      }
    }
    throw;
  }
}

void DbDataSet::PostInsert(DbConnection& conn) {
  UnicodeString table = TargetTable();
  UnicodeString quote = conn.IdentifierQuote();
  UnicodeString cols, marks;
  std::vector<Variant> values;
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (!modified_[i]) continue;
    if (!cols.empty()) {
      cols += u", ";
      marks += u", ";
    }
    cols += QuoteName(columns_[i].Name, quote);
    marks += u"?";
    values.push_back(buffer_[i]);
  }
  UnicodeString sql;
  if (values.empty()) {
    sql = IsMySqlFamily(conn) ? u"INSERT INTO " + table + u" () VALUES ()"
                              : u"INSERT INTO " + table + u" DEFAULT VALUES";
  } else {
    sql = u"INSERT INTO " + table + u" (" + cols + u") VALUES (" + marks + u")";
  }
  int timeout = CommandTimeout >= 0 ? CommandTimeout : conn.CommandTimeout;
  conn.Run(sql, values, timeout, false, false);
  rows_.push_back(buffer_);
  cursor_ = RecordCount() - 1;
  bof_ = false;
  eof_ = false;
}

void DbDataSet::PostEdit(DbConnection& conn) {
  const std::vector<Variant>& original = rows_[static_cast<size_t>(cursor_)];
  UnicodeString quote = conn.IdentifierQuote();
  UnicodeString set;
  std::vector<Variant> values;
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (!modified_[i] || buffer_[i] == original[i]) continue;
    if (!set.empty()) set += u", ";
    set += QuoteName(columns_[i].Name, quote) + u" = ?";
    values.push_back(buffer_[i]);
  }
  if (values.empty()) return;  // nothing changed: nothing to write
  UnicodeString table = TargetTable();
  Where where = LocateRow(conn, table, quote, original);
  RunChecked(conn, table, where, u"UPDATE " + table + u" SET " + set, values);
  rows_[static_cast<size_t>(cursor_)] = buffer_;
}

void DbDataSet::Post() {
  CheckActive();
  if (state_ == DbDataSetState::Insert) {
    PostInsert(Conn());
  } else if (state_ == DbDataSetState::Edit) {
    PostEdit(Conn());
  } else {
    return;
  }
  state_ = DbDataSetState::Browse;
  buffer_.clear();
  modified_.clear();
}

void DbDataSet::Delete() {
  CheckActive();
  if (state_ == DbDataSetState::Insert) {
    Cancel();
    return;
  }
  if (state_ == DbDataSetState::Edit) Cancel();
  if (rows_.empty()) throw EOleException(u"Cannot perform this operation on an empty dataset");
  DbConnection& conn = Conn();
  UnicodeString table = TargetTable();
  Where where = LocateRow(conn, table, conn.IdentifierQuote(), rows_[static_cast<size_t>(cursor_)]);
  RunChecked(conn, table, where, u"DELETE FROM " + table, {});
  rows_.erase(rows_.begin() + cursor_);
  if (cursor_ >= RecordCount()) cursor_ = std::max(0, RecordCount() - 1);
  eof_ = rows_.empty();
  bof_ = rows_.empty();
}

// =============================================================================================
// DbCommand

DbCommand::~DbCommand() = default;

void DbCommand::SetConnectionString(UnicodeString value) {
  if (value != connectionString_) ownConnection_.reset();
  connectionString_ = std::move(value);
}

DbConnection& DbCommand::Conn() {
  if (connection_) return *connection_;
  if (!ownConnection_) {
    if (Trim(connectionString_).empty()) {
      throw EOleException(u"The command has neither a connection nor a connection string");
    }
    ownConnection_ = std::make_unique<DbConnection>(connectionString_);
  }
  return *ownConnection_;
}

int64_t DbCommand::Execute() {
  DbConnection& conn = Conn();
  UnicodeString sql;
  std::vector<Variant> values;
  Prepare(CommandText, sql, values);
  int timeout = CommandTimeout >= 0 ? CommandTimeout : conn.CommandTimeout;
  return conn.Run(sql, values, timeout, false, false).RowsAffected;
}

}  // namespace platform
