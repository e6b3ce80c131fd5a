// TqzConfigTools: the XML configuration text (build, parse, change protection, files).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "CodePage.h"
#include "Exceptions.h"
#include "FileIo.h"
#include "SysUtils.h"
#include "XmlDocument.h"
#include "qzBase64.h"
#include "qzConfigTools.h"
#include "qzConversion.h"
#include "qzFiles.h"
#include "qzMD5.h"
#include "qzStrings.h"
#include "qzToolsEvo2.h"
#include "qzTypes.h"
#include "qzXMLTools.h"

using platform::XmlDocument;
using platform::XmlNode;

namespace {

constexpr const char16_t* kFormatVersionTexts[] = {u"1.0", u"1.1", u"1.2", u"1.3", u"1.4", u"1.5",
                                                   u"1.6", u"1.7", u"1.8", u"2.0", u"2.1"};

bool IsTextType(uint16_t type) { return type == varOleStr || type == varString || type == varUString; }

// The bytes of a binary value: byte arrays and 8-bit strings as they are, other values as the
// ANSI form of their text.
AnsiString ValueBytes(const Variant& v) {
  if (v.IsEmptyOrNull()) return {};
  if (v.VarType() == varString || v.VarType() == (varArray | varByte)) return v.AsBytes();
  return platform::WideToAnsi(VarToStr(v));
}

// A value as the document model writes it: Booleans "true" / "false", floating-point and
// currency values with "." as decimal sign, anything else by the general variant conversion.
UnicodeString ModelText(const Variant& v) {
  switch (v.VarType()) {
    case varBoolean:
      return v.AsBool() ? u"true" : u"false";
    case varSingle:
    case varDouble:
    case varCurrency:
      return platform::ToU16(platform::FloatToStrInvariant(v.AsDouble()));
    default:
      return VarToStr(v);
  }
}

// Base64 of the bytes, in lines of 76 characters.
UnicodeString Base64Text(std::string_view bytes) {
  return platform::ToU16(TqzBase64::StrToBase64(bytes, true));
}

AnsiString Base64Bytes(const UnicodeString& text) { return TqzBase64::Base64ToStr(platform::ToAscii(text)); }

// Elements of the text being written, found by their parent and the name they carry.
struct ChildKey {
  const void* parent;
  UnicodeString name;
  bool operator==(const ChildKey& o) const { return parent == o.parent && name == o.name; }
};
struct ChildKeyHash {
  size_t operator()(const ChildKey& k) const {
    return std::hash<const void*>()(k.parent) ^ (std::hash<UnicodeString>()(k.name) * 31);
  }
};

const void* Identity(const XmlNode& n) { return n.Raw().internal_object(); }

// True when an element that holds other elements shows that it holds a value of its own: a text
// that is not empty, or an attribute other than "Name".
bool HoldsValue(const XmlNode& element) {
  for (XmlNode c = element.FirstChild(); c; c = c.NextSibling()) {
    const auto kind = c.Kind();
    if ((kind == platform::XmlNodeKind::Text || kind == platform::XmlNodeKind::CData) && *c.Raw().value()) {
      return true;
    }
  }
  for (pugi::xml_attribute a = element.Raw().first_attribute(); a; a = a.next_attribute()) {
    if (std::strcmp(a.name(), "Name") != 0) return true;
  }
  return false;
}

}  // namespace

TqzCfgFormatVersion TqzConfigTools::GetConfigFormatVersion(const UnicodeString& FStr) {
  for (size_t i = 0; i < std::size(kFormatVersionTexts); ++i) {
    if (FStr == kFormatVersionTexts[i]) return static_cast<TqzCfgFormatVersion>(i);
  }
  return qzFV_Unknown;
}

bool TqzConfigTools::HasNodePaths(const TqzConfigList& CfgList) {
  for (const TqzConfigPart& part : CfgList) {
    if (part.Param.find(u'/') != UnicodeString::npos) return true;
  }
  return false;
}

UnicodeString TqzConfigTools::ValueToXMLText(const Variant& Value) {
  return TqzToolsParams::PrepareXMLStringW(TqzTypes::VarToStrExt(Value), false);
}

