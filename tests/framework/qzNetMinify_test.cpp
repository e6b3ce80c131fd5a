// The style-sheet and script minifiers (scripts checked by running them with node) and the XSS
// guard.
#include "qzNetMinify.h"

#include <gtest/gtest.h>

#include <string>

#include "CodePage.h"
#include "Exceptions.h"
#include "TestSupport.h"

namespace {

using W = TqzNetWebText;

std::string U8(const UnicodeString& s) { return platform::WideToUtf8(s); }

TEST(CompressCSS, DropsCommentsAndLineBreaksKeepsBangComments) {
  struct Case {
    UnicodeString in, out;
  } cases[] = {
      {u"a {\r\n  color: red; /* note */\r\n}\r\n", u"a { color: red;  } "},
      {u"a{}\n/*! (c) x */\nb{}", u"a{} \r\n/*! (c) x */\r\n b{} "},
      {u"/* one\r\n two\r\n three */x{}", u"x{} "},
      {u"a/*/b", u"ab "},              // "/*/" is a whole block
      {u"a/*x b", u"a/*x b "},         // a block that is never closed stays
      {u"a//**/*b*/c", u"ac "},        // a "/" and a "*" joined by a removed block open a new one
      {u"", u""},
      {u"\r\n\r\n", u"  "},
      {u"x{}\r/*! a */\r/*! b */", u"x{} \r\n/*! a */\r\n \r\n/*! b */\r\n "},
  };
  for (const auto& c : cases) EXPECT_EQ(U8(W::CompressCSS(c.in)), U8(c.out)) << U8(c.in);
}

TEST(CompressJavaScript, LineRulesOfTheMinifier) {
  struct Case {
    UnicodeString in, out;
  } cases[] = {
      {u"var a = 1; // one\r\nvar b = 2;", u"var a = 1; var b = 2;"},
      {u"a;\r\n/* x\r\n y\r\n z */\r\nb;", u"a;    b;"},
      {u"s = \"// no /* comment */\";", u"s = \"// no /* comment */\";"},
      {u"s = '/* kept */';  // gone", u"s = '/* kept */';"},
      {u"x = a / b / c;", u"x = a / b / c;"},
      {u"x = /ab+c'/.test(s); y = 'q'; // c", u"x = /ab+c'/.test(s); y = 'q';"},
      {u"/*! licence */\r\nvar a;", u"/*! licence */ var a;"},
      {u"/*! two\r\nlines */\r\nvar a;", u"/*! two\r\n lines */ var a;"},
      {u"f(); /* a */ g();", u"f();   g();"},
      {u"", u""},
  };
  for (const auto& c : cases) EXPECT_EQ(U8(W::CompressJavaScript(c.in)), U8(c.out)) << U8(c.in);
}

// Scripts that the minifier must leave working: node accepts the output and it prints the same.
TEST(CompressJavaScript, MinifiedScriptsRunTheSameUnderNode) {
  const char* const corpus[] = {
      R"(// numbers and strings
var total = 0; /* running sum */
for (var i = 1; i <= 10; i++) {
  total += i * 2; // doubled
}
console.log("total: " + total, 'a // b', "c /* d */ e");
)",
      R"(/*! keep this notice */
function fib(n) {
  /* a block
     over lines */
  if (n < 2) { return n; }
  return fib(n - 1) + fib(n - 2);
}
var ratio = fib(20) / fib(10) / 2;
console.log(fib(15), ratio.toFixed(3));
)",
      R"(var words = "alpha beta  gamma".split(/\s+/);
var re = /ab+c/i;
var s = 'x/y/z';
console.log(words.length, re.test("xABBBC"), s.split('/').join('|'));
function check(t) {
  return /^[a-z]+$/.test(t);
}
console.log(check("abc"), check("ab1"));
)",
      R"(var o = { a: 1, b: [1, 2, 3], c: 'it\'s' };
var keys = Object.keys(o);  // a, b, c
/*! second
    kept block */
