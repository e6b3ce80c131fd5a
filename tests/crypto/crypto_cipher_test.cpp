// The library's codecs on top of DES: pass-key codec, logon form, key builders, script lock,
// URL-parameter codec with its envelopes, and the KQF value decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "CaseMap.h"
#include "Clock.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "TestSupport.h"
#include "qzBase64.h"
#include "qzCipher.h"
#include "qzCipherKeys.h"
#include "qzScriptTools.h"

namespace {

constexpr std::string_view kAlphabet = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

using qztest::RandomBytes;

// Random UTF-16 text of letters, digits, blanks, URL specials and some non-ASCII characters.
UnicodeString RandomText(std::mt19937_64& rng, std::size_t n) {
  static const std::u16string pool = u"abcXYZ019 _-.*+&=%?/#~\u00e4\u00df\u20ac\u4e2d\U0001F600";
  UnicodeString s;
  while (s.size() < n) {
    std::size_t i = rng() % (pool.size() - 1);  // the emoji is the last surrogate pair
    if (pool[i] >= 0xD800 && pool[i] < 0xDC00) {
      s += pool.substr(i, 2);
    } else if (pool[i] >= 0xDC00 && pool[i] < 0xE000) {
      continue;
    } else {
      s.push_back(pool[i]);
    }
  }
  return s;
}

// ---- pass-key codec and logon form ----------------------------------------------------------

TEST(PassKeyCodec, LengthsEmptyArgumentsAndRoundTrip) {
  EXPECT_EQ(TqzCipher::EncodeString("", "key"), "");
  EXPECT_EQ(TqzCipher::EncodeString("text", ""), "");
  EXPECT_EQ(TqzCipher::DecodeString("", "key"), "");
  EXPECT_EQ(TqzCipher::DecodeString("anything!", ""), "");
  EXPECT_EQ(TqzCipher::EncodeString("a", "key").size(), 11u);
  EXPECT_EQ(TqzCipher::EncodeString("abcdefgh", "key").size(), 22u);

  std::mt19937_64 rng(11);
  for (int i = 0; i < 200; ++i) {
    std::string text = RandomBytes(rng, 1 + rng() % 60);
    std::string key = RandomBytes(rng, 1 + rng() % 20, true);
    AnsiString enc = TqzCipher::EncodeString(text, key);
    ASSERT_EQ(enc.size(), (4 * 8 * (text.size() / 8 + 1) + 2) / 3);
    ASSERT_EQ(enc.find_first_not_of(kAlphabet), std::string::npos);
    ASSERT_EQ(TqzCipher::DecodeString(enc, key), text);
    ASSERT_EQ(TqzCipher::DecodePrivateString(TqzCipher::EncodePrivateString(text, key), key), text);
  }
  // Only the last byte for each of the eight key positions counts.
  EXPECT_EQ(TqzCipher::EncodeString("text", "XXXXXXXXabcdefgh"), TqzCipher::EncodeString("text", "abcdefgh"));
  // The private codec is keyed differently from the plain one.
  EXPECT_NE(TqzCipher::EncodePrivateString("text", "k"), TqzCipher::EncodeString("text", "k"));
  EXPECT_EQ(TqzCipher::EncodePrivateString("text", ""), "");
}

TEST(PassKeyCodec, DamagedTextsRaise) {
  AnsiString enc = TqzCipher::EncodeString("some secret text", "key");
  EXPECT_THROW(TqzCipher::DecodeString(enc.substr(0, 10), "key"), EInputError);
  EXPECT_THROW(TqzCipher::DecodeString(enc.substr(0, enc.size() - 1) + "=", "key"), EConvertError);
  EXPECT_THROW(TqzCipher::DecodeString(enc + "AB", "key"), EInputError);  // no whole blocks
  EXPECT_NE(TqzCipher::DecodeString(enc, "yek"), "some secret text");
}

TEST(Logon, RoundTripOfRandomPasswords) {
  std::mt19937_64 rng(12);
  for (int i = 0; i < 200; ++i) {
    std::string password = RandomBytes(rng, 1 + rng() % 40);
    AnsiString logon = TqzCipher::EncodeLogon(password);
    ASSERT_EQ(logon, TqzCipher::EncodeString("$$$" + password, TqzCipher::GenPassKeyLogon(TqzCipher::SecuID())));
    ASSERT_EQ(TqzCipher::DecodeLogon(logon), password);
  }
  EXPECT_EQ(TqzCipher::EncodeLogon(""), "");
}

TEST(Logon, PlainPasswordsAndUnreadableTexts) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"pass!word", ""},          // "!" is outside the text-form alphabet
      {"my.password", ""},        // so is "."
      {"Secret", ""},             // fewer than 11 symbols read as fewer than 8 bytes
      {"Abcdefghijk", "Abcdefghijk"},          // 11 symbols, 8 bytes, no "$$$" inside
      {"LongPlainPassword", "LongPlainPassword"},  // no whole blocks: plainly no logon form
      {"AbcdefghijkAbcdefghijk", "AbcdefghijkAbcdefghijk"},
  };
  for (const auto& [text, password] : cases) EXPECT_EQ(TqzCipher::DecodeLogon(text), password) << text;
}

