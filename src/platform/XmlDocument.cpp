#include "XmlDocument.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "CodePage.h"
#include "Exceptions.h"
#include "FileIo.h"
#include "StringList.h"
#include "TextFile.h"

namespace platform {
namespace {

EXmlError XmlError(const std::string& message) { return EXmlError(message.c_str()); }
EInOutError InOutError(const std::string& message) { return EInOutError(message.c_str()); }


bool IsNameStartChar(char32_t c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':') return true;
  return (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
         (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) ||
         (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
         (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool IsNameChar(char32_t c) {
  if (IsNameStartChar(c)) return true;
  return c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 || (c >= 0x300 && c <= 0x36F) ||
         (c >= 0x203F && c <= 0x2040);
}

// UTF-8 of a text that is handed to pugixml, which keeps null-terminated strings.
std::string ToModel(std::u16string_view text, const char* what) {
  if (text.find(u'\0') != std::u16string_view::npos) {
    throw XmlError(std::string("the character U+0000 is not allowed in ") + what);
  }
  return WideToUtf8(text);
}

UnicodeString FromModel(const char* utf8) { return Utf8ToWide(utf8); }

void CheckName(std::u16string_view name, const char* what) {
  if (!IsXmlName(name)) {
    throw XmlError(std::string("'") + WideToUtf8(name) + "' is not a valid " + what + " name");
  }
}

// Line and column (both from 1) of a byte offset of the parsed text.
std::pair<size_t, size_t> LineColumn(std::string_view text, ptrdiff_t offset) {
  size_t line = 1, column = 1;
  const size_t end = offset < 0 ? 0 : std::min(text.size(), static_cast<size_t>(offset));
  for (size_t i = 0; i < end; ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      ++column;
    }
  }
  return {line, column};
}

// The encoding named by the declaration at the start of an 8-bit text, upper-cased; empty when
// there is no declaration or it names none.
std::string DeclaredEncoding(std::string_view bytes) {
  if (bytes.substr(0, 5) != "<?xml") return {};
  const size_t end = bytes.find("?>");
  const std::string_view decl = bytes.substr(0, end == std::string_view::npos ? bytes.size() : end);
  const size_t at = decl.find("encoding");
  if (at == std::string_view::npos) return {};
  size_t i = at + 8;
  while (i < decl.size() && (decl[i] == ' ' || decl[i] == '\t' || decl[i] == '\r' || decl[i] == '\n')) ++i;
  if (i >= decl.size() || decl[i] != '=') return {};
  ++i;
  while (i < decl.size() && (decl[i] == ' ' || decl[i] == '\t' || decl[i] == '\r' || decl[i] == '\n')) ++i;
  if (i >= decl.size() || (decl[i] != '"' && decl[i] != '\'')) return {};
  const char quote = decl[i++];
  const size_t close = decl.find(quote, i);
  if (close == std::string_view::npos) return {};
  std::string name(decl.substr(i, close - i));
  for (char& c : name) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
  return name;
}

class StringWriter : public pugi::xml_writer {
 public:
  explicit StringWriter(std::string& out) : out_(out) {}
  void write(const void* data, size_t size) override { out_.append(static_cast<const char*>(data), size); }

 private:
  std::string& out_;
};

constexpr unsigned kParseFlags = pugi::parse_default | pugi::parse_comments | pugi::parse_pi |
                                 pugi::parse_declaration | pugi::parse_doctype;

}  // namespace

bool IsXmlName(std::u16string_view name) {
  if (name.empty()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    char32_t c = name[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (name[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      return false;
    }
    if (!(i == 0 ? IsNameStartChar(c) : IsNameChar(c))) return false;
  }
  return true;
}

// --- XmlNode -------------------------------------------------------------------------------------

XmlNodeKind XmlNode::Kind() const {
  switch (node_.type()) {
    case pugi::node_document: return XmlNodeKind::Document;
    case pugi::node_element: return XmlNodeKind::Element;
    case pugi::node_pcdata: return XmlNodeKind::Text;
    case pugi::node_cdata: return XmlNodeKind::CData;
    case pugi::node_comment: return XmlNodeKind::Comment;
    case pugi::node_pi: return XmlNodeKind::ProcessingInstruction;
    case pugi::node_declaration: return XmlNodeKind::Declaration;
    case pugi::node_doctype: return XmlNodeKind::Doctype;
    default: return XmlNodeKind::None;
  }
}

UnicodeString XmlNode::Name() const {
  const auto t = node_.type();
  if (t != pugi::node_element && t != pugi::node_pi) return {};
  return FromModel(node_.name());
}

bool XmlNode::NameIs(std::u16string_view name) const {
  const char* own = node_.name();
  // ASCII names, the common case, compare without converting.
  size_t i = 0;
  for (; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(own[i]);
    if (c == 0 || c >= 0x80 || name[i] >= 0x80) break;
    if (c != name[i]) return false;
  }
  if (i == name.size()) return own[i] == 0;
  return FromModel(own) == name;
}

UnicodeString XmlNode::Value() const {
  switch (node_.type()) {
    case pugi::node_pcdata:
    case pugi::node_cdata:
    case pugi::node_comment:
    case pugi::node_pi:
      return FromModel(node_.value());
    default:
      return {};
  }
}

bool XmlNode::HasElementChildren() const {
  for (pugi::xml_node c = node_.first_child(); c; c = c.next_sibling()) {
    if (c.type() == pugi::node_element) return true;
  }
  return false;
}

std::size_t XmlNode::ChildCount() const {
  std::size_t n = 0;
  for (pugi::xml_node c = node_.first_child(); c; c = c.next_sibling()) ++n;
  return n;
}

XmlNode XmlNode::ChildElement(std::u16string_view name) const {
  for (pugi::xml_node c = node_.first_child(); c; c = c.next_sibling()) {
    if (c.type() == pugi::node_element && XmlNode(c).NameIs(name)) return XmlNode(c);
  }
  return {};
}

UnicodeString XmlNode::Text() const {
  std::string utf8;
  for (pugi::xml_node c = node_.first_child(); c; c = c.next_sibling()) {
    if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) utf8 += c.value();
  }
  return Utf8ToWide(utf8);
}

XmlNode XmlNode::AppendElement(std::u16string_view name) {
  const auto t = node_.type();
  if (t != pugi::node_element && t != pugi::node_document) {
    throw XmlError("only elements and the document can hold elements");
  }
  CheckName(name, "element");
  if (t == pugi::node_document) {
    for (pugi::xml_node c = node_.first_child(); c; c = c.next_sibling()) {
      if (c.type() == pugi::node_element) throw XmlError("the document already has a root element");
    }
  }
  pugi::xml_node n = node_.append_child(pugi::node_element);
  if (!n || !n.set_name(WideToUtf8(name).c_str())) throw XmlError("cannot add the element");
  return XmlNode(n);
}

XmlNode XmlNode::AppendCharacterData(std::u16string_view text, pugi::xml_node_type type) {
  if (node_.type() != pugi::node_element) throw XmlError("only elements can hold text");
  const std::string utf8 = ToModel(text, "a text");
  pugi::xml_node n = node_.append_child(type);
  if (!n || !n.set_value(utf8.c_str())) throw XmlError("cannot add the text");
  return XmlNode(n);
}

XmlNode XmlNode::AppendText(std::u16string_view text) { return AppendCharacterData(text, pugi::node_pcdata); }

XmlNode XmlNode::AppendCData(std::u16string_view text) {
  if (text.find(u"]]>") != std::u16string_view::npos) throw XmlError("a CDATA section cannot hold ']]>'");
  return AppendCharacterData(text, pugi::node_cdata);
}

void XmlNode::SetText(std::u16string_view text) {
  if (node_.type() != pugi::node_element) throw XmlError("only elements can hold text");
  pugi::xml_node first = node_.first_child();
  if (!first) {
    AppendText(text);
    return;
  }
  if (first.next_sibling() || (first.type() != pugi::node_pcdata && first.type() != pugi::node_cdata)) {
    throw XmlError("element does not contain a single text node");
  }
  if (first.type() == pugi::node_cdata && text.find(u"]]>") != std::u16string_view::npos) {
    throw XmlError("a CDATA section cannot hold ']]>'");
  }
  if (!first.set_value(ToModel(text, "a text").c_str())) throw XmlError("cannot set the text");
}

bool XmlNode::HasAttribute(std::u16string_view name) const { return Attribute(name).has_value(); }

std::optional<UnicodeString> XmlNode::Attribute(std::u16string_view name) const {
  const std::string key = WideToUtf8(name);
  for (pugi::xml_attribute a = node_.first_attribute(); a; a = a.next_attribute()) {
    if (std::strcmp(a.name(), key.c_str()) == 0) return FromModel(a.value());
  }
  return std::nullopt;
}

void XmlNode::SetAttribute(std::u16string_view name, std::u16string_view value) {
  if (node_.type() != pugi::node_element) throw XmlError("only elements have attributes");
  CheckName(name, "attribute");
  const std::string key = WideToUtf8(name);
  const std::string text = ToModel(value, "an attribute value");
  pugi::xml_attribute a = node_.attribute(key.c_str());
  if (!a) a = node_.append_attribute(key.c_str());
  if (!a || !a.set_value(text.c_str())) throw XmlError("cannot set the attribute");
}

bool XmlNode::RemoveAttribute(std::u16string_view name) {
  return node_.remove_attribute(WideToUtf8(name).c_str());
}

std::vector<XmlAttribute> XmlNode::Attributes() const {
  std::vector<XmlAttribute> out;
  for (pugi::xml_attribute a = node_.first_attribute(); a; a = a.next_attribute()) {
    out.push_back({FromModel(a.name()), FromModel(a.value())});
  }
  return out;
}

// --- XmlDocument ---------------------------------------------------------------------------------

XmlNode XmlDocument::DocumentElement() const { return XmlNode(doc_.document_element()); }

void XmlDocument::SetDeclaration(std::u16string_view version, std::u16string_view encoding) {
  version_ = UnicodeString(version.empty() ? u"1.0" : version);
  encoding_ = UnicodeString(encoding);
}

void XmlDocument::Clear() { doc_.reset(); }

void XmlDocument::ParseUtf8(std::string_view utf8) {
  doc_.reset();
  const pugi::xml_parse_result r = doc_.load_buffer(utf8.data(), utf8.size(), kParseFlags, pugi::encoding_utf8);
  if (!r) {
    doc_.reset();
    const auto [line, column] = LineColumn(utf8, r.offset);
    throw XmlError(std::string(r.description()) + " at line " + std::to_string(line) + ", column " +
                    std::to_string(column));
  }
  // pugixml accepts several top-level elements; a document has exactly one.
  int elements = 0;
  for (pugi::xml_node c = doc_.first_child(); c; c = c.next_sibling()) {
    if (c.type() == pugi::node_element) ++elements;
    if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) {
      doc_.reset();
      throw XmlError("text is not allowed outside the root element");
    }
  }
  if (elements != 1) {
    doc_.reset();
    throw XmlError(elements == 0 ? "the document has no root element" : "the document has more than one root element");
  }
  // Element depth, walked without recursion.
  int depth = 0;
  for (pugi::xml_node n = doc_.document_element(); n;) {
    if (n.type() == pugi::node_element && n.first_child()) {
      if (++depth >= MaxElementDepth && n.find_child([](pugi::xml_node c) { return c.type() == pugi::node_element; })) {
        doc_.reset();
        throw XmlError("elements nest deeper than " + std::to_string(MaxElementDepth) + " levels");
      }
      n = n.first_child();
      continue;
    }
    while (n && !n.next_sibling()) {
      n = n.parent();
      if (n.type() == pugi::node_document) {
        n = pugi::xml_node();
        break;
      }
      --depth;
    }
    if (n) n = n.next_sibling();
  }
  if (pugi::xml_node d = doc_.first_child(); d.type() == pugi::node_declaration) {
    if (const char* v = d.attribute("version").value(); *v) version_ = Utf8ToWide(v);
  }
}

void XmlDocument::LoadFromBytes(std::string_view bytes) {
  auto u8 = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() >= 3 && u8(0) == 0xEF && u8(1) == 0xBB && u8(2) == 0xBF) {
    ParseUtf8(bytes.substr(3));
    return;
  }
  const bool bomLE = bytes.size() >= 2 && u8(0) == 0xFF && u8(1) == 0xFE;
  const bool bomBE = bytes.size() >= 2 && u8(0) == 0xFE && u8(1) == 0xFF;
  const bool rawLE = !bomLE && !bomBE && bytes.size() >= 2 && u8(0) == '<' && u8(1) == 0;
  const bool rawBE = !bomLE && !bomBE && bytes.size() >= 2 && u8(0) == 0 && u8(1) == '<';
  if (bomLE || bomBE || rawLE || rawBE) {
    const std::string_view units = (bomLE || bomBE) ? bytes.substr(2) : bytes;
    const std::string utf8 = WideToUtf8(Utf16BytesToWide(units, bomBE || rawBE));
    ParseUtf8(utf8);
    return;
  }
  const std::string declared = DeclaredEncoding(bytes);
  if (declared.empty() || declared == "UTF-8" || declared == "UTF8") {
    ParseUtf8(bytes);
  } else if (declared == "WINDOWS-1252" || declared == "CP1252" || declared == "ISO-8859-1" ||
             declared == "LATIN1" || declared == "US-ASCII" || declared == "ASCII") {
    ParseUtf8(AnsiToUtf8(bytes));
  } else {
    doc_.reset();
    throw XmlError("unsupported encoding '" + declared + "'");
  }
}

void XmlDocument::LoadFromString(std::u16string_view text) {
  if (!text.empty() && text[0] == 0xFEFF) text.remove_prefix(1);
  const std::string utf8 = WideToUtf8(text);
  ParseUtf8(utf8);
}

void XmlDocument::LoadFromFile(const UnicodeString& fileName) {
  LoadFromBytes(strlist_detail::ReadFileBytes(fileName));
}

std::string XmlDocument::SerializeUtf8(std::u16string_view encodingName) const {
  std::string out = "<?xml version=\"" + WideToUtf8(version_) + "\"";
  if (!encodingName.empty()) out += " encoding=\"" + WideToUtf8(encodingName) + "\"";
  out += "?>\n";
  StringWriter writer(out);
  for (pugi::xml_node c = doc_.first_child(); c; c = c.next_sibling()) {
    if (c.type() == pugi::node_declaration) continue;
    c.print(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    if (c.type() != pugi::node_element) out += '\n';
  }
  return out;
}

std::string XmlDocument::SaveToBytes(XmlEncoding encoding) const {
  if (encoding == XmlEncoding::Utf8) return SerializeUtf8(u"UTF-8");
  const bool bigEndian = encoding == XmlEncoding::Utf16BE;
  const UnicodeString text = Utf8ToWide(SerializeUtf8(u"UTF-16"));
  return WideToUtf16Bytes(u"\uFEFF", bigEndian) + WideToUtf16Bytes(text, bigEndian);
}

UnicodeString XmlDocument::SaveToString() const {
  return Utf8ToWide(SerializeUtf8(encoding_.empty() ? u"UTF-16" : std::u16string_view(encoding_)));
}

void XmlDocument::SaveToFile(const UnicodeString& fileName, XmlEncoding encoding) const {
  const std::string bytes = SaveToBytes(encoding);
  const int err = ReplaceFileContent(WideToUtf8(fileName), bytes, 0666);
  if (err != 0) {
    throw InOutError("cannot write file " + WideToUtf8(fileName) + ": " + std::strerror(err));
  }
}

}  // namespace platform
