// TqzConfigManager: export of a subtree into an XML file, as a plain document (Type "Default")
// or as a package (Type "Package", with name, version, date, identity, "Hash" and the release it
// needs); an export into an existing package file appends one more "Content" element.
//
//   <?xml version="1.0" encoding="UTF-8"?>
//   <n7Document FormatVersion="1.5" Type="Package" PackageName=".." PackageVersion="1.0.0.0"
//               PackageDate="2024-01-02 03:04:05" PackageId="<32 hex>" Hash="<MD5>" ReleaseRequired="..">
//     <Info Contains="MarkDown">description</Info>
//     <Content RootNode="/a/b">
//       <Property Name="X" DataType="INT">5</Property>
//       <Node Name="c"><Property Name="Blob" DataType="BINARY" Compressed="true">...</Property></Node>
//     </Content>
//   </n7Document>
//
// The document is streamed into a temporary file beside the target while the tree is read, one
// node's values at a time (a binary's text alone, read when it is written), and renamed over the
// target at the end; an existing package that gets one more "Content" is read first and written
// out again in front of it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <sstream>
#include <unordered_map>
#include <unordered_set>

#include "Clock.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "SysUtils.h"
#include "XmlDocument.h"
#include "qzBase64.h"
#include "qzConfigManager.h"
#include "qzConversion.h"
#include "qzDateTime.h"
#include "qzFiles.h"
#include "qzMD5.h"
#include "qzScriptTools.h"
#include "qzStringsServices.h"
#include "qzTools.h"
#include "qzToolsEvo2.h"
#include "qzXMLTools.h"

namespace {

constexpr std::size_t kWriteChunk = 1 << 20;

const UnicodeString kExclusionsKey = u"/kesta/Classes/Behaviour/Export/Exclusions";
const UnicodeString kDefaultsKey = u"/kesta/Classes/Behaviour/Export/Defaults";

// UTF-8 made one UTF-16 code unit at a time: a surrogate pair gives two three-byte sequences.
std::string CodeUnitUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// The file name with its extension replaced by ".xml" (appended when it has none).
UnicodeString XmlFileName(const UnicodeString& fileName) {
  const std::size_t slash = fileName.find_last_of(u"/\\");
  const std::size_t dot = fileName.rfind(u'.');
  if (dot != UnicodeString::npos && (slash == UnicodeString::npos || dot > slash)) {
    return fileName.substr(0, dot) + u".xml";
  }
  return fileName + u".xml";
}

}  // namespace

// =============================================================================================
// The streaming writer: markup and escaped texts into a temporary file, renamed at Commit.

