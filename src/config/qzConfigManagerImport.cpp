// TqzConfigManager: import of export and package files (or of every ".xml" item of a zip
// archive) into the store, and the header and node list of such a file for display.
//
// Every file is loaded and its header checked (root element, hash, required release) before
// anything is written; a zip archive's item names and sizes are checked first as well.
#include <cstdio>
#include <filesystem>
#include <functional>
#include <unordered_map>

#include "CaseMap.h"
#include "Clock.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "SysUtils.h"
#include "Zip.h"
#include "qzBase64.h"
#include "qzConfigManager.h"
#include "qzConversion.h"
#include "qzFiles.h"
#include "qzKesta.h"
#include "qzStringsServices.h"
#include "qzToolsEvo2.h"
#include "qzVersionTools.h"
#include "qzXMLTools.h"

namespace {

const UnicodeString kScriptsPrefix = u"KESTA/SCRIPTS/";
const UnicodeString kCustomerHelpKey = u"/kesta/Classes/Help/Context/Customer";

// UTF-8 read leniently: a byte that does not begin a complete, valid sequence stands for the
// character of the same code, a sequence cut short by the end ends the text with the character of
// its first byte, and a sequence for a character above U+FFFF gives U+0000.
UnicodeString LenientUtf8(std::string_view bytes) {
  UnicodeString out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const unsigned char lead = static_cast<unsigned char>(bytes[i]);
    std::size_t length = 0;
    uint32_t code = 0;
    uint32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, code = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, code = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, code = lead & 0x07, minimum = 0x10000;
    }
    if (length == 0) {
      out += static_cast<char16_t>(lead);
      ++i;
      continue;
    }
    if (i + length > bytes.size()) {
      out += static_cast<char16_t>(lead);
      break;
    }
    bool valid = true;
    for (std::size_t k = 1; k < length; ++k) {
      const unsigned char c = static_cast<unsigned char>(bytes[i + k]);
      if ((c & 0xC0) != 0x80) valid = false;
      code = (code << 6) | (c & 0x3F);
    }
    if (!valid || code < minimum || code > 0x10FFFF) {
      out += static_cast<char16_t>(lead);
      ++i;
      continue;
    }
    out += code > 0xFFFF ? u'\0' : static_cast<char16_t>(code);
    i += length;
  }
  return out;
}

// The format-1.2 text rule backwards: the text as 8-bit (ANSI code page), decoded as UTF-8.
UnicodeString DecodeV12(const UnicodeString& text) { return LenientUtf8(platform::WideToAnsi(text)); }

// LF turned into CR LF when the text holds no CR LF pair.
UnicodeString CrLf(const UnicodeString& text) {
  if (text.find(u"\r\n") != UnicodeString::npos) return text;
  UnicodeString out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (c == u'\n') out += u'\r';
    out += c;
  }
  return out;
}

// "yyyy-mm-dd hh:nn:ss" (or the date alone); 0 when the text is not of that form.
TDateTime ReadPackageDate(const UnicodeString& text) {
  const std::string t = platform::ToAscii(platform::Trim(text));
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char tail = 0;
  const int n = std::sscanf(t.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail);
  if (n != 3 && n != 6) return 0;
  TDateTime date = 0;
  if (!platform::TryEncodeDate(y, mo, d, date)) return 0;
  if (n == 6) {
    if (h > 23 || mi > 59 || s > 59) return 0;
    date += platform::EncodeTime(h, mi, s, 0);
  }
  return date;
}

bool IsTrueText(const std::optional<UnicodeString>& text) {
  return text && TqzConversion::StrToBool(*text);
}

UnicodeString ElementName(const platform::XmlNode& node) { return UpperCaseStr(platform::Trim(node.Name())); }

struct TqzImportEntry {
  UnicodeString Key;  // prepared form
  TProperties Values;
};

struct TqzImportFile {
  UnicodeString Name;
  std::string Bytes;
  std::unique_ptr<platform::XmlDocument> Document;
  Tn7PackageInformation Info;
};

}  // namespace

// =============================================================================================
// Package information