TEST(KeyBuilders, FormAndSecuIdCheck) {
  const std::string_view id = TqzCipher::SecuID();
  ASSERT_EQ(id.size(), 67u);
  for (auto build : {&TqzCipher::GenPassKeyMega, &TqzCipher::GenPassKeyService, &TqzCipher::GenPassKeyInternal,
                     &TqzCipher::GenPassKeyLogon}) {
    AnsiString key = build(id);
    EXPECT_FALSE(key.empty());
    EXPECT_EQ(key.find_first_not_of("0123456789"), std::string::npos) << key;
    EXPECT_EQ(build(platform::UpperAscii(std::string(id))), "");
    EXPECT_EQ(build(""), "");
  }
  EXPECT_NE(TqzCipher::GenPassKeyMega(id), TqzCipher::GenPassKeyService(id));
  EXPECT_NE(TqzCipher::GenPassKeyService(id), TqzCipher::GenPassKeyInternal(id));
  AnsiString prefix = qzInternal::PrivateKeyPrefix();
  EXPECT_EQ(std::count(prefix.begin(), prefix.end(), '-'), 1);
  AnsiString common = TqzCipher::GenerateCommonEncryptionKey(id);
  ASSERT_EQ(common.size(), 16u);
  for (int i = 1; i < 16; ++i) EXPECT_EQ(common[i] - common[i - 1], common[1] - common[0]);
  EXPECT_EQ(TqzCipher::GenerateCommonSecurityKey(id), id);
  EXPECT_EQ(TqzCipher::GenerateCommonSecurityKey("x"), "");
  // A wrong SecuID gives an empty key, and the codec then gives the empty text.
  EXPECT_EQ(TqzCipher::DecodeString("Abcdefghijk", TqzCipher::GenPassKeyLogon("wrong")), "");
}

// ---- script lock ----------------------------------------------------------------------------

TEST(ScriptLock, PasswordsScriptsAndDamage) {
  struct C { std::string script, password; bool isProtected; };
  const C cases[] = {
      {"print('x')", "secret", true},
      {"a # b # c", "p#ss#", true},  // "#" in both password and script
      {"some script", "", false},
      {"", "pw", true},
  };
  for (const auto& c : cases) {
    AnsiString lock = TqzScriptTools::LockScript(c.script, c.password);
    EXPECT_EQ(TqzScriptTools::GetScriptPassword(lock), c.password);
    EXPECT_EQ(TqzScriptTools::IsScriptProtected(lock), c.isProtected);
    EXPECT_TRUE(TqzScriptTools::VerifySecuredScript(lock));
    EXPECT_EQ(TqzScriptTools::UnlockScript(lock, true), c.script);
    EXPECT_EQ(TqzScriptTools::UnlockScript(lock, false), lock);
  }
  EXPECT_TRUE(TqzScriptTools::VerifySecuredScript(""));
  EXPECT_EQ(TqzScriptTools::UnlockScript("", true), "");
  // A text whose Base64 reading holds characters outside the text-form alphabet.
  AnsiString foreign = TqzBase64::StrToBase64("not a lock!");
  EXPECT_FALSE(TqzScriptTools::VerifySecuredScript(foreign));
  EXPECT_FALSE(TqzScriptTools::IsScriptProtected(foreign));
  EXPECT_EQ(TqzScriptTools::GetScriptPassword(foreign), "");
  EXPECT_EQ(TqzScriptTools::UnlockScript(foreign, true), "not a lock!");
}

TEST(ScriptHelpers, N7ScriptsAndSourceLines) {
  const std::pair<UnicodeString, bool> n7[] = {
      {u"/ab", true}, {u"//a", false}, {u"/a", false}, {u"/ab\r\ncd", false}, {u"ab/", false}};
  for (const auto& [text, expected] : n7) EXPECT_EQ(TqzScriptTools::IsN7Script(text), expected);
  const std::pair<UnicodeString, int> lines[] = {
      {u"Error at Source position: 12, column 3", 12},
      {u"error (source position :   7,1)", 7},
      {u"Source position: 12", -1},
      {u"Source position: x,", -1},
      {u"no position here", -1},
  };
  for (const auto& [msg, line] : lines) EXPECT_EQ(TqzScriptTools::GetSourceLineFromException(msg), line);
}

