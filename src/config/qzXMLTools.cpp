#include "qzXMLTools.h"

#include <cstdio>

#include "qzStrings.h"
#include "qzToolsEvo2.h"

using platform::XmlDocument;
using platform::XmlNode;

UnicodeString TqzIXMLDocumentTools::GetAttribute(const XmlNode& XMLNode, const UnicodeString& Attribute,
                                                 const UnicodeString& Default) {
  std::optional<UnicodeString> value = XMLNode.Attribute(Attribute);
  return value ? std::move(*value) : Default;
}

XmlNode TqzIXMLDocumentTools::GetNode(XmlDocument& XMLDoc, const std::vector<UnicodeString>& Path) {
  if (Path.empty()) return {};
  XmlNode node = XMLDoc.Node();
  for (const UnicodeString& part : Path) {
    XmlNode child = node.ChildElement(part);
    node = child ? child : node.AppendElement(part);
  }
  return node;
}

XmlNode TqzIXMLDocumentTools::GetNode(XmlDocument& XMLDoc, const TStrings& Path) {
  std::vector<UnicodeString> parts;
  parts.reserve(static_cast<size_t>(Path.Count()));
  for (int i = 0; i < Path.Count(); ++i) parts.push_back(Path[i]);
  return GetNode(XMLDoc, parts);
}

XmlNode TqzIXMLDocumentTools::GetNode(XmlDocument& XMLDoc, const UnicodeString& Path) {
  std::vector<UnicodeString> parts;
  if (!Path.empty()) {
    size_t start = 0;
    for (;;) {
      const size_t slash = Path.find(u'/', start);
      parts.push_back(Path.substr(start, slash == UnicodeString::npos ? UnicodeString::npos : slash - start));
      if (slash == UnicodeString::npos) break;
      start = slash + 1;
    }
  }
  return GetNode(XMLDoc, parts);
}

Variant TqzIXMLDocumentTools::GetNodeValue(const XmlNode& XMLNode) {
  XmlNode source = XMLNode;
  if (XMLNode.HasChildNodes()) {
    source = XMLNode.FirstChild();
    const auto kind = source.Kind();
    if (kind != platform::XmlNodeKind::Text && kind != platform::XmlNodeKind::CData) return Variant::Null();
  }
  switch (source.Kind()) {
    case platform::XmlNodeKind::Text:
    case platform::XmlNodeKind::CData:
    case platform::XmlNodeKind::Comment:
    case platform::XmlNodeKind::ProcessingInstruction:
      break;
    default:
      return Variant::Null();  // elements and the document have no value of their own
  }
  UnicodeString text = source.Value();
  if (text.find(u"\r\n") == UnicodeString::npos && text.find(u'\n') != UnicodeString::npos) {
    text = TqzStrings::ReplaceW(text, u"\n", u"\r\n");
  }
  return Variant::FromOleStr(std::move(text));
}

UnicodeString TqzXMLTools::PrepareString(const UnicodeString& Data, bool ApplyNotationReplacements,
                                         bool EncodeCtrlChars) {
  UnicodeString out;
  out.reserve(Data.size());
  const std::u16string_view text(Data);
  ScanXmlChars(
      text, [&](size_t pos, size_t len) { out.append(text.substr(pos, len)); },
      [&](char16_t unit) {
        if (!EncodeCtrlChars) {
          out.push_back(u' ');
          return;
        }
        char ref[16];
        std::snprintf(ref, sizeof ref, "&#x%04X;", static_cast<unsigned>(unit));
        for (const char* p = ref; *p; ++p) out.push_back(static_cast<char16_t>(*p));
      });
  if (!ApplyNotationReplacements) return out;
  UnicodeString escaped;
  escaped.reserve(out.size() + out.size() / 8);
  AppendXmlEscaped(escaped, out);
  return escaped;
}