UnicodeString TqzConfigTools::GetHashSalt() {
  // Nine numbers joined in a fixed order; the salt is built here and stored nowhere.
  const int64_t numbers[9] = {7919, 104729, 31, 65537, 2147483647, 97,
                              static_cast<int64_t>(std::llround(std::sqrt(4104676.0))), 1299709, 8191};
  UnicodeString salt;
  for (int64_t n : numbers) salt += platform::ToU16(std::to_string(n));
  return salt;
}

AnsiString TqzConfigTools::CalcChangeProtectionHash(const TqzConfigList& CfgList) {
  UnicodeString text;
  for (const TqzConfigPart& part : CfgList) {
    if (!part.Active) continue;
    text += part.Param;
    text += ValueToXMLText(part.Value);
    for (const TqzAttribute& a : part.Attributes) {
      text += a.Name;
      text += VarToStr(a.Value);
    }
  }
  text += GetHashSalt();
  return TqzMD5::GetMD5FromString(platform::WideToUtf8(text));
}

int TqzConfigTools::CheckChangeProtectionHash(const UnicodeString& Hash, const TqzConfigList& CfgList) {
  if (platform::Trim(Hash).empty()) return 2;
  return platform::ToU16(CalcChangeProtectionHash(CfgList)) == Hash ? 0 : 1;
}

UnicodeString TqzConfigTools::ToXMLElementName(const UnicodeString& Name, bool& Differs) {
  UnicodeString xml = ToXMLPath(Name);
  Differs = xml != Name;
  return xml;
}

// --- Building ------------------------------------------------------------------------------------

AnsiString TqzConfigTools::BuiltConfigString(const TqzConfigList& CfgList, const UnicodeString& ConfigType,
                                             bool Compress, bool Enhanced, bool NodeNameByAttrib) {
  try {
    if (NodeNameByAttrib && HasNodePaths(CfgList)) {
      throw Exception("node paths and nodenamebyattribute is not supported");
    }
    XmlDocument doc;
    doc.SetDeclaration(u"1.0", u"UTF-8");
    XmlNode root = doc.Node().AppendElement(ConfigType);
    root.SetAttribute(u"FormatVersion", u"2.0");
    root.SetAttribute(u"Compressed", Compress ? u"true" : u"false");
    root.SetAttribute(u"Encoding", Compress ? u"Base64" : u"none");

    std::unordered_map<ChildKey, XmlNode, ChildKeyHash> children;  // first element of each name
    std::unordered_map<const void*, uint16_t> valued;                 // element -> type of its value
    auto newElement = [&](XmlNode& parent, const UnicodeString& name, const UnicodeString& elementName,
                          bool withName) {
      XmlNode e = parent.AppendElement(elementName);
      if (withName) e.SetAttribute(u"Name", name);
      children.try_emplace(ChildKey{Identity(parent), name}, e);
      return e;
    };

    for (const TqzConfigPart& part : CfgList) {
      if (!part.Active) continue;
      const std::vector<UnicodeString> names = SplitConfigPath(part.Param);
      if (names.empty()) continue;
      if (names.size() >= static_cast<size_t>(XmlDocument::DefaultMaxElementDepth)) {
        // The reader refuses documents nested this deep; never write one.
        throw EXmlError(("a path of more than " + std::to_string(XmlDocument::DefaultMaxElementDepth - 1) +
                         " names cannot be written").c_str());
      }
      XmlNode element;
      if (names.size() == 1 && NodeNameByAttrib) {
        element = newElement(root, names[0], DefaultNodeName, true);
      } else if (names.size() == 1) {
        bool differs = false;
        const UnicodeString xml = ToXMLElementName(names[0], differs);
        element = newElement(root, names[0], xml, differs);
      } else {
        XmlNode node = root;
        for (size_t k = 0; k < names.size(); ++k) {
          auto found = children.find(ChildKey{Identity(node), names[k]});
          const bool last = k + 1 == names.size();
          if (found != children.end() && !(last && valued.count(Identity(found->second)))) {
            node = found->second;
            continue;
          }
          bool differs = false;
          const UnicodeString xml = ToXMLElementName(names[k], differs);
          node = newElement(node, names[k], xml, differs);
        }
        element = node;
      }

      const Variant& value = part.Value;
      if (part.Binary) {
        element.SetAttribute(u"Type", u"BINARY");
      } else if (Enhanced) {
        element.SetAttribute(u"Type", TqzTypes::GetVarTypeStr(value.VarType()));
      }
      UnicodeString text;
      if (Compress) {
        const AnsiString bytes = part.Binary ? ValueBytes(value) : platform::WideToUtf8(VarToStr(value));
        text = Base64Text(TqzStrings::CompressString(bytes));
      } else if (part.Binary) {
        text = Base64Text(ValueBytes(value));
      } else if (IsTextType(value.VarType())) {
        text = TqzXMLTools::PrepareString(VarToStr(value), false, false);
      } else if (Enhanced) {
        text = ValueToXMLText(value);
      } else {
        text = ModelText(value);
      }
      if (!text.empty() && text.find_first_not_of(u" \t\r\n") == UnicodeString::npos && !element.HasChildNodes()) {
        element.AppendCData(text);  // a text of white space alone would be dropped by a reader
      } else {
        element.SetText(text);
      }
      for (const TqzAttribute& a : part.Attributes) {
        element.SetAttribute(a.Name, IsTextType(a.Value.VarType())
                                         ? TqzXMLTools::PrepareString(VarToStr(a.Value), false, false)
                                         : ModelText(a.Value));
      }
      valued[Identity(element)] = value.VarType();
    }

    // An element holding a value and further elements must show that it holds a value, or the
    // reader takes it for a mere enclosing element.
    for (auto& [id, type] : valued) {
      XmlNode e(pugi::xml_node(static_cast<pugi::xml_node_struct*>(const_cast<void*>(id))));
      if (e.HasElementChildren() && !HoldsValue(e)) e.SetAttribute(u"Type", TqzTypes::GetVarTypeStr(type));
    }

    if (ChangeProtection) {
      TqzConfigList written;
      ReadConfigNodes(written, root, qzFV_20, Compress, SIZE_MAX, SIZE_MAX);
      root.SetAttribute(u"Hash", platform::ToU16(CalcChangeProtectionHash(written)));
    }
    AnsiString result = doc.SaveToBytes(platform::XmlEncoding::Utf8);
    Message.clear();
    return result;
  } catch (const Exception& e) {
    Message = e.Message;
    throw;
  }
}

