// Variant: a value with an explicit 16-bit type code. The codes are the COM variant codes plus
// 256 (8-bit string), 257 (any value) and 258 (UTF-16 string); the type code is authoritative,
// the stored C++ value only carries the data (integers of every width as int64, unsigned 64-bit
// as uint64, floats and dates as double, currency as int64 scaled by 10000, strings, bytes).
#pragma once

#include <cstdint>
#include <memory>
#include <variant>
#include <vector>

#include "SysUtils.h"
#include "Text.h"

enum : uint16_t {
  varEmpty = 0x0000,
  varNull = 0x0001,
  varSmallint = 0x0002,
  varInteger = 0x0003,
  varSingle = 0x0004,
  varDouble = 0x0005,
  varCurrency = 0x0006,
  varDate = 0x0007,
  varOleStr = 0x0008,
  varDispatch = 0x0009,
  varError = 0x000A,
  varBoolean = 0x000B,
  varVariant = 0x000C,
  varUnknown = 0x000D,
  varShortInt = 0x0010,
  varByte = 0x0011,
  varWord = 0x0012,
  varLongWord = 0x0013,
  varInt64 = 0x0014,
  varUInt64 = 0x0015,
  varStrArg = 0x0048,
  varUStrArg = 0x004A,
  varString = 0x0100,
  varAny = 0x0101,
  varUString = 0x0102,
  varTypeMask = 0x0FFF,
  varArray = 0x2000,
  varByRef = 0x4000,
};

class Variant {
 public:
  Variant() = default;  // Empty
  Variant(int32_t v) : type_(varInteger), value_(static_cast<int64_t>(v)) {}
  Variant(int64_t v) : type_(varInt64), value_(v) {}
  Variant(uint64_t v) : type_(varUInt64), value_(v) {}
  Variant(double v) : type_(varDouble), value_(v) {}
  Variant(bool v) : type_(varBoolean), value_(v) {}
  Variant(UnicodeString v) : type_(varUString), value_(std::move(v)) {}
  Variant(const char16_t* v) : type_(varUString), value_(UnicodeString(v)) {}

  static Variant Null();
  static Variant FromAnsi(AnsiString v);           // varString
  static Variant FromOleStr(UnicodeString v);      // varOleStr
  static Variant FromDate(TDateTime v);            // varDate
  static Variant FromCurrency(double v);           // varCurrency, rounded to 4 decimals
  static Variant FromCurrencyScaled(int64_t v);    // varCurrency, value * 10000
  static Variant FromSingle(float v);              // varSingle
  // An integer of the given integer type code (2, 3, 16..20); the value is cut to that width.
  static Variant FromInteger(uint16_t intType, int64_t v);
  // Binary data: a byte array (varArray | varByte).
  static Variant FromBytes(std::string bytes);
  // An array of variants (varArray | varVariant).
  static Variant FromArray(std::vector<Variant> items);

  uint16_t VarType() const { return type_; }
  uint16_t BaseType() const { return type_ & varTypeMask; }
  bool IsEmpty() const { return type_ == varEmpty; }
  bool IsNull() const { return type_ == varNull; }
  bool IsEmptyOrNull() const { return type_ == varEmpty || type_ == varNull; }
  bool IsArray() const { return (type_ & varArray) != 0; }
  bool IsString() const;   // 8, 72, 74, 256, 258
  bool IsNumeric() const;  // integer, float and currency codes
  bool IsInteger() const;
  bool IsFloat() const;    // 4, 5, 6

  // Conversions in the manner of the platform's variant casts: Empty gives "", 0, false;
  // Null and values that do not convert raise EVariantError. Texts of floats and dates follow
  // the process format settings.
  UnicodeString AsString() const;
  AnsiString AsAnsiString() const;
  int64_t AsInt64() const;
  int32_t AsInteger() const;
  double AsDouble() const;
  bool AsBool() const;
  TDateTime AsDateTime() const;
  int64_t AsCurrencyScaled() const;
  const std::string& AsBytes() const;              // byte arrays and 8-bit strings
  const std::vector<Variant>& AsArray() const;     // variant arrays

  // Same type code and same value.
  bool operator==(const Variant& other) const;
  bool operator!=(const Variant& other) const { return !(*this == other); }

 private:
  using Items = std::shared_ptr<const std::vector<Variant>>;
  uint16_t type_ = varEmpty;
  std::variant<std::monostate, int64_t, uint64_t, double, bool, UnicodeString, std::string, Items> value_;
};

// Lenient text of a variant: Empty and Null give "", anything else AsString().
UnicodeString VarToStr(const Variant& v);
// The platform's name of a type code for messages ("Null", "Integer", "String", ...).
UnicodeString VarTypeName(uint16_t type);

namespace platform {
// Formats a date-time with the platform's format letters (see FormatSettings.h); an empty format
// gives the short date followed by the long time, the time left out when it is midnight.
UnicodeString FormatDateTime(std::u16string_view format, TDateTime value);
// Float text in the platform's general form: up to 15 significant digits, the process decimal
// separator, scientific notation for very large or small values.
UnicodeString FloatToStr(double value);
}  // namespace platform
