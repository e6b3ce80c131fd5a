// TqzRegistry over the file-backed hives: the GetValue type matrix, SetValue's stored forms and
// verification, deletion, renaming and listing.
#include "qzRegistry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "Clock.h"
#include "FormatSettings.h"
#include "SysUtils.h"
#include "TestSupport.h"

using namespace platform;

namespace {

const UnicodeString kKey = u"SOFTWARE\\kesta\\System\\";

class TqzRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto fs = InvariantFormatSettings();
    fs.ShortDateFormat = u"dd/mm/yyyy";
    fs.DateSeparator = u'/';
    SetFormatSettings(fs);
  }
  void TearDown() override { SetFormatSettings(InvariantFormatSettings()); }
  // Stores a raw value as another program would.
  static void Raw(const UnicodeString& name, uint32_t type, RegBytes data, HKEY root = HKEY_LOCAL_MACHINE) {
    Registry::Modify(root, [&](RegKey& r) {
      Registry::Create(r, kKey).SetValue({name, type, data});
      return true;
    });
  }
  static const RegValue* Stored(const UnicodeString& key, const UnicodeString& name, HKEY root = HKEY_LOCAL_MACHINE) {
    static std::shared_ptr<const RegKey> keep;
    keep = Registry::Read(root);
    const RegKey* k = Registry::Find(*keep, key);
    return k ? k->FindValue(name) : nullptr;
  }
  qztest::TempDir tmp_{"qzregistry"};
  const std::string dir_ = tmp_.Path();
  qztest::ScopedEnv registryDir_{"KESTA_REGISTRY_DIR", dir_};
};

// The third date format is the short date format with its "/" read as the locale's date
// separator: a date written under nl_NL ("06-05-2023") reads as a date.
TEST_F(TqzRegistryTest, DatesInTheLocaleShortDateFormat) {
  const TDateTime may6 = EncodeDate(2023, 5, 6);
  const struct {
    const char* locale;
    const char16_t* text;
  } rows[] = {{"nl_NL", u"06-05-2023"}, {"de_DE", u"06.05.2023"}, {"en_US", u"5/6/2023"}};
  for (const auto& row : rows) {
    SetFormatSettings(FormatSettingsForLocale(row.locale));
    Raw(u"LocaleDate", REG_SZ, RegSzBytes(row.text));
    EXPECT_EQ(TqzRegistry::GetValue(HKEY_LOCAL_MACHINE, kKey, u"LocaleDate", Variant::FromDate(1), false),
              Variant::FromDate(may6))
        << row.locale;
  }
}

