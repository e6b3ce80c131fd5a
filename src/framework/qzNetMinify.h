// TqzNet family: web-text tools. A style-sheet and a script minifier, and a guard against texts
// that may carry a cross-site-scripting attack. Joined into TqzNet.
//
//   UnicodeString css = TqzNetWebText::CompressCSS(u"a {\r\n  color: red; /* note */\r\n}\r\n");
//   // "a { color: red;  } "
//   UnicodeString js = TqzNetWebText::CompressJavaScript(u"var a = 1; // one\r\nvar b = 2;");
//   // "var a = 1; var b = 2;"
//   TqzNetWebText::XSSProtection(u"<script>", false, false, u"", false, u"");  // raises
//
// The minifiers are line-based heuristics: they drop comments and line breaks, trim lines and keep
// comments that begin with "/*!" on lines of their own; they do not parse the languages. A
// comment that is not closed runs on to the following lines; a string that is not closed ends
// with its line. Both run in time linear in the text.
//
// XSSProtection raises Exception "found possible XSS attack!" when the text, normalised (numeric
// character references decoded whatever their zero padding, then zero runs, ";" and "&"
// removed, lower-cased, upper-cased for the comparison and stripped of blanks), contains one of
// the attack tokens; the tokens are also looked for in the text before normalising, so "&{"
// is found. With QuoteString the text comes back with its markup characters escaped (those in
// AllowedChars excepted), and with ErrorWhenQuote as well, a text that needed escaping raises.
// AttackFlags, when not empty, replaces the token lists: a comma text of double-quoted tokens.
#pragma once

#include "Text.h"

class TqzNetWebText {
 public:
  TqzNetWebText() = delete;

  static UnicodeString CompressCSS(const UnicodeString& CSS);
  static UnicodeString CompressJavaScript(const UnicodeString& JavaScript);
  static UnicodeString XSSProtection(const UnicodeString& TestString, bool QuoteString,
                                     bool ErrorWhenQuote, const UnicodeString& AllowedChars,
                                     bool FullTest, const UnicodeString& AttackFlags);
};