AnsiString TqzConfigTools::BuiltConfigString(const UnicodeString& ConfigType, bool Compress, bool Enhanced,
                                             bool NodeNameByAttrib) {
  return BuiltConfigString(ConfigList, ConfigType, Compress, Enhanced, NodeNameByAttrib);
}

// --- Parsing -------------------------------------------------------------------------------------

void TqzConfigTools::ReadConfigNodes(TqzConfigList& CfgList, const XmlNode& Root, TqzCfgFormatVersion Version,
                                     bool Compressed, size_t ValueCap, size_t Budget) {
  const bool pathNames = Version >= qzFV_16;
  const bool nameAttribute = Version >= qzFV_14;
  const bool extraAttributes = Version >= qzFV_13;
  size_t budget = Budget;
  auto spend = [&](size_t bytes) {
    if (bytes > budget) {
      throw Exception(("the configuration text expands beyond " + std::to_string(Budget) + " bytes").c_str());
    }
    budget -= bytes;
  };
  UnicodeString path;
  std::vector<size_t> pathLengths;  // length of `path` before each level entered

  // Walks the elements below Root in document order without recursion, so deep nesting cannot
  // exhaust the stack.
  XmlNode node = Root.FirstChild();
  while (node) {
    if (node.IsElement()) {
      const UnicodeString elementName = node.Name();
      const std::optional<UnicodeString> nameAttr = node.Attribute(u"Name");
      const UnicodeString& ownName = nameAttr && !nameAttr->empty() ? *nameAttr : elementName;

      UnicodeString param, key;
      if (!node.HasElementChildren() || HoldsValue(node)) {
        param = pathNames ? path + ownName : nameAttribute ? ownName : elementName;
        spend(param.size() * 2);
        key = ConfigKey(param);
      }
      // An element with a name of blanks alone makes no part, as no part can be added under it.
      if (!key.empty()) {
        const UnicodeString type = node.Attribute(u"Type").value_or(UnicodeString());
        const bool binary = UpperCaseStr(type) == u"BINARY";
        Variant value;
        if (Compressed) {
          AnsiString bytes = TqzStrings::DecompressString(Base64Bytes(node.Text()), std::min(ValueCap, budget));
          spend(bytes.size());
          value = binary ? Variant::FromAnsi(std::move(bytes)) : Variant::FromOleStr(platform::Utf8ToWide(bytes));
        } else if (binary) {
          value = Variant::FromAnsi(Base64Bytes(node.Text()));
        } else {
          const uint16_t code = TqzTypes::GetVarTypeFromStr(type, varOleStr);
          const Variant v = TqzIXMLDocumentTools::GetNodeValue(node);
          UnicodeString text = v.IsNull() ? UnicodeString() : VarToStr(v);
          if (text.find(u"\r\n") == UnicodeString::npos && text.find(u'\n') != UnicodeString::npos) {
            text = TqzStrings::ReplaceW(text, u"\n", u"\r\n");
          }
          value = TqzTypes::StrToVarExt(text, code);
        }
        const int id = CfgList.TakeFreeSlot();
        CfgList.Activate(id, std::move(param), std::move(key), std::move(value), binary);
        if (extraAttributes) {
          for (pugi::xml_attribute a = node.Raw().first_attribute(); a; a = a.next_attribute()) {
            if (std::strcmp(a.name(), "Name") == 0 || std::strcmp(a.name(), "Type") == 0) continue;
            CfgList.Attributes(id).push_back(
                {platform::Utf8ToWide(a.name()), Variant(platform::Utf8ToWide(a.value()))});
          }
        }
      }

      if (node.HasChildNodes()) {
        pathLengths.push_back(path.size());
        path += ownName;
        path += u'/';
        node = node.FirstChild();
        continue;
      }
    }
    // On to the next node: the next sibling, or the next sibling of the nearest enclosing level.
    while (node && !node.NextSibling()) {
      node = node.Parent();
      if (node == Root) {
        node = XmlNode();
        break;
      }
      path.resize(pathLengths.back());
      pathLengths.pop_back();
    }
    if (node) node = node.NextSibling();
  }
}