TEST_F(TqzRegistryTest, GetValueTypesTheResultByValueAndDefault) {
  Raw(u"IsoDate", REG_SZ, RegSzBytes(u"2023-05-06"));
  Raw(u"GermanDate", REG_SZ, RegSzBytes(u"06.05.2023"));
  Raw(u"LocaleDate", REG_SZ, RegSzBytes(u"06/05/2023"));
  Raw(u"DateTime", REG_SZ, RegSzBytes(u"2023-05-06 13:14:15"));
  Raw(u"NoDate", REG_SZ, RegSzBytes(u"tomorrow"));
  Raw(u"Real", REG_SZ, RegSzBytes(u" 1.50000000000000E+0000"));
  Raw(u"CommaReal", REG_SZ, RegSzBytes(u"2,25"));
  Raw(u"NoReal", REG_SZ, RegSzBytes(u"abc"));
  Raw(u"One", REG_SZ, RegSzBytes(u"1"));
  Raw(u"Expand", REG_EXPAND_SZ, RegSzBytes(u"%TEMP%\\x"));
  Raw(u"Dword1", REG_DWORD, RegDwordBytes(1));
  Raw(u"DwordNeg", REG_DWORD, RegDwordBytes(0xFFFFFFFEu));
  Raw(u"BigEndian", REG_DWORD_BIG_ENDIAN, RegBytes{0, 0, 1, 0});
  Raw(u"Binary", REG_BINARY, RegBytes{'a', 0, 'b', 0, 0xFF});
  Raw(u"Multi", REG_MULTI_SZ, RegMultiSzBytes({u"a", u"b"}));
  Raw(u"MultiEmpty", REG_MULTI_SZ, RegBytes{0, 0});
  Raw(u"MultiNoData", REG_MULTI_SZ, RegBytes{});
  Raw(u"Qword", REG_QWORD, RegQwordBytes(1ull << 40));
  Raw(u"ShortDword", REG_DWORD, RegBytes{1, 2});

  const TDateTime may6 = EncodeDate(2023, 5, 6);
  struct Case {
    const char16_t* name;
    Variant def;
    Variant expected;
  };
  const Case cases[] = {
      {u"IsoDate", Variant::FromDate(1), Variant::FromDate(may6)},
      {u"GermanDate", Variant::FromDate(1), Variant::FromDate(may6)},
      {u"LocaleDate", Variant::FromDate(1), Variant::FromDate(may6)},
      {u"DateTime", Variant::FromDate(1), Variant::FromDate(may6 + EncodeTime(13, 14, 15, 0))},
      {u"NoDate", Variant::FromDate(1), Variant::FromDate(0)},
      {u"IsoDate", Variant(u"x"), Variant(u"2023-05-06")},
      {u"Real", Variant(0.0), Variant(1.5)},
      {u"Real", Variant::FromSingle(0), Variant(1.5)},
      {u"CommaReal", Variant::FromCurrency(0), Variant(2.25)},
      {u"NoReal", Variant(7.5), Variant(7.5)},
      {u"One", Variant(false), Variant(u"1")},
      {u"One", Variant(int32_t(5)), Variant(u"1")},
      {u"Expand", Variant(u""), Variant(u"%TEMP%\\x")},
      {u"Dword1", Variant(false), Variant(true)},
      {u"Dword1", Variant(u"x"), Variant(int32_t(1))},
      {u"DwordNeg", Variant(int32_t(0)), Variant(int32_t(-2))},
      {u"BigEndian", Variant(int32_t(0)), Variant(int32_t(256))},
      {u"Binary", Variant(u""), Variant::FromAnsi(std::string("a\0b\0\xFF", 5))},
      {u"Multi", Variant(u"d"), Variant(u"a\r\nb\r\n")},
      {u"MultiEmpty", Variant(u"d"), Variant(u"")},
      {u"MultiNoData", Variant(u"d"), Variant(u"d")},
      {u"Qword", Variant(int32_t(0)), Variant(int64_t(1) << 40)},
      {u"ShortDword", Variant(int32_t(9)), Variant(int32_t(9))},  // unreadable as its type
      {u"Missing", Variant(int32_t(9)), Variant(int32_t(9))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name)) + " default type " +
                 std::to_string(c.def.VarType()));
    Variant got = TqzRegistry::GetValue(HKEY_LOCAL_MACHINE, kKey, c.name, c.def, false);
    EXPECT_EQ(got.VarType(), c.expected.VarType());
    EXPECT_EQ(got, c.expected) << WideToUtf8(VarToStr(got));
  }
  // Names ignore case; only "\\" separates names in a path ("/" belongs to a name).
  EXPECT_EQ(TqzRegistry::GetValue(HKEY_LOCAL_MACHINE, u"software\\KESTA\\system", u"dword1", Variant(int32_t(0)), false),
            Variant(int32_t(1)));
  EXPECT_EQ(TqzRegistry::GetValue(HKEY_LOCAL_MACHINE, u"software/KESTA/system", u"dword1", Variant(int32_t(0)), false),
            Variant(int32_t(0)));
}