// ---- URL escaping and the URL-parameter codec ------------------------------------------------

TEST(UrlEscaping, KeptCharactersAndSinglePass) {
  EXPECT_EQ(qzInternal::UrlEscape("aZ09*-._ %+/\xC3\xBC"), "aZ09*-._%20%25%2B%2F%C3%BC");
  EXPECT_EQ(qzInternal::UrlUnescape("%2520"), "%20");  // single pass
  EXPECT_EQ(qzInternal::UrlUnescape("%41%4a%4A"), "AJJ");  // either case of hex digits
  EXPECT_EQ(qzInternal::UrlUnescape("%G1%4%"), "%G1%4%");
  std::mt19937_64 rng(3);
  for (int i = 0; i < 200; ++i) {
    std::string s = RandomBytes(rng, rng() % 50);
    ASSERT_EQ(qzInternal::UrlUnescape(qzInternal::UrlEscape(s)), s);
  }
}

TEST(UrlParams, WrittenForms) {
  EXPECT_EQ(TqzCipher::EncodeUrlParams({}, qzCIPHENC_None), "");
  EXPECT_EQ(TqzCipher::EncodeUrlParams({}, qzCIPHENC_Base64), "encoding=base64");
  EXPECT_EQ(TqzCipher::EncodeUrlParams({}, qzCIPHENC_KQF), "encoding=kqf");
  EXPECT_EQ(TqzCipher::EncodeUrlParams({u"Name=Hans M\u00fcller", u"flag"}, qzCIPHENC_None),
            "Name=Hans%20M%C3%BCller&flag");
  EXPECT_EQ(TqzCipher::EncodeUrlParams({u"a=~~~>", u"b=?~?~", u"c="}, qzCIPHENC_Base64),
            "encoding=base64&a=fn5%2BPg%3D%3D&b=P34%2Ffg%3D%3D&c=");
  try {
    TqzCipher::EncodeUrlParams({u"a=1"}, qzCIPHENC_KQF);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, u"unsupported encoding");
  }
  AnsiString strong = TqzCipher::EncodeUrlParams({u"pw=geheim"}, qzCIPHENC_Strong);
  EXPECT_EQ(strong, "encoding=strong&pw=" + qzInternal::UrlEscape(TqzBase64::StrToBase64(TqzCipher::EncodeLogon("geheim"))));
  AnsiString mega = TqzCipher::EncodeUrlParams({u"a=1"}, qzCIPHENC_Mega);
  ASSERT_EQ(mega.rfind("encoding=mega&data=", 0), 0u);
  EXPECT_EQ(mega.find_first_of("+/%&", 19), std::string::npos);
}

TEST(UrlParams, ReadingRules) {
  TqzCipherEncoding enc = qzCIPHENC_Strong;
  EXPECT_TRUE(TqzCipher::DecodeUrlParams("", enc).empty());
  EXPECT_EQ(enc, qzCIPHENC_Strong);  // untouched by an empty query

  auto params = TqzCipher::DecodeUrlParams(" name =a+b%2Bc%2520&x&Stra%C3%9Fe=%c3%a4", enc);
  EXPECT_EQ(enc, qzCIPHENC_None);
  ASSERT_EQ(params.size(), 3u);
  EXPECT_EQ(params[0].Param, u"NAME");
  EXPECT_EQ(params[0].Value, u"a b+c%20");
  EXPECT_EQ(params[0].RawValue, "a b+c%20");
  EXPECT_EQ(params[1].Param, u"X");
  EXPECT_EQ(params[1].Value, u"");
  EXPECT_EQ(params[2].Param, u"STRASSE");  // full upper-casing
  EXPECT_EQ(params[2].Value, u"\u00e4");

  for (const char* q : {"Encoding=Mega", "encoding=MEGA"}) {
    params = TqzCipher::DecodeUrlParams(q, enc);
    EXPECT_EQ(enc, qzCIPHENC_Mega);
    ASSERT_EQ(params.size(), 1u);  // a lone "encoding" item is returned as parsed
    EXPECT_EQ(params[0].Param, u"ENCODING");
  }
  params = TqzCipher::DecodeUrlParams("encoding=b64&v=SGFsbG8g", enc);
  EXPECT_EQ(enc, qzCIPHENC_Base64);
  EXPECT_EQ(params[1].Value, u"Hallo");  // decoded and trimmed
  EXPECT_EQ(params[1].Encoding, qzCIPHENC_Base64);
  EXPECT_EQ(params[0].Encoding, qzCIPHENC_None);

  // An envelope without "data" gives an empty list; a damaged one raises the DES errors.
  EXPECT_TRUE(TqzCipher::DecodeUrlParams("encoding=service&other=1", enc).empty());
  EXPECT_THROW(TqzCipher::DecodeUrlParams("encoding=mega&data=" + TqzBase64::StrToBase64("short"), enc), Exception);
  EXPECT_THROW(TqzCipher::DecodeUrlParams("encoding=mega&data=" + TqzBase64::StrToBase64("foreign!chars!!"), enc),
               EConvertError);
}