bool TqzConfigTools::ParseConfigString(TqzConfigList& CfgList, const AnsiString& Config, UnicodeString& Root,
                                       bool RaiseExceptions) {
  CfgList.Clear();
  size_t b = 0, e = Config.size();
  while (b < e && static_cast<unsigned char>(Config[b]) <= 0x20) ++b;
  while (e > b && static_cast<unsigned char>(Config[e - 1]) <= 0x20) --e;
  if (b == e) return true;
  try {
    XmlDocument doc;
    doc.LoadFromBytes(Config);
    const XmlNode root = doc.DocumentElement();
    Root = root.Name();
    const TqzCfgFormatVersion version = GetConfigFormatVersion(root.Attribute(u"FormatVersion").value_or(u""));
    const bool compressed = TqzConversion::StrToBool(root.Attribute(u"Compressed").value_or(u""));
    InitList(CfgList, static_cast<int>(root.ChildCount()));
    ReadConfigNodes(CfgList, root, version, compressed, MaxValueSize, MaxParsedSize);
    if (ChangeProtection) {
      UnicodeString hash = root.Attribute(u"Hash").value_or(u"");
      if (hash.size() > 32) hash.resize(32);
      if (CheckChangeProtectionHash(hash, CfgList) != 0) throw Exception("change protection hash mismatch");
    }
    Message.clear();
    CfgList.Trim();
    return true;
  } catch (const Exception& ex) {
    CfgList.Trim();
    Message = ex.Message;
    if (RaiseExceptions) throw;
    return false;
  }
}

bool TqzConfigTools::ParseConfigString(const AnsiString& Config, UnicodeString& Root, bool RaiseExceptions) {
  const bool ok = ParseConfigString(ConfigList, Config, Root, RaiseExceptions);
  RootNodeName = Root;
  return ok;
}

bool TqzConfigTools::ParseConfigString(const AnsiString& Config) {
  return ParseConfigString(ConfigList, Config, RootNodeName, false);
}

// --- Files ---------------------------------------------------------------------------------------

bool TqzConfigTools::SaveConfig(const UnicodeString& FileName, const UnicodeString& ConfigType, bool Compress,
                                bool Enhanced) {
  const AnsiString text = BuiltConfigString(ConfigList, ConfigType, Compress, Enhanced, false);
  return platform::ReplaceFileContent(platform::WideToUtf8(FileName), text, 0666) == 0;
}

bool TqzConfigTools::LoadConfig(const UnicodeString& FileName) {
  AnsiString text;
  if (!TqzFiles::LoadFileToString(FileName, text)) return false;
  return ParseConfigString(ConfigList, text, RootNodeName, false);
}