bool TqzConfigManager::ReadPackageInformation(platform::XmlDocument& XMLDoc, Tn7PackageInformation& Info) {
  const platform::XmlNode root = XMLDoc.DocumentElement();
  if (!root || !root.NameIs(u"n7Document")) {
    Message = u"Unknown XML filetype!";
    RaiseException(Message);
    return false;
  }
  Info.NodeList.clear();
  auto attribute = [&](const char16_t* name) { return TqzIXMLDocumentTools::GetAttribute(root, name, u""); };
  const UnicodeString name = attribute(u"PackageName");
  const UnicodeString version = attribute(u"PackageVersion");
  const UnicodeString id = attribute(u"PackageId");
  const UnicodeString date = attribute(u"PackageDate");
  Info.FormatVersion = GetExportFormatVersion(attribute(u"FormatVersion"));
  Info.IsPackage = UpperCaseStr(attribute(u"Type")) == u"PACKAGE";
  Info.Name = name;
  Info.Id = TIdType(platform::WideToAnsi(id));
  Info.Hash = TIdType(platform::WideToAnsi(attribute(u"Hash")));
  Info.Date = ReadPackageDate(date);
  Info.Description.clear();
  Info.DescriptionType = qzPDT_MarkDown;
  if (const platform::XmlNode info = root.ChildElement(u"Info")) {
    Info.Description = info.Text();
    Info.DescriptionType = GetPackageDescriptionType(TqzIXMLDocumentTools::GetAttribute(info, u"Contains", u"MarkDown"));
  }
  Info.Version = TqzVersionTools::GetVersionFromStr(version);
  Info.ReleaseRequired = TqzVersionTools::GetVersionFromStr(attribute(u"ReleaseRequired"));
  // The hash covers the header texts exactly as the file holds them.
  if (Info.IsPackage && !platform::Trim(platform::AnsiToWide(Info.Hash.str())).empty()) {
    const AnsiString expected = GetPackageHash(name, version, platform::AnsiToWide(Info.Id.str()), date);
    if (expected != Info.Hash.str()) {
      Message = u"Package hash mismatch (" + platform::AnsiToWide(Info.Hash.str()) + u")!";
      RaiseException(Message);
      return false;
    }
  }
  Info.Description = CrLf(Info.Description);
  return true;
}

Tn7PackageInformation TqzConfigManager::GetPackageInformation(platform::XmlDocument& XMLDoc) {
  Tn7PackageInformation info;
  ReadPackageInformation(XMLDoc, info);
  return info;
}

Tn7PackageInformation TqzConfigManager::GetPackageInformation(const UnicodeString& FileName) {
  Tn7PackageInformation info;
  try {
    if (!TqzFiles::FileExists(FileName)) return info;
    platform::XmlDocument document;
    document.LoadFromFile(FileName);
    ReadPackageInformation(document, info);
    info.FileName = FileName;
  } catch (const Exception& e) {
    Message = e.Message;
    RaiseException(Message);
  }
  return info;
}

Tn7PackageInformation TqzConfigManager::GetPackageDetails(const UnicodeString& FileName, bool IncludeProperties) {
  Tn7PackageInformation info;
  try {
    if (!TqzFiles::FileExists(FileName)) return info;
    platform::XmlDocument document;
    document.LoadFromFile(FileName);
    ReadPackageInformation(document, info);
    info.FileName = FileName;
    info.NodeList.clear();
    std::function<void(const UnicodeString&, const UnicodeString&, const platform::XmlNode&, int)> read =
        [&](const UnicodeString& key, const UnicodeString& nodeName, const platform::XmlNode& element, int level) {
          if (level > 256) throw Exception(u"the package nests nodes more than 256 levels deep");
          const std::size_t index = info.NodeList.size();
          info.NodeList.emplace_back();
          const UnicodeString path = nodeName.empty() ? key : key + nodeName + u"/";
          info.NodeList[index].NodeName = path;
          info.NodeList[index].RootNode = level == 1;
          const std::optional<UnicodeString> complete = element.Attribute(u"Complete");
          info.NodeList[index].Complete = !complete || IsTrueText(complete);
          TWideStringArray properties;
          bool subNodes = false;
          for (platform::XmlNode child = element.FirstChild(); child; child = child.NextSibling()) {
            if (!child.IsElement()) continue;
            const UnicodeString kind = ElementName(child);
            if (kind == u"NODE") {
              read(path, child.Attribute(u"Name").value_or(u""), child, level + 1);
              subNodes = true;
            } else if (kind == u"PROPERTY" && IncludeProperties) {
              properties.push_back(DecodeV12(child.Attribute(u"Name").value_or(u"")));
            }
          }
          info.NodeList[index].HasSubNodes = subNodes;
          info.NodeList[index].Properties = std::move(properties);
        };
    const platform::XmlNode root = document.DocumentElement();
    for (platform::XmlNode child = root.FirstChild(); child; child = child.NextSibling()) {
      if (child.IsElement() && child.NameIs(u"Content")) {
        read(PrepareKey(child.Attribute(u"RootNode").value_or(u"")), UnicodeString(), child, 1);
      }
    }
    Message.clear();
  } catch (const Exception& e) {
    Message = e.Message;
    RaiseException(Message);
  }
  return info;
}