var out = [];
for (var k of keys) { out.push(k + '=' + JSON.stringify(o[k])); }
console.log(out.join('; '));
var half = o.b.map(function (v) { return v / 2; });
console.log(half);
)",
  };
  qztest::TempDir dir("minify");
  int index = 0;
  for (const char* script : corpus) {
    const std::string original = dir.Path() + "/o" + std::to_string(index) + ".js";
    const std::string minified = dir.Path() + "/m" + std::to_string(index) + ".js";
    ++index;
    qztest::WriteFile(original, script);
    const std::string small = U8(W::CompressJavaScript(platform::Utf8ToWide(script)));
    qztest::WriteFile(minified, small);
    EXPECT_LT(small.size(), std::string(script).size());
    const auto check = qztest::RunProcess({"node", "--check", minified});
    EXPECT_EQ(check.ExitCode, 0) << check.Err << "\n" << small;
    const auto a = qztest::RunProcess({"node", original});
    const auto b = qztest::RunProcess({"node", minified});
    ASSERT_EQ(a.ExitCode, 0) << a.Err;
    EXPECT_EQ(b.ExitCode, 0) << b.Err;
    EXPECT_EQ(a.Out, b.Out) << small;
  }
}

TEST(XSSProtection, AttackVectorsAreRefused) {
  struct Case {
    UnicodeString text;
    bool full;
    bool raises;
  } cases[] = {
      {u"hello", false, false},
      {u"<SCRIPT>", false, true},
      {u"&#60;script&#62;", false, true},
      {u"< script", false, true},
      {u"<ilayer>", true, true},
      {u"<ilayer>", false, false},
      {u"&{alert(1)}", false, true},                        // "&{" looked for before "&" goes
      {u"&#100;ocument.cookie", false, true},               // reference decoded before zeros go
      {u"&#0000100;ocument.cookie", false, true},
      {u"&#x6A;avascript:alert(1)", false, true},
      {u"&#X6a&#x61;vascript:", false, true},
      {u"jav&#x09;ascript:", false, true},                 // a tab reference between letters
      {u"JaVaScRiPt:alert(1)", false, true},
      {u"java script:x", false, true},                      // blanks are removed
      {u"<img src=x onerror=alert(1)>", true, true},
      {u"<svg/onload=alert(1)>", true, true},
      {u"<meta http-equiv=\"refresh\">", true, true},
      {u"x=String.fromCharCode(88)", false, true},
      {u"data:text/html;base64,PHNjcmlwdD4=", false, true},
      {u"&#60&#115&#99&#114&#105&#112&#116", false, true},  // "<script" without semicolons
      {u"<scr#10#53pt", false, true},                       // "#10" + "5" decoded: "#105" is "i"
      {u"<scr#1&05pt", false, true},                        // "#105" once "&" is gone
      {u"#10#53 #1&05", false, false},                      // references to harmless letters
      {u"%3Cscript", false, false},                         // percent escapes are not decoded
      {u"Tom & Jerry; 100 % fine #1", true, false},
      {u"", false, false},
  };
  for (const auto& c : cases) {
    bool raised = false;
    try {
      W::XSSProtection(c.text, false, false, u"", c.full, u"");
    } catch (const Exception& e) {
      raised = true;
      EXPECT_EQ(std::string(e.what()), "found possible XSS attack!");
    }
    EXPECT_EQ(raised, c.raises) << U8(c.text) << (c.full ? " (full)" : "");
  }
  // Own tokens replace the lists.
  EXPECT_THROW(W::XSSProtection(u"my evil text", false, false, u"", false, u"\"EVIL\",\"bad\""), Exception);
  EXPECT_EQ(W::XSSProtection(u"<script>", false, false, u"", false, u"\"evil\""), u"<script>");
}

TEST(XSSProtection, QuotingEscapesMarkup) {
  struct Case {
    UnicodeString text, allowed;
    bool errorWhenQuote;
    UnicodeString out;  // empty: raises
  } cases[] = {
      {u"a<b", u"", false, u"a&lt;b"},
      {u"a<b", u"", true, u""},
      {u"a<b", u"<", true, u"a<b"},
      {u"ok", u"", true, u"ok"},
      {u"a;b#c&d\"e'f(g)h/i>", u"", false, u"a&#59;b&#35;c&amp;d&quot;e&#39;f&#40;g&#41;h&#47;i&gt;"},
      {u"a&b;(c)", u"&(", false, u"a&b&#59;(c&#41;"},
  };
  for (const auto& c : cases) {
    if (c.out.empty()) {
      EXPECT_THROW(W::XSSProtection(c.text, true, c.errorWhenQuote, c.allowed, false, u""), Exception);
    } else {
      EXPECT_EQ(U8(W::XSSProtection(c.text, true, c.errorWhenQuote, c.allowed, false, u"")), U8(c.out));
    }
  }
}

}  // namespace