TEST_F(TqzRegistryTest, GetValueCreatesOnlyTheMissingValueOfAnExistingKey) {
  // Missing key: default, nothing created even with CanCreate.
  EXPECT_EQ(TqzRegistry::GetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Nowhere", u"X", Variant(int32_t(3)), true),
            Variant(int32_t(3)));
  EXPECT_FALSE(TqzRegistry::KeyExists(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Nowhere"));

  Raw(u"Other", REG_SZ, RegSzBytes(u"x"));
  EXPECT_EQ(TqzRegistry::GetValue(HKEY_LOCAL_MACHINE, kKey, u"Port", Variant(int32_t(4040)), true),
            Variant(int32_t(4040)));
  ASSERT_NE(Stored(kKey, u"Port"), nullptr);
  EXPECT_EQ(Stored(kKey, u"Port")->Type, REG_DWORD);
  EXPECT_EQ(Stored(kKey, u"Port")->Data, RegDwordBytes(4040));

  EXPECT_EQ(TqzRegistry::GetValue(HKEY_LOCAL_MACHINE, kKey, u"Since", Variant::FromDate(EncodeDate(2024, 2, 29)), true),
            Variant::FromDate(EncodeDate(2024, 2, 29)));
  EXPECT_EQ(Stored(kKey, u"Since")->Data, RegSzBytes(u"2024-02-29"));

  // Without CanCreate nothing is written.
  TqzRegistry::GetValue(HKEY_LOCAL_MACHINE, kKey, u"NotMe", Variant(u"d"), false);
  EXPECT_EQ(Stored(kKey, u"NotMe"), nullptr);
}

TEST_F(TqzRegistryTest, SetValueStoresEachKindAndVerifies) {
  const TDateTime withTime = EncodeDate(2023, 5, 6) + EncodeTime(7, 8, 9, 0);
  const TDateTime withMs = EncodeDate(2023, 5, 6) + EncodeTime(7, 8, 9, 250);
  struct Case {
    const char16_t* name;
    Variant value;
    uint32_t type;
    RegBytes data;
    Variant readDefault;  // reading back with this default gives `value` again
  };
  const Case cases[] = {
      {u"Int", Variant(int32_t(-5)), REG_DWORD, RegDwordBytes(0xFFFFFFFBu), Variant(int32_t(0))},
      {u"Int64", Variant(int64_t(2147483647)), REG_DWORD, RegDwordBytes(0x7FFFFFFF), Variant(int32_t(0))},
      {u"Byte", Variant::FromInteger(varByte, 200), REG_DWORD, RegDwordBytes(200), Variant(int32_t(0))},
      {u"Double", Variant(1.5), REG_SZ, RegSzBytes(u" 1.50000000000000E+0000"), Variant(0.0)},
      {u"Bool", Variant(true), REG_DWORD, RegDwordBytes(1), Variant(false)},
      {u"False", Variant(false), REG_DWORD, RegDwordBytes(0), Variant(true)},
      {u"Date", Variant::FromDate(EncodeDate(2023, 5, 6)), REG_SZ, RegSzBytes(u"2023-05-06"), Variant::FromDate(0)},
      {u"DateTime", Variant::FromDate(withTime), REG_SZ, RegSzBytes(u"2023-05-06 07:08:09"), Variant::FromDate(0)},
      {u"DateMs", Variant::FromDate(withMs), REG_SZ, RegSzBytes(u"2023-05-06 07:08:09.250"), Variant::FromDate(0)},
      {u"Text", Variant(u"Grüße \"x\""), REG_SZ, RegSzBytes(u"Grüße \"x\""), Variant(u"")},
      {u"Ansi", Variant::FromAnsi("caf\xE9"), REG_SZ, RegSzBytes(u"café"), Variant(u"")},
      {u"Empty", Variant(), REG_SZ, RegSzBytes(u""), Variant(u"")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name)));
    ASSERT_TRUE(TqzRegistry::SetValue(HKEY_CURRENT_USER, kKey, c.name, c.value, true));
    const RegValue* v = Stored(kKey, c.name, HKEY_CURRENT_USER);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->Type, c.type);
    EXPECT_EQ(v->Data, c.data);
    Variant back = TqzRegistry::GetValue(HKEY_CURRENT_USER, kKey, c.name, c.readDefault, false);
    if (c.value.VarType() == varDate) {
      EXPECT_EQ(back.VarType(), varDate);
      EXPECT_NEAR(back.AsDateTime(), c.value.AsDateTime(), 1e-9);  // the time of day is kept
    } else if (c.value.IsInteger() || c.value.VarType() == varBoolean || c.value.VarType() == varDouble) {
      EXPECT_EQ(back.AsDouble(), c.value.AsDouble());
    } else {
      EXPECT_EQ(VarToStr(back), VarToStr(c.value));
    }
  }
}

