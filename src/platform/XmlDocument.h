// A small XML document object model over pugixml: the document, its nodes, element creation with
// name checks, attributes, text and CDATA, and loading and saving as UTF-8 or UTF-16.
//
//   platform::XmlDocument doc;
//   doc.SetDeclaration(u"1.0", u"UTF-8");
//   platform::XmlNode root = doc.Node().AppendElement(u"Settings");
//   root.SetAttribute(u"FormatVersion", u"2.0");
//   root.AppendElement(u"Server").SetText(u"alpha");
//   std::string utf8 = doc.SaveToBytes();                  // "<?xml ...?>\n<Settings ...>..."
//   std::string utf16 = doc.SaveToBytes(platform::XmlEncoding::Utf16LE);   // BOM FF FE first
//
// Rules of this model:
//  * Names, texts and values are UTF-16 at the interface; characters above U+FFFF travel as
//    surrogate pairs (a lone surrogate becomes U+FFFD on the way in).
//  * A new element or attribute must have a valid XML name (the Name production of XML 1.0), and
//    the document holds at most one element: both are refused with EXmlError, as is a text or an
//    attribute value holding U+0000 (no XML document can carry it).
//  * Loading follows the byte-order mark (UTF-8, UTF-16 LE or BE); without one, a UTF-16 text is
//    recognised by its first "<", and an 8-bit text by its declared encoding: UTF-8 (also when
//    none is declared), or Windows-1252 for "windows-1252", "ISO-8859-1", "latin1" and
//    "US-ASCII". Any other declared encoding is refused. Line ends are read as LF (CR LF and lone
//    CR alike), white space between elements is dropped, comments, processing instructions and
//    CDATA sections are kept as nodes. A document without an element is refused, and so is one
//    whose elements nest deeper than MaxElementDepth (256 unless set); every parse error carries
//    the parser's reason and the line and column where it stopped.
//  * Saving writes the declaration (version from SetDeclaration, else "1.0"; the encoding named
//    after the one written), a line break, and the nodes without indentation, so every text
//    reads back as it was written. "&", "<", ">" are escaped in texts, and "&", "<", ">", the
//    double quote and the control characters TAB, LF, CR in attribute values. UTF-16 output
//    starts with its byte-order mark.
//
// Nodes are handles: they stay valid while their document lives, and copying one copies the
// handle only. A document and its nodes serve one thread at a time.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <pugixml.hpp>

#include "Text.h"

namespace platform {

enum class XmlNodeKind { None, Document, Element, Text, CData, Comment, ProcessingInstruction, Declaration, Doctype };

enum class XmlEncoding { Utf8, Utf16LE, Utf16BE };

// True when the text is a valid XML name (XML 1.0, fifth edition: NameStartChar NameChar*).
bool IsXmlName(std::u16string_view name);

struct XmlAttribute {
  UnicodeString Name;
  UnicodeString Value;
};

class XmlNode {
 public:
  XmlNode() = default;
  explicit XmlNode(pugi::xml_node node) : node_(node) {}

  explicit operator bool() const { return !node_.empty(); }
  bool operator==(const XmlNode& other) const { return node_ == other.node_; }

  XmlNodeKind Kind() const;
  bool IsElement() const { return node_.type() == pugi::node_element; }
  // The element's or processing instruction's name; empty for other kinds.
  UnicodeString Name() const;
  // True when the node's name equals `name` exactly (no conversion of the node's name).
  bool NameIs(std::u16string_view name) const;
  // The content of a text, CDATA, comment or processing instruction; empty for other kinds.
  UnicodeString Value() const;

  // --- Children -------------------------------------------------------------------------------
  bool HasChildNodes() const { return !node_.first_child().empty(); }
  bool HasElementChildren() const;
  XmlNode FirstChild() const { return XmlNode(node_.first_child()); }
  XmlNode NextSibling() const { return XmlNode(node_.next_sibling()); }
  XmlNode Parent() const { return XmlNode(node_.parent()); }
  std::size_t ChildCount() const;
  // The first child element whose name equals `name` exactly; an empty handle when none.
  XmlNode ChildElement(std::u16string_view name) const;
  // The direct text and CDATA children joined in document order (descendants not included).
  UnicodeString Text() const;

  // Appends a new element as the last child of this element or of the document. Raises EXmlError
  // for an invalid name, for a second element of the document, or on a node that cannot hold
  // elements.
  XmlNode AppendElement(std::u16string_view name);
  XmlNode AppendText(std::u16string_view text);
  XmlNode AppendCData(std::u16string_view text);
  // Sets the element's text: a childless element gets a text child, an element whose only child
  // is a text or CDATA node gets that node's content replaced. An element holding anything else
  // is refused with EXmlError ("element does not contain a single text node").
  void SetText(std::u16string_view text);

  // --- Attributes (names compared exactly) -----------------------------------------------------
  bool HasAttribute(std::u16string_view name) const;
  std::optional<UnicodeString> Attribute(std::u16string_view name) const;
  // Creates the attribute at the end or replaces the value of the one of that name.
  void SetAttribute(std::u16string_view name, std::u16string_view value);
  bool RemoveAttribute(std::u16string_view name);
  std::vector<XmlAttribute> Attributes() const;

  pugi::xml_node Raw() const { return node_; }

 private:
  XmlNode AppendCharacterData(std::u16string_view text, pugi::xml_node_type type);

  pugi::xml_node node_;
};

class XmlDocument {
 public:
  static constexpr int DefaultMaxElementDepth = 256;

  XmlDocument() = default;
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  // The document node: its children are the declaration, comments and the one root element.
  XmlNode Node() { return XmlNode(doc_); }
  // The root element; an empty handle when there is none.
  XmlNode DocumentElement() const;
  // Version and encoding written in the declaration when saving (the encoding only when the text
  // is saved as a string: the bytes always name the encoding they are written in).
  void SetDeclaration(std::u16string_view version, std::u16string_view encoding);
  void Clear();

  // Replaces the content by the parsed bytes. Raises EXmlError (the document is then empty).
  void LoadFromBytes(std::string_view bytes);
  // Parses a UTF-16 text (the declared encoding is not looked at).
  void LoadFromString(std::u16string_view text);
  // Raises EInOutError when the file cannot be read, EXmlError when it does not parse.
  void LoadFromFile(const UnicodeString& fileName);

  std::string SaveToBytes(XmlEncoding encoding = XmlEncoding::Utf8) const;
  // The document as UTF-16 text, declaring the encoding given to SetDeclaration ("UTF-16" when
  // none was given).
  UnicodeString SaveToString() const;
  // Writes the bytes to a temporary file beside fileName and renames it over the file, so readers
  // never see a half-written document. Raises EInOutError when that fails.
  void SaveToFile(const UnicodeString& fileName, XmlEncoding encoding = XmlEncoding::Utf8) const;

  // Deepest nesting of elements a loaded text may have (the root element is level 1).
  int MaxElementDepth = DefaultMaxElementDepth;

 private:
  void ParseUtf8(std::string_view utf8);
  std::string SerializeUtf8(std::u16string_view encodingName) const;

  pugi::xml_document doc_;
  UnicodeString version_ = u"1.0";
  UnicodeString encoding_;
};

}  // namespace platform