class UrlEnvelopes : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    oldTz_ = tz ? tz : "";
    hadTz_ = tz != nullptr;
    setenv("TZ", "UTC", 1);
    tzset();
    SetNow(start_);
  }
  void TearDown() override {
    platform::ResetClock();
    if (hadTz_) setenv("TZ", oldTz_.c_str(), 1); else unsetenv("TZ");
    tzset();
  }
  static void SetNow(std::chrono::system_clock::time_point t) {
    platform::SetClock([t] { return t; });
  }
  // 6 May 2023, 12:00 UTC
  const std::chrono::system_clock::time_point start_ = std::chrono::system_clock::from_time_t(1683374400);
  std::string oldTz_;
  bool hadTz_ = false;
};

TEST_F(UrlEnvelopes, RoundTripInEveryEncoding) {
  std::mt19937_64 rng(77);
  const TqzCipherEncoding encodings[] = {qzCIPHENC_None, qzCIPHENC_Base64, qzCIPHENC_Strong, qzCIPHENC_Mega,
                                         qzCIPHENC_Service, qzCIPHENC_Internal};
  for (TqzCipherEncoding e : encodings) {
    for (int round = 0; round < 30; ++round) {
      std::vector<UnicodeString> items;
      std::size_t count = rng() % 5;
      for (std::size_t i = 0; i < count; ++i) {
        UnicodeString name = u"n" + platform::ToU16(std::to_string(i)) + RandomText(rng, rng() % 6);
        for (auto& c : name)
          if (c == u'=') c = u'_';
        items.push_back(rng() % 4 == 0 ? name : name + u"=" + RandomText(rng, rng() % 30));
      }
      AnsiString query = TqzCipher::EncodeUrlParams(items, e);
      TqzCipherEncoding got = qzCIPHENC_KQF;
      TqzCipherUrlParams params = TqzCipher::DecodeUrlParams(query, got);
      ASSERT_EQ(got, e == qzCIPHENC_None && query.empty() ? qzCIPHENC_KQF : e) << query;
      std::vector<std::pair<UnicodeString, UnicodeString>> expected, actual;
      for (const auto& item : items) {
        std::size_t eq = item.find(u'=');
        UnicodeString name = item.substr(0, eq);
        UnicodeString value = eq == UnicodeString::npos ? u"" : item.substr(eq + 1);
        // Names come back upper-cased (fully) and trimmed, values trimmed.
        UnicodeString upper;
        for (char16_t c : platform::Trim(name)) upper += c == u'\u00df' ? u"SS" : UnicodeString(1, platform::UpperChar(c));
        expected.emplace_back(platform::Trim(upper), platform::Trim(value));
      }
      for (const auto& p : params) {
        if (p.Param == u"ENCODING" || p.Param == u"BUILDTIME") continue;
        actual.emplace_back(p.Param, p.Value);
      }
      ASSERT_EQ(actual, expected) << query;
      std::size_t extra = params.size() - actual.size();
      ASSERT_EQ(extra, e == qzCIPHENC_None ? 0u : e == qzCIPHENC_Base64 || e == qzCIPHENC_Strong ? 1u : 2u);
    }
  }
}