TEST_F(TqzRegistryTest, SetValueRefusesWhatItCannotStoreAndWritesNothing) {
  const Variant refused[] = {Variant(int64_t(1) << 31), Variant(int64_t(-2147483649LL)), Variant::Null(),
                             Variant::FromInteger(varLongWord, 4294967295LL)};
  for (const Variant& v : refused) {
    SCOPED_TRACE(v.VarType());
    EXPECT_FALSE(TqzRegistry::SetValue(HKEY_LOCAL_MACHINE, kKey, u"Bad", v, false));
    EXPECT_FALSE(TqzRegistry::ValueExists(HKEY_LOCAL_MACHINE, kKey, u"Bad"));
  }
  // A hive that cannot be written: False, not an exception.
  qztest::ScopedEnv unwritable("KESTA_REGISTRY_DIR", "/proc/no-such-dir");
  EXPECT_FALSE(TqzRegistry::SetValue(HKEY_LOCAL_MACHINE, kKey, u"X", Variant(u"y"), false));
}

TEST_F(TqzRegistryTest, DeleteValueAndDeleteKey) {
  Raw(u"A", REG_SZ, RegSzBytes(u"1"));
  EXPECT_TRUE(TqzRegistry::DeleteValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Missing", u"A", false));  // no key: True
  EXPECT_FALSE(TqzRegistry::DeleteValue(HKEY_LOCAL_MACHINE, kKey, u"Nope", false));
  EXPECT_TRUE(TqzRegistry::DeleteValue(HKEY_LOCAL_MACHINE, kKey, u"Nope", true));  // gone is gone
  EXPECT_TRUE(TqzRegistry::DeleteValue(HKEY_LOCAL_MACHINE, kKey, u"a", false));
  EXPECT_FALSE(TqzRegistry::ValueExists(HKEY_LOCAL_MACHINE, kKey, u"A"));

  ASSERT_TRUE(TqzRegistry::SetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\kesta\\Tree\\Deep\\Deeper", u"v", Variant(u"1"), false));
  EXPECT_TRUE(TqzRegistry::DeleteKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\kesta\\Tree"));
  EXPECT_FALSE(TqzRegistry::KeyExists(HKEY_LOCAL_MACHINE, u"SOFTWARE\\kesta\\Tree\\Deep"));
  EXPECT_TRUE(TqzRegistry::KeyExists(HKEY_LOCAL_MACHINE, u"SOFTWARE\\kesta"));
  EXPECT_FALSE(TqzRegistry::DeleteKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\kesta\\Tree"));
  EXPECT_FALSE(TqzRegistry::DeleteKey(HKEY_LOCAL_MACHINE, u""));
}

TEST_F(TqzRegistryTest, RenameKeyMovesTheSubtreeAndReportsWhenNothingHappened) {
  ASSERT_TRUE(TqzRegistry::SetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Old", u"top", Variant(int32_t(1)), false));
  ASSERT_TRUE(TqzRegistry::SetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Old\\Sub", u"inner", Variant(u"x"), false));
  ASSERT_TRUE(TqzRegistry::SetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Taken", u"keep", Variant(u"me"), false));

  EXPECT_FALSE(TqzRegistry::RenameKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Old", u"SOFTWARE\\taken"));  // exists
  EXPECT_TRUE(TqzRegistry::KeyExists(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Old\\Sub"));
  EXPECT_EQ(TqzRegistry::GetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Taken", u"keep", Variant(u""), false), Variant(u"me"));
  EXPECT_FALSE(TqzRegistry::RenameKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Absent", u"SOFTWARE\\New"));
  EXPECT_FALSE(TqzRegistry::KeyExists(HKEY_LOCAL_MACHINE, u"SOFTWARE\\New"));
  EXPECT_FALSE(TqzRegistry::RenameKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Old", u"SOFTWARE\\Old\\Sub\\Inside"));
  EXPECT_TRUE(TqzRegistry::KeyExists(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Old"));

  EXPECT_TRUE(TqzRegistry::RenameKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Old", u"SOFTWARE\\Moved\\Here"));
  EXPECT_FALSE(TqzRegistry::KeyExists(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Old"));
  EXPECT_EQ(TqzRegistry::GetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Moved\\Here", u"top", Variant(int32_t(0)), false),
            Variant(int32_t(1)));
  EXPECT_EQ(TqzRegistry::GetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Moved\\Here\\Sub", u"inner", Variant(u""), false),
            Variant(u"x"));
  TStringList names;
  ASSERT_TRUE(TqzRegistry::GetSubKeys(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Moved", names, false));
  ASSERT_EQ(names.Count(), 1);
  EXPECT_EQ(names[0], u"Here");  // the new name's case
}

TEST_F(TqzRegistryTest, ListingFillsOnlyForExistingKeys) {
  for (const char16_t* n : {u"beta", u"Alpha", u"gamma"})
    ASSERT_TRUE(TqzRegistry::SetValue(HKEY_LOCAL_MACHINE, UnicodeString(u"SOFTWARE\\L\\") + n, u"", Variant(u""), false));
  ASSERT_TRUE(TqzRegistry::SetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\L", u"z", Variant(u"1"), false));
  ASSERT_TRUE(TqzRegistry::SetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\L", u"a", Variant(u"2"), false));

  TStringList list;
  list.Add(u"old");
  ASSERT_TRUE(TqzRegistry::GetSubKeys(HKEY_LOCAL_MACHINE, u"SOFTWARE\\L", list, false));
  EXPECT_EQ(list.Text(), u"Alpha\r\nbeta\r\ngamma\r\n");  // alphabetical, contents replaced
  ASSERT_TRUE(TqzRegistry::GetAttributes(HKEY_LOCAL_MACHINE, u"SOFTWARE\\L", list, false));
  EXPECT_EQ(list.Text(), u"z\r\na\r\n");  // creation order

  // A missing key: without CanCreate nothing happens and the answer says so; with it the key is
  // created and the list left alone.
  for (bool values : {false, true}) {
    SCOPED_TRACE(values);
    UnicodeString key = values ? u"SOFTWARE\\NewA" : u"SOFTWARE\\NewS";
    TStringList l;
    l.Add(u"keep");
    auto call = [&](bool canCreate) {
      return values ? TqzRegistry::GetAttributes(HKEY_LOCAL_MACHINE, key, l, canCreate)
                    : TqzRegistry::GetSubKeys(HKEY_LOCAL_MACHINE, key, l, canCreate);
    };
    EXPECT_FALSE(call(false));
    EXPECT_FALSE(TqzRegistry::KeyExists(HKEY_LOCAL_MACHINE, key));
    EXPECT_TRUE(call(true));
    EXPECT_TRUE(TqzRegistry::KeyExists(HKEY_LOCAL_MACHINE, key));
    ASSERT_EQ(l.Count(), 1);
    EXPECT_EQ(l[0], u"keep");
  }
}

TEST_F(TqzRegistryTest, ClassIDAvailableLooksUnderClassesRoot) {
  TGUID g{0x00020906, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  EXPECT_FALSE(TqzRegistry::ClassIDAvailable(g));
  ASSERT_TRUE(TqzRegistry::SetValue(HKEY_CLASSES_ROOT, u"CLSID\\{00020906-0000-0000-C000-000000000046}", u"",
                                    Variant(u"Word.Document"), false));
  EXPECT_TRUE(TqzRegistry::ClassIDAvailable(g));
  EXPECT_TRUE(TqzRegistry::ClassIDAvailable(AnsiString("{00020906-0000-0000-c000-000000000046}")));
  EXPECT_FALSE(TqzRegistry::ClassIDAvailable(AnsiString("{00000000-0000-0000-0000-000000000000}")));
}

}  // namespace