class TqzConfigManager::TqzExportWriter {
 public:
  TqzExportWriter(const UnicodeString& target, bool utf16) : target_(platform::WideToUtf8(target)), utf16_(utf16) {
    std::random_device rd;
    tmp_ = target_ + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(rd());
    fd_ = ::open(tmp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0) Fail(errno);
    if (utf16_) buffer_ = "\xFF\xFE";
  }
  ~TqzExportWriter() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_) ::unlink(tmp_.c_str());
  }
  TqzExportWriter(const TqzExportWriter&) = delete;
  TqzExportWriter& operator=(const TqzExportWriter&) = delete;

  bool Utf16() const { return utf16_; }

  // Markup as it stands.
  void Raw(std::u16string_view text) { Put(text); }
  // UTF-8 markup (an existing document's elements).
  void RawUtf8(std::string_view utf8) {
    if (utf16_) {
      Put(platform::Utf8ToWide(utf8));
    } else {
      buffer_ += utf8;
      if (buffer_.size() >= kWriteChunk) Flush();
    }
  }
  // Text of ASCII characters only that needs no escaping (Base64), as it stands.
  void Ascii(std::string_view text) {
    while (!text.empty()) {
      const std::string_view part = text.substr(0, kWriteChunk);
      if (utf16_) {
        for (char c : part) {
          buffer_ += c;
          buffer_ += '\0';
        }
      } else {
        buffer_ += part;
      }
      text.remove_prefix(part.size());
      if (buffer_.size() >= kWriteChunk) Flush();
    }
  }
  // Character data: characters XML cannot hold become blanks; "&", "<", ">" and CR escaped (and
  // in attribute values also the double quote, TAB and LF), so every text reads back as written.
  // The text goes to the file piece by piece: a large value is never held a second time.
  void Escaped(std::u16string_view text, bool attribute) {
    ScanXmlChars(
        text,
        [&](std::size_t pos, std::size_t len) {
          const std::u16string_view run = text.substr(pos, len);
          std::size_t start = 0;
          for (std::size_t i = 0; i < run.size(); ++i) {
            const char16_t* entity = Entity(run[i], attribute);
            if (!entity) continue;
            Put(run.substr(start, i - start));
            Put(entity);
            start = i + 1;
          }
          Put(run.substr(start));
        },
        [&](char16_t) { Put(u" "); });
  }
  void Attribute(std::u16string_view name, const UnicodeString& value) {
    Raw(u" ");
    Raw(name);
    Raw(u"=\"");
    Escaped(value, true);
    Raw(u"\"");
  }

  void Commit() {
    Flush();
    if (::fsync(fd_) != 0) Fail(errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) Fail(errno);
    if (::rename(tmp_.c_str(), target_.c_str()) != 0) Fail(errno);
    committed_ = true;
  }

 private:
  static const char16_t* Entity(char16_t c, bool attribute) {
    switch (c) {
      case u'&': return u"&amp;";
      case u'<': return u"&lt;";
      case u'>': return u"&gt;";
      case u'\r': return u"&#13;";
      case u'"': return attribute ? u"&quot;" : nullptr;
      case u'\t': return attribute ? u"&#9;" : nullptr;
      case u'\n': return attribute ? u"&#10;" : nullptr;
      default: return nullptr;
    }
  }
  // UTF-16 units into the buffer in the file's encoding (a lone surrogate as U+FFFD in UTF-8),
  // written out whenever a chunk is full.
  void Put(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char16_t c = text[i];
      if (utf16_) {
        buffer_ += static_cast<char>(c & 0xFF);
        buffer_ += static_cast<char>(c >> 8);
      } else if (c < 0x80) {
        buffer_ += static_cast<char>(c);
      } else if (c < 0x800) {
        buffer_ += static_cast<char>(0xC0 | (c >> 6));
        buffer_ += static_cast<char>(0x80 | (c & 0x3F));
      } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        const char32_t cp = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[++i] - 0xDC00);
        buffer_ += static_cast<char>(0xF0 | (cp >> 18));
        buffer_ += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        buffer_ += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        buffer_ += static_cast<char>(0x80 | (cp & 0x3F));
      } else {
        const char16_t unit = c >= 0xD800 && c <= 0xDFFF ? char16_t(0xFFFD) : c;
        buffer_ += static_cast<char>(0xE0 | (unit >> 12));
        buffer_ += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
        buffer_ += static_cast<char>(0x80 | (unit & 0x3F));
      }
      if (buffer_.size() >= kWriteChunk) Flush();
    }
  }
  void Flush() {
    std::size_t done = 0;
    while (done < buffer_.size()) {
      const ssize_t w = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
      if (w < 0) {
        if (errno == EINTR) continue;
        Fail(errno);
      }
      done += static_cast<std::size_t>(w);
    }
    buffer_.clear();
  }
  [[noreturn]] void Fail(int err) {
    throw Exception(u"cannot write file " + platform::Utf8ToWide(target_) + u": " +
                    platform::Utf8ToWide(std::strerror(err)));
  }

  std::string target_;
  std::string tmp_;
  bool utf16_ = false;
  int fd_ = -1;
  bool committed_ = false;
  std::string buffer_;
};

// =============================================================================================
// Texts of the format

TqzExportFormatVersion TqzConfigManager::GetExportFormatVersion(const UnicodeString& Version) {
  if (Version == u"1.2") return qzEFV_V1_2;
  if (Version == u"1.3") return qzEFV_V1_3;
  if (Version == u"1.4") return qzEFV_V1_4;
  if (Version == u"1.5") return qzEFV_V1_5;
  return qzEFV_Unknown;
}

UnicodeString TqzConfigManager::GetExportFormatVersionStr(TqzExportFormatVersion Version) {
  switch (Version) {
    case qzEFV_V1_2: return u"1.2";
    case qzEFV_V1_3: return u"1.3";
    case qzEFV_V1_4: return u"1.4";
    case qzEFV_V1_5: return u"1.5";
    default: return u"Unknown";
  }
}

TqzPackageDescriptionType TqzConfigManager::GetPackageDescriptionType(const UnicodeString& DType) {
  const UnicodeString upper = UpperCaseStr(DType);
  if (upper == u"PLAINTEXT") return qzPDT_PlainText;
  if (upper == u"MARKDOWN") return qzPDT_MarkDown;
  if (upper == u"RICHTEXT") return qzPDT_RichText;
  return qzPDT_Unknown;
}