TEST_F(UrlEnvelopes, InternalEnvelopesExpireAfterOneDay) {
  AnsiString query = TqzCipher::EncodeUrlParams({u"user=anna"}, qzCIPHENC_Internal);
  AnsiString mega = TqzCipher::EncodeUrlParams({u"user=anna"}, qzCIPHENC_Mega);
  TqzCipherEncoding enc;
  using std::chrono::hours;
  for (auto [offset, expired] : {std::pair{hours(23), false}, std::pair{hours(-5), false}, std::pair{hours(24), true},
                                 std::pair{hours(24 * 30), true}}) {
    SetNow(start_ + offset);
    if (expired) {
      try {
        TqzCipher::DecodeUrlParams(query, enc);
        ADD_FAILURE() << "accepted after " << offset.count() << " h";
      } catch (const Exception& e) {
        EXPECT_EQ(e.Message, u"url expired");
      }
    } else {
      auto params = TqzCipher::DecodeUrlParams(query, enc);
      EXPECT_EQ(enc, qzCIPHENC_Internal);
      ASSERT_EQ(params.size(), 3u);
      EXPECT_EQ(params[1].Value, u"anna");
    }
    // Mega envelopes carry the stamp but do not expire.
    EXPECT_EQ(TqzCipher::DecodeUrlParams(mega, enc).size(), 3u);
  }
  // An Internal envelope without a build time is refused.
  AnsiString inner = TqzCipher::EncodeUrlParams({u"user=anna"}, qzCIPHENC_Base64);
  AnsiString forged = "encoding=internal&data=" +
      TqzBase64::StrToBase64(TqzCipher::EncodeString(inner, TqzCipher::GenPassKeyInternal(TqzCipher::SecuID())));
  SetNow(start_);
  EXPECT_THROW(TqzCipher::DecodeUrlParams(forged, enc), Exception);
  // Each envelope opens only under its own key.
  AnsiString service = TqzCipher::EncodeUrlParams({u"user=anna"}, qzCIPHENC_Service);
  std::string asMega = "encoding=mega" + service.substr(service.find('&'));
  try {
    auto params = TqzCipher::DecodeUrlParams(asMega, enc);
    for (const auto& p : params) EXPECT_NE(p.Value, u"anna");
  } catch (const Exception&) {
  }
}

// ---- KQF value decoder ------------------------------------------------------------------------

// The inverse of the decoder for a chosen key row, written from the format: symbol k stands for
// output k - d (wrapping past 71) where d is the key digit of its position.
std::string KqfEncode(const std::vector<int>& outputs, int row) {
  namespace K = qzCipherKeys;
  std::string text;
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    int d = K::KqfKeyRows[row][i % 8] - '0';
    int k = outputs[i] + 1 + d;
    if (k > 71) k -= 71;
    text.push_back(K::KqfSymbols[static_cast<std::size_t>(k - 1)]);
  }
  return text;
}

TEST(KqfDecoder, InverseOfTheTablesAndDroppedCharacters) {
  namespace K = qzCipherKeys;
  EXPECT_EQ(TqzCipher::KQFEncDecoder(""), "");
  EXPECT_EQ(TqzCipher::KQFEncDecoder(" \t\r\n"), "");
  std::mt19937_64 rng(5);
  int checked = 0;
  for (int round = 0; round < 300; ++round) {
    std::vector<int> outputs(1 + rng() % 20);
    for (int& o : outputs) o = static_cast<int>(rng() % 71);
    // The row is named by the last symbol; pick the rows whose encoding names them.
    for (int row = 0; row < 10; ++row) {
      std::string text = KqfEncode(outputs, row);
      std::string_view lastOut = K::KqfOutputs[K::KqfSymbols.find(text.back())];
      int named = lastOut.size() == 1 && lastOut[0] >= '0' && lastOut[0] <= '9' ? lastOut[0] - '0' : 0;
      if (named != row) continue;
      std::string expected;
      for (int o : outputs) expected += K::KqfOutputs[o];
      if (expected.front() == ' ' || expected.back() == ' ') continue;  // trimmed away by design
      ASSERT_EQ(TqzCipher::KQFEncDecoder(text), expected);
      // Characters outside the table are dropped without advancing the key position.
      std::string noisy;
      for (char c : text) noisy += std::string("+") + c;
      ASSERT_EQ(TqzCipher::KQFEncDecoder(noisy), expected);
      ++checked;
    }
  }
  EXPECT_GT(checked, 50);
  // A KQF query decodes its values with the decoder and reads them as UTF-8.
  TqzCipherEncoding enc;
  std::string value = KqfEncode({10, 11, 12}, 0);
  auto params = TqzCipher::DecodeUrlParams("encoding=kqf&v=" + qzInternal::UrlEscape(value), enc);
  EXPECT_EQ(enc, qzCIPHENC_KQF);
  EXPECT_EQ(params[1].Value, platform::Trim(platform::Utf8ToWide(TqzCipher::KQFEncDecoder(value))));
}

}  // namespace
