// XML document helpers of the configuration store.
//
// TqzIXMLDocumentTools works on the document model of XmlDocument.h: a named attribute with a
// default, a node reached by a path of element names (created where missing) and the value of a
// node with its line ends restored. TqzXMLTools makes a text safe as XML character data.
// Neither class keeps state; errors of the document model (an invalid element name, a second
// root element) pass to the caller as EXmlError.
//
// PrepareString tests code points, not single UTF-16 units: a valid surrogate pair (a character
// above U+FFFF) is allowed in XML and stays; only a lone surrogate is replaced, as are U+FFFE,
// U+FFFF and every control character other than TAB, LF and CR.
#pragma once

#include <vector>

#include "StringList.h"
#include "Text.h"
#include "Variant.h"
#include "XmlDocument.h"

class TqzIXMLDocumentTools {
 public:
  TqzIXMLDocumentTools() = delete;

  // The value of the attribute of exactly that name (present but empty gives the empty text);
  // Default when the node has no such attribute.
  static UnicodeString GetAttribute(const platform::XmlNode& XMLNode, const UnicodeString& Attribute,
                                    const UnicodeString& Default);

  // The element reached by the path of element names: each name is looked up among the children
  // of the node reached so far (the first one of that name), and a missing one is appended. The
  // first name is looked up among the document's children, so it names the root element. An
  // empty path gives an empty handle.
  static platform::XmlNode GetNode(platform::XmlDocument& XMLDoc, const TStrings& Path);
  static platform::XmlNode GetNode(platform::XmlDocument& XMLDoc, const std::vector<UnicodeString>& Path);
  // The path split at every "/"; an empty piece stays a part (and is refused as a name).
  static platform::XmlNode GetNode(platform::XmlDocument& XMLDoc, const UnicodeString& Path);

  // The text of the node's first child when that is a text or CDATA node (Null for any other
  // first child); for a node without children its own value (Null for an element). A text
  // without a CR LF pair has every LF turned into CR LF; a text comes back as type 8.
  static Variant GetNodeValue(const platform::XmlNode& XMLNode);
};

class TqzXMLTools {
 public:
  TqzXMLTools() = delete;

  // Every character outside the XML character ranges replaced: by "&#x" + four upper-case hex
  // digits + ";" with EncodeCtrlChars, else by one blank. With ApplyNotationReplacements the five
  // entity characters are then escaped ("&" first, so a reference made here becomes "&amp;#x...").
  static UnicodeString PrepareString(const UnicodeString& Data, bool ApplyNotationReplacements,
                                     bool EncodeCtrlChars);
};