UnicodeString TqzConfigManager::GetPackageDescriptionTypeStr(TqzPackageDescriptionType DType) {
  switch (DType) {
    case qzPDT_PlainText: return u"PlainText";
    case qzPDT_MarkDown: return u"MarkDown";
    case qzPDT_RichText: return u"RichText";
    default: return {};
  }
}

AnsiString TqzConfigManager::GetPackageHash(const UnicodeString& PackageName, const UnicodeString& PackageVersion,
                                            const UnicodeString& PackageId, const UnicodeString& PackageDate) {
  return TqzMD5::GetMD5FromString(CodeUnitUtf8(PackageName + PackageVersion + PackageId + PackageDate));
}

UnicodeString TqzConfigManager::PackageDateText(TDateTime Value) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
  platform::DecodeDate(Value, year, month, day);
  platform::DecodeTime(Value, hour, minute, second, ms);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
  return platform::ToU16(text);
}

// =============================================================================================
// Export

bool TqzConfigManager::Export(const UnicodeString& RootKey, const UnicodeString& FileName, bool SubNodes,
                              bool AsPackage, const UnicodeString& PackageName, const UnicodeString& PackageVersion,
                              const UnicodeString& InfoText, bool OverwritePackage, TCharEncodeType Encoding,
                              const TProgressCallBackProc& CallBack, const TStrings* ValidProperties,
                              TqzPackageDescriptionType InfoTextType, bool PWProtectScripts,
                              const AnsiString& ScriptPassword, bool IncludeChangeInfos,
                              const UnicodeString& ReleaseRequired, TqzExportFormatVersion FormatVersion) {
  try {
    const UnicodeString root = PrepareKey(RootKey);
    const UnicodeString packageId = platform::AnsiToWide(TqzTools::CreateId().str());
    const UnicodeString packageDate = PackageDateText(platform::Now());

    // The rules kept in the store: excluded full names, and defaults by full name.
    TProperties exclusions;
    TProperties defaults;
    if (!GetNodeProperties(kExclusionsKey, exclusions, false, false, true, UnicodeString(), AnsiString(), false, true,
                           false)) {
      throw Exception(u"error loading export exclusions");
    }
    if (!GetNodeProperties(kDefaultsKey, defaults, true, false, true, UnicodeString(), AnsiString(), false, true,
                           false)) {
      throw Exception(u"error loading export defaults");
    }
    std::unordered_set<UnicodeString> excluded;
    for (const TProperty& entry : exclusions) excluded.insert(entry.SORTL);
    std::unordered_map<UnicodeString, std::size_t> defaultOf;
    for (std::size_t i = 0; i < defaults.size(); ++i) defaultOf.emplace(defaults[i].SORTL, i);
    const UnicodeString scriptsRoot = UpperCaseStr(u"/kesta/Scripts");
    auto isExcluded = [&](const UnicodeString& key, const UnicodeString& name) {
      const UnicodeString full = UpperCaseStr(Convert2VisKey(key) + u"/" + name);
      return (name == u"Redirect" && full.starts_with(scriptsRoot)) || excluded.count(full) > 0;
    };

    TqzFiles::CreatePath(FileName, true);
    const UnicodeString target = XmlFileName(FileName);
    const bool append = AsPackage && !OverwritePackage && TqzFiles::FileExists(target);

    TqzExportFormatVersion format = FormatVersion;
    if (format < qzEFV_V1_2 || format > qzEFV_V1_5) format = qzEFV_V1_5;
    bool utf16 = Encoding == qzCE_UTF16;

    // An existing package keeps its root, its attributes, its encoding and what it holds.
    platform::XmlDocument existing;
    if (append) {
      existing.LoadFromFile(target);
      const std::string head = [&] {
        FILE* f = std::fopen(platform::WideToUtf8(target).c_str(), "rb");
        char bytes[2] = {0, 0};
        std::size_t got = f ? std::fread(bytes, 1, 2, f) : 0;
        if (f) std::fclose(f);
        return std::string(bytes, got);
      }();
      utf16 = head == "\xFF\xFE" || head == "\xFE\xFF";
      const UnicodeString version = existing.DocumentElement().Attribute(u"FormatVersion").value_or(u"");
      // The values of the new Content follow the file's own format where it names one.
      if (GetExportFormatVersion(version) != qzEFV_Unknown) format = GetExportFormatVersion(version);
    }
    const bool v12 = format == qzEFV_V1_2;

    // The 1.2 text rule: each byte of the text's UTF-8 form becomes the character the ANSI code
    // page gives it. UTF-16 files get it too: every reader decodes 1.2 texts this way whatever
    // the encoding, so a plain text would come back changed.
    auto encodeText = [&](const UnicodeString& text) -> UnicodeString {
      const std::string bytes = CodeUnitUtf8(text);
      UnicodeString out;
      out.reserve(bytes.size());
      for (unsigned char b : bytes) out += platform::AnsiCharToWide(b);
      return out;
    };

    TqzExportWriter out(target, utf16);
    out.Raw(utf16 ? u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n" : u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    UnicodeString rootName = u"n7Document";
    if (append) {
      platform::XmlNode rootElement = existing.DocumentElement();
      rootName = rootElement.Name();
      out.Raw(u"<" + rootName);
      for (const platform::XmlAttribute& a : rootElement.Attributes()) out.Attribute(a.Name, a.Value);
      out.Raw(u">");
      for (platform::XmlNode child = rootElement.FirstChild(); child; child = child.NextSibling()) {
        std::ostringstream text;
        child.Raw().print(text, "", pugi::format_raw, pugi::encoding_utf8);
        out.RawUtf8(text.str());
      }
    } else {
      out.Raw(u"<n7Document");
      out.Attribute(u"FormatVersion", GetExportFormatVersionStr(format));
      out.Attribute(u"Type", AsPackage ? u"Package" : u"Default");
      if (AsPackage) {
        out.Attribute(u"PackageName", PackageName);
        out.Attribute(u"PackageVersion", PackageVersion);
        out.Attribute(u"PackageDate", packageDate);
        out.Attribute(u"PackageId", packageId);
        out.Attribute(u"Hash", platform::AnsiToWide(GetPackageHash(PackageName, PackageVersion, packageId, packageDate)));
        out.Attribute(u"ReleaseRequired", ReleaseRequired);
      }
      out.Raw(u">");
      if (!InfoText.empty()) {
        out.Raw(u"<Info");
        out.Attribute(u"Contains", GetPackageDescriptionTypeStr(InfoTextType));
        out.Raw(u">");
        out.Escaped(InfoText, false);
        out.Raw(u"</Info>");
      }
    }

    // A binary value's stored Base64 text as its compressed Base64 form, each intermediate form
    // released as soon as the next one is made.
    auto writeCompressed = [&](UnicodeString&& stored) {
      AnsiString base64 = platform::WideToAnsi(stored);
      UnicodeString().swap(stored);
      AnsiString bytes = TqzBase64::Base64ToStr(base64);
      AnsiString().swap(base64);
      AnsiString packed = TqzStringsServices::CompressString(bytes);
      AnsiString().swap(bytes);
      const AnsiString text = TqzBase64::StrToBase64(packed, false);
      AnsiString().swap(packed);
      out.Ascii(text);
    };

    // One "Property" element. `stored`: the stored text of a binary read on its own (the entry
    // then carries no value), else null.
    auto writeProperty = [&](const TProperty& entry, UnicodeString* stored) {
      out.Raw(u"<Property");
      out.Attribute(u"Name", v12 ? encodeText(entry.Name) : entry.Name);
      out.Attribute(u"DataType", entry.DataType);
      if (v12) {
        out.Raw(u">");
        if (TqzTypes::GetVarTypeFromStr(entry.DataType, 13) == varDate) {
          const TDateTime when = entry.Value.IsEmptyOrNull() ? 0 : entry.Value.AsDateTime();
          out.Escaped(platform::AnsiToWide(TqzDateTime::DateTimeToTimeStampStr(when, false)), false);
        } else {
          out.Escaped(encodeText(stored ? *stored : TqzTypes::VarToStrExt(entry.Value)), false);
        }
      } else {
        if (IncludeChangeInfos && !entry.User.empty()) {
          out.Attribute(u"User", entry.User);
          out.Attribute(u"Date", PackageDateText(entry.Changed));
        }
        if (UpperCaseStr(entry.DataType) == u"BINARY") {
          UnicodeString text = stored ? std::move(*stored) : TqzTypes::VarToStrExt(entry.Value);
          if (!text.empty()) out.Attribute(u"Compressed", u"true");
          out.Raw(u">");
          if (!text.empty()) writeCompressed(std::move(text));
        } else {
          out.Raw(u">");
          out.Escaped(TqzTypes::VarToStrExt(entry.Value), false);
        }
      }
      out.Raw(u"</Property>");
    };

    // One node: its values, then its child nodes, to any depth.
    std::function<void(const UnicodeString&, const UnicodeString&, const TIdType&, int)> exportNode =
        [&](const UnicodeString& key, const UnicodeString& nodeName, const TIdType& id, int level) {
          if (level > kMaxTreeLevels) {
            throw Exception(u"the tree below " + Convert2VisKey(root) + u" has more than 256 levels");
          }
          if (isExcluded(key, UnicodeString())) return;
          const UnicodeString visKey = Convert2VisKey(key);
          if (CallBack) CallBack(visKey);
          if (!nodeName.empty()) {
            out.Raw(u"<Node");
            out.Attribute(u"Name", nodeName);
            if (ValidProperties) out.Attribute(u"Complete", u"false");
            out.Raw(u">");
          }
          if (!IsTIdStringEmpty(id)) {
            // Binaries come without their texts and are read one at a time when written, so no
            // more than one large value is held at once (script nodes are read whole: their
            // lock looks at the values).
            const bool scriptNode = UpperCaseStr(key).starts_with(u"KESTA/SCRIPTS/");
            TProperties values;
            std::vector<bool> leftOut;
            ReadNodeProperties(id, visKey, values, true, false, UnicodeString(), false, true, false,
                               scriptNode ? nullptr : &leftOut);
            if (scriptNode) {
              for (const char16_t* name : {u"ScriptBackup", u"LockDate", u"LockUser", u"Markers"}) {
                DeletePropertyValueByName(name, values);
              }
              if (PWProtectScripts) {
                const UnicodeString script =
                    TqzTypes::VarToStrExt(GetPropertyValueByName(u"Script", Variant(u""), values, false));
                if (!script.empty() && !ValueIsTrue(GetPropertyValueByName(u"Secured", Variant(false), values, false))) {
                  const AnsiString locked =
                      TqzScriptTools::LockScript(platform::WideToAnsi(script), TqzMD5::GetMD5FromString(ScriptPassword));
                  SetPropertyValueByName(u"Script", Variant::FromAnsi(locked), values);
                  SetPropertyValueByName(u"Secured", Variant(true), values);
                }
              }
            }
            for (std::size_t index = 0; index < values.size(); ++index) {
              TProperty& entry = values[index];
              if (ValidProperties && ValidProperties->IndexOf(entry.Name) < 0) continue;
              if (isExcluded(key, entry.Name)) continue;
              auto found = defaultOf.find(UpperCaseStr(visKey + u"/" + entry.Name));
              if (found != defaultOf.end()) {
                entry.DataType = defaults[found->second].DataType;
                entry.Value = defaults[found->second].Value;
                writeProperty(entry, nullptr);
              } else if (index < leftOut.size() && leftOut[index]) {
                UnicodeString stored;
                // A value deleted since the node was listed is left out.
                if (!ReadValueText(entry.Id, stored)) continue;
                if (UpperCaseStr(entry.DataType) == u"BINARY") {
                  writeProperty(entry, &stored);
                } else {  // a type the database's collation takes for "BINARY"
                  entry.Value = TqzTypes::StrToVarExt(stored, entry.DataType);
                  writeProperty(entry, nullptr);
                }
              } else {
                writeProperty(entry, nullptr);
              }
              entry.Value = Variant();
            }
          }
          if (SubNodes && !IsTIdStringEmpty(id)) {
            TConfigNodes children;
            ListChildNodes(id, key, false, children);
            for (const TConfigNode& child : children) exportNode(child.Key, child.Name, child.Id, level + 1);
          }
          if (!nodeName.empty()) out.Raw(u"</Node>");
        };

    out.Raw(u"<Content");
    out.Attribute(u"RootNode", Convert2VisKey(root));
    if (ValidProperties) out.Attribute(u"Complete", u"false");
    out.Raw(u">");
    // Listing the children creates the root's rows when they are missing.
    const TIdType rootId = GetParentTreeId(root, SubNodes, false);
    exportNode(root, UnicodeString(), rootId, 0);
    out.Raw(u"</Content></" + rootName + u">");
    out.Commit();
    Message.clear();
    return true;
  } catch (const Exception& e) {
    Message = e.Message;
    RaiseException(Message);
    return false;
  }
}