bool TqzConfigManager::GetPackageDetails(const UnicodeString& FileName, bool& IsPackage, UnicodeString& InfoText,
                                         UnicodeString& InfoTextType, UnicodeString& PackageName,
                                         UnicodeString& PackageVersion, UnicodeString& PackageId,
                                         std::vector<TqzPackageNode>& NodeList) {
  const Tn7PackageInformation info = GetPackageDetails(FileName, true);
  IsPackage = info.IsPackage;
  PackageName = info.Name;
  PackageVersion = TqzVersionTools::GetVersionStr(info.Version);
  PackageId = platform::AnsiToWide(info.Id.str());
  InfoText = info.Description;
  InfoTextType = GetPackageDescriptionTypeStr(info.DescriptionType);
  NodeList = info.NodeList;
  return true;
}

// =============================================================================================
// Import

bool TqzConfigManager::Import(const UnicodeString& RootKey, const UnicodeString& FileName, UnicodeString& InfoText,
                              const TProgressCallBackProc& CallBack, bool Overwrite, bool UploadPackageData,
                              bool OnlyNodeCallback, bool KeepUserContent, bool IgnoreReleaseWarning) {
  if (!TqzFiles::FileExists(FileName)) return false;
  const UnicodeString rootKey = RootKey.empty() ? UnicodeString() : PrepareKey(RootKey);
  InfoText.clear();
  const bool savedTracking = TrackChanges;
  const UnicodeString savedUser = Username;
  TrackChanges = true;
  Username.clear();
  struct Restore {
    TqzConfigManager& store;
    bool tracking;
    UnicodeString user;
    ~Restore() {
      store.TrackChanges = tracking;
      store.Username = user;
    }
  } restore{*this, savedTracking, savedUser};

  try {
    // The files, each loaded and its header checked before anything is written.
    std::vector<TqzImportFile> files;
    UnicodeString extension;
    {
      const std::size_t dot = FileName.rfind(u'.');
      const std::size_t slash = FileName.find_last_of(u"/\\");
      if (dot != UnicodeString::npos && (slash == UnicodeString::npos || dot > slash)) {
        extension = platform::LowerAscii(FileName.substr(dot));
      }
    }
    if (extension == u".zip") {
      platform::ZipArchive archive(platform::WideToUtf8(FileName), platform::ZipArchive::Mode::Read);
      for (int64_t i = 0; i < archive.Count(); ++i) {
        const platform::ZipItem item = archive.Item(i);
        if (item.IsFolder()) continue;
        const std::string& name = item.Name;
        const std::size_t slash = name.find_last_of("/\\");
        const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
        const bool absolute = !name.empty() && (name[0] == '/' || name[0] == '\\' ||
                                                (name.size() > 1 && name[1] == ':'));
        bool parent = false;  // a ".." part
        for (std::size_t start = 0; start <= name.size();) {
          const std::size_t end = name.find_first_of("/\\", start);
          const std::size_t stop = end == std::string::npos ? name.size() : end;
          if (name.compare(start, stop - start, "..") == 0 && stop - start == 2) parent = true;
          start = stop + 1;
        }
        if (name.empty() || base.empty() || absolute || parent) {
          throw Exception(u"the archive item \"" + platform::Utf8ToWide(name) + u"\" has no acceptable name");
        }
        if (item.Size > MaxPackageItemSize) {
          throw Exception(u"the archive item \"" + platform::Utf8ToWide(name) + u"\" is larger than " +
                          platform::ToU16(std::to_string(MaxPackageItemSize)) + u" bytes");
        }
        if (platform::LowerAscii(std::string_view(base)).ends_with(".xml") == false) continue;
        TqzImportFile file;
        file.Name = platform::Utf8ToWide(base);
        uint64_t total = 0;
        archive.Read(i, [&](const char* data, size_t size) {
          if (file.Bytes.size() + size > MaxPackageItemSize) {
            throw Exception(u"the archive item \"" + platform::Utf8ToWide(name) + u"\" is larger than " +
                            platform::ToU16(std::to_string(MaxPackageItemSize)) + u" bytes");
          }
          file.Bytes.append(data, size);
        }, total);
        files.push_back(std::move(file));
      }
    } else {
      TqzImportFile file;
      file.Name = FileName;
      if (!TqzFiles::LoadFileToString(FileName, file.Bytes)) {
        throw Exception(u"streaming file " + FileName + u" failed!");
      }
      files.push_back(std::move(file));
    }
    const TqzVersion product = TqzKesta::GetProductTqzVersion();
    for (TqzImportFile& file : files) {
      file.Document = std::make_unique<platform::XmlDocument>();
      file.Document->LoadFromBytes(file.Bytes);
      if (!ReadPackageInformation(*file.Document, file.Info) && Message != u"Unknown XML filetype!") {
        throw Exception(Message);
      }
      if (!IgnoreReleaseWarning &&
          TqzVersionTools::CompareVersions(file.Info.ReleaseRequired, product) == qzVC_Newer) {
        throw Exception(u"importing this package requires release " +
                        TqzVersionTools::GetVersionStr(file.Info.ReleaseRequired) + u" or higher!");
      }
    }

    const UnicodeString scriptsPrefix = UpperCaseStr(PrepareKey(u"/kesta/Scripts"));
    // All writes under the store's creation lock, taken once (SQLite: one transaction).
    WithCreationLock([&] {
      for (TqzImportFile& file : files) {
        const Tn7PackageInformation& info = file.Info;
        const bool package = info.IsPackage;
        const platform::XmlNode root = file.Document->DocumentElement();
        UnicodeString lastRoot;
        for (platform::XmlNode content = root.FirstChild(); content; content = content.NextSibling()) {
          if (!content.IsElement() || !content.NameIs(u"Content")) continue;
          const UnicodeString contentRoot = PrepareKey(content.Attribute(u"RootNode").value_or(u""));
          lastRoot = Convert2VisKey(contentRoot);
          const UnicodeString target = !rootKey.empty() && info.Name.empty() ? rootKey : contentRoot;

          // The nodes of this Content, each before its children, with their values.
          std::vector<TqzImportEntry> entries;
          std::function<void(const UnicodeString&, const UnicodeString&, const platform::XmlNode&, int)> collect =
              [&](const UnicodeString& key, const UnicodeString& nodeName, const platform::XmlNode& element, int level) {
                if (level > 256) throw Exception(u"the package nests nodes more than 256 levels deep");
                const std::size_t index = entries.size();
                entries.push_back(TqzImportEntry{nodeName.empty() ? key : key + nodeName + u"/", {}});
                const UnicodeString path = entries[index].Key;
                for (platform::XmlNode child = element.FirstChild(); child; child = child.NextSibling()) {
                  if (!child.IsElement()) continue;
                  const UnicodeString kind = ElementName(child);
                  if (kind == u"NODE") {
                    collect(path, child.Attribute(u"Name").value_or(u""), child, level + 1);
                  } else if (kind == u"PROPERTY") {
                    if (info.FormatVersion == qzEFV_Unknown) throw Exception(u"unknown n7 import format version");
                    TProperty value;
                    const UnicodeString text = child.Text();
                    if (info.FormatVersion == qzEFV_V1_2) {
                      value.Name = DecodeV12(child.Attribute(u"Name").value_or(u""));
                      value.DataType = platform::Trim(child.Attribute(u"DataType").value_or(u"")).substr(0, 8);
                      value.Value = TqzTypes::StrToVarExt(CrLf(DecodeV12(text)), value.DataType);
                    } else {
                      value.Name = child.Attribute(u"Name").value_or(u"");
                      value.DataType =
                          UpperCaseStr(platform::Trim(child.Attribute(u"DataType").value_or(u""))).substr(0, 8);
                      value.User = child.Attribute(u"User").value_or(u"");
                      value.Changed = ReadPackageDate(child.Attribute(u"Date").value_or(u""));
                      if (value.DataType == u"BINARY") {
                        AnsiString bytes = platform::WideToAnsi(text);
                        if (IsTrueText(child.Attribute(u"Compressed"))) {
                          bytes = TqzBase64::StrToBase64(
                              TqzStringsServices::DecompressString(TqzBase64::Base64ToStr(bytes), MaxPackageItemSize),
                              false);
                        }
                        value.Value = Variant::FromAnsi(bytes);
                      } else {
                        const bool stringType = value.DataType == u"UCS2STR" || value.DataType == u"USTRARG" ||
                                                value.DataType == u"STRING" || value.DataType == u"UCS4STR";
                        value.Value = TqzTypes::StrToVarExt(stringType ? CrLf(text) : text, value.DataType);
                      }
                    }
                    entries[index].Values.push_back(std::move(value));
                  } else if (kind == u"INFO") {
                    InfoText = child.Text();
                  }
                }
              };
          collect(target, UnicodeString(), content, 1);

          for (const TqzImportEntry& entry : entries) {
            const UnicodeString visKey = Convert2VisKey(entry.Key);
            if (CallBack && OnlyNodeCallback) CallBack(visKey);
            if (!SetConfigValue(visKey, UnicodeString(), Variant(u""))) throw Exception(Message);
            if (entry.Values.empty()) continue;
            const bool scripts = UpperCaseStr(entry.Key).starts_with(scriptsPrefix);
            if (package && scripts) DeleteConfigValue(visKey, u"Include", true);
            // The node's stored values (names as the table compares them, and whether a user
            // changed them), read once for the write decisions.
            std::unordered_map<UnicodeString, bool> stored;
            if (!Overwrite || KeepUserContent) {
              const TIdType id = GetParentTreeId(visKey, false, false);
              TProperties current;
              if (!IsTIdStringEmpty(id)) {
                ReadNodeProperties(id, visKey, current, false, false, UnicodeString(), false, true, true);
              }
              for (const TProperty& c : current) {
                const bool byUser = TableStructureType == TST_V2 && !c.User.empty();
                auto [it, added] = stored.emplace(CacheFold(c.Name), byUser);
                if (!added) it->second = it->second || byUser;
              }
            }
            for (const TProperty& value : entry.Values) {
              if (scripts && value.Name == u"Redirect") continue;
              const UnicodeString folded = CacheFold(platform::Trim(value.Name));
              const auto found = stored.find(folded);
              bool write = true;
              if (!Overwrite) {
                write = found == stored.end();
              } else if (KeepUserContent) {
                write = found == stored.end() || !found->second;
              }
              if (!write) continue;
              stored[folded] = TableStructureType == TST_V2 && !value.User.empty();
              if (CallBack && !OnlyNodeCallback) CallBack(visKey + u"/" + value.Name);
              if (!SetConfigValue(visKey, value.Name, value.Value, value.DataType, value.User, value.Changed, true)) {
                throw Exception(Message);
              }
              if (value.Name == u"Description") {
                const UnicodeString description = TqzTypes::VarToStrExt(value.Value);
                if (!description.empty() && !SetConfigValue(kCustomerHelpKey, visKey + u"/", Variant(description))) {
                  throw Exception(Message);
                }
              }
            }
          }
        }

        if (package) {
          const UnicodeString version = TqzVersionTools::GetVersionStr(info.Version);
          const UnicodeString details = u"/kesta/Classes/Packages/Details" + Convert2VisKey(info.Name) + u"/" + version;
          bool written = SetConfigValue(details, u"PackageName", Variant(info.Name)) &&
                         SetConfigValue(details, u"PackageVersion", Variant(version)) &&
                         SetConfigValue(details, u"PackageId", Variant::FromAnsi(info.Id.str())) &&
                         SetConfigValue(details, u"RootNode", Variant(lastRoot)) &&
                         SetConfigValue(details, u"ImportDate", Variant::FromDate(platform::Now()));
          if (written && UploadPackageData) {
            written = SetConfigValue(details, u"PackageData", Variant::FromAnsi(TqzBase64::StrToBase64(file.Bytes, false)),
                                     TDataTypeStr(u"BINARY"));
          }
          if (written) written = SetConfigValue(u"/kesta/Classes/Packages/Summary", info.Name, Variant(version));
          if (!written) throw Exception(Message);
        }
      }
    });
    Message.clear();
    return true;
  } catch (const Exception& e) {
    Message = e.Message;
    RaiseException(Message);
    return false;
  }
}
