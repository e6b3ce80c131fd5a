// TqzFiles: MIME types and file-type lists.
#include "CodePage.h"
#include "SysUtils.h"
#include "Variant.h"
#include "qzFiles.h"
#include "qzFilesInternal.h"
#include "qzRegistry.h"
#include "qzStrings.h"
#include "qzToolsEvo2.h"

using namespace qzfiles;

namespace {

// The MIME type table: lower-case extension without dot, MIME type; searched from row 0.
struct MimeRow {
  const char* Ext;
  const char* Type;
};

constexpr MimeRow MimeTypeTable[] = {
    {"", "application/octet-stream"},
    {"rlk", "application/octet-stream"},
    {"lic", "application/octet-stream"},
    {"eml", "message/rfc822"},
    {"xml", "text/xml"},
    {"txt", "text/plain"},
    {"bmp", "image/bmp"},
    {"cod", "image/cis-cod"},
    {"gif", "image/gif"},
    {"png", "image/png"},
    {"ief", "image/ief"},
    {"jpg", "image/jpeg"},
    {"jpe", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"jfif", "image/pipeg"},
    {"svg", "image/svg+xml"},
    {"tif", "image/tiff"},
    {"tiff", "image/tiff"},
    {"ras", "image/x-cmu-raster"},
    {"cmx", "image/x-cmx"},
    {"ico", "image/x-icon"},
    {"pnm", "image/x-portable-anymap"},
    {"pbm", "image/x-portable-bitmap"},
    {"pgm", "image/x-portable-graymap"},
    {"ppm", "image/x-portable-pixmap"},
    {"rgb", "image/x-rgb"},
    {"xbm", "image/x-xbitmap"},
    {"xpm", "image/x-xpixmap"},
    {"xwd", "image/x-xwindowdump"},
    {"mht", "message/rfc822"},
    {"mhtml", "message/rfc822"},
    {"nws", "message/rfc822"},
    {"css", "text/css"},
    {"323", "text/h323"},
    {"htm", "text/html"},
    {"html", "text/html"},
    {"stm", "text/html"},
    {"pdf", "application/pdf"},
    {"ps", "application/postscript"},
    {"ai", "application/postscript"},
    {"eps", "application/postscript"},
    {"evy", "application/envoy"},
    {"fif", "application/fractals"},
    {"spl", "application/futuresplash"},
    {"hta", "application/hta"},
    {"acx", "application/internet-property-stream"},
    {"hqx", "application/mac-binhex40"},
    {"doc", "application/msword"},
    {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
    {"dot", "application/msword"},
    {"*", "application/octet-stream"},
    {"bin", "application/octet-stream"},
    {"class", "application/octet-stream"},
    {"dms", "application/octet-stream"},
    {"exe", "application/octet-stream"},
    {"lha", "application/octet-stream"},
    {"lzh", "application/octet-stream"},
    {"oda", "application/oda"},
    {"axs", "application/olescript"},
    {"prf", "application/pics-rules"},
    {"p10", "application/pkcs10"},
    {"crl", "application/pkix-crl"},
    {"rtf", "application/rtf"},
    {"setpay", "application/set-payment-initiation"},
    {"setreg", "application/set-registration-initiation"},
    {"xls", "application/vnd.ms-excel"},
    {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
    {"xla", "application/vnd.ms-excel"},
    {"xlc", "application/vnd.ms-excel"},
    {"xlm", "application/vnd.ms-excel"},
    {"xlt", "application/vnd.ms-excel"},
    {"xlw", "application/vnd.ms-excel"},
    {"msg", "application/vnd.ms-outlook"},
    {"msg", "application/x-msg"},
    {"sst", "application/vnd.ms-pkicertstore"},
    {"cat", "application/vnd.ms-pkiseccat"},
    {"stl", "application/vnd.ms-pkistl"},
    {"ppt", "application/vnd.ms-powerpoint"},
    {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
    {"pot", "application/vnd.ms-powerpoint"},
    {"pps", "application/vnd.ms-powerpoint"},
    {"mpp", "application/vnd.ms-project"},
    {"wks", "application/vnd.ms-works"},
    {"wcm", "application/vnd.ms-works"},
    {"wdb", "application/vnd.ms-works"},
    {"wps", "application/vnd.ms-works"},
    {"hlp", "application/winhlp"},
    {"bcpio", "application/x-bcpio"},
    {"cdf", "application/x-cdf"},
    {"z", "application/x-compress"},
    {"tgz", "application/x-compressed"},
    {"cpio", "application/x-cpio"},
    {"csh", "application/x-csh"},
    {"dcr", "application/x-director"},
    {"dir", "application/x-director"},
    {"dxr", "application/x-director"},
    {"dvi", "application/x-dvi"},
    {"gtar", "application/x-gtar"},
    {"gz", "application/x-gzip"},
    {"hdf", "application/x-hdf"},
    {"ins", "application/x-internet-signup"},
    {"isp", "application/x-internet-signup"},
    {"iii", "application/x-iphone"},
    {"js", "application/x-javascript"},
    {"latex", "application/x-latex"},
    {"mdb", "application/x-msaccess"},
    {"crd", "application/x-mscardfile"},
    {"clp", "application/x-msclip"},
    {"dll", "application/octet-stream"},
    {"m13", "application/x-msmediaview"},
    {"m14", "application/x-msmediaview"},
    {"mvb", "application/x-msmediaview"},
    {"wmf", "application/x-msmetafile"},
    {"mny", "application/x-msmoney"},
    {"pub", "application/x-mspublisher"},
    {"scd", "application/x-msschedule"},
    {"trm", "application/x-msterminal"},
    {"wri", "application/x-mswrite"},
    {"cdf", "application/x-netcdf"},
    {"nc", "application/x-netcdf"},
    {"pma", "application/x-perfmon"},
    {"pmc", "application/x-perfmon"},
    {"pml", "application/x-perfmon"},
    {"pmr", "application/x-perfmon"},
    {"pmw", "application/x-perfmon"},
    {"p12", "application/x-pkcs12"},
    {"pfx", "application/x-pkcs12"},
    {"p7b", "application/x-pkcs7-certificates"},
    {"spc", "application/x-pkcs7-certificates"},
    {"p7r", "application/x-pkcs7-certreqresp"},
    {"p7c", "application/x-pkcs7-mime"},
    {"p7m", "application/x-pkcs7-mime"},
    {"p7s", "application/x-pkcs7-signature"},
    {"sh", "application/x-sh"},
    {"shar", "application/x-shar"},
    {"swf", "application/x-shockwave-flash"},
    {"sit", "application/x-stuffit"},
    {"sv4cpio", "application/x-sv4cpio"},
    {"sv4crc", "application/x-sv4crc"},
    {"tar", "application/x-tar"},
    {"tcl", "application/x-tcl"},
    {"tex", "application/x-tex"},
    {"texi", "application/x-texinfo"},
    {"texinfo", "application/x-texinfo"},
    {"roff", "application/x-troff"},
    {"t", "application/x-troff"},
    {"tr", "application/x-troff"},
    {"man", "application/x-troff-man"},
    {"me", "application/x-troff-me"},
    {"ms", "application/x-troff-ms"},
    {"ustar", "application/x-ustar"},
    {"src", "application/x-wais-source"},
    {"cer", "application/x-x509-ca-cert"},
    {"crt", "application/x-x509-ca-cert"},
    {"der", "application/x-x509-ca-cert"},
    {"pko", "application/ynd.ms-pkipko"},
    {"zip", "application/zip"},
    {"zip", "application/x-zip-compressed"},
    {"au", "audio/basic"},
    {"snd", "audio/basic"},
    {"mid", "audio/mid"},
    {"rmi", "audio/mid"},
    {"mp3", "audio/mpeg"},
    {"aif", "audio/x-aiff"},
    {"aifc", "audio/x-aiff"},
    {"aiff", "audio/x-aiff"},
    {"m3u", "audio/x-mpegurl"},
    {"ra", "audio/x-pn-realaudio"},
    {"ram", "audio/x-pn-realaudio"},
    {"wav", "audio/x-wav"},
    {"uls", "text/iuls"},
    {"bas", "text/plain"},
    {"pas", "text/plain"},
    {"c", "text/plain"},
    {"h", "text/plain"},
    {"rtx", "text/richtext"},
    {"sct", "text/scriptlet"},
    {"tsv", "text/tab-separated-values"},
    {"htt", "text/webviewhtml"},
    {"htc", "text/x-component"},
    {"etx", "text/x-setext"},
    {"vcf", "text/x-vcard"},
    {"mpg", "video/mpeg"},
    {"mp2", "video/mpeg"},
    {"mpa", "video/mpeg"},
    {"mpe", "video/mpeg"},
    {"mpeg", "video/mpeg"},
    {"mpv2", "video/mpeg"},
    {"mov", "video/quicktime"},
    {"qt", "video/quicktime"},
    {"lsf", "video/x-la-asf"},
    {"lsx", "video/x-la-asf"},
    {"asf", "video/x-ms-asf"},
    {"asr", "video/x-ms-asf"},
    {"asx", "video/x-ms-asf"},
    {"avi", "video/x-msvideo"},
    {"movie", "video/x-sgi-movie"},
    {"flr", "x-world/x-vrml"},
    {"vrml", "x-world/x-vrml"},
    {"wrl", "x-world/x-vrml"},
    {"wrz", "x-world/x-vrml"},
    {"xaf", "x-world/x-vrml"},
    {"xof", "x-world/x-vrml"},
    {"xps", "application/vnd.ms-xpsdocument"},
    {"fax", "image/g3fax"},
    {"odt", "application/vnd.oasis.opendocument.text"},
};
static_assert(sizeof(MimeTypeTable) / sizeof(MimeTypeTable[0]) == 206);

UnicodeString ReplaceAll(const UnicodeString& text, const UnicodeString& from, const UnicodeString& to) {
  if (from.empty()) return text;
  UnicodeString out;
  size_t pos = 0;
  for (size_t hit = text.find(from); hit != UnicodeString::npos; hit = text.find(from, pos)) {
    out.append(text, pos, hit - pos);
    out += to;
    pos = hit + from.size();
  }
  out.append(text, pos, UnicodeString::npos);
  return out;
}

bool FindsAnything(const UnicodeString& pathOrMask) { return !FindEntries(pathOrMask, EntryFilter::Any).empty(); }

}  // namespace

UnicodeString TqzFiles::GetMIMEType(const UnicodeString& FileName, const UnicodeString& Default) {
  try {
    const UnicodeString ext = NameExtension(FileName);
    const UnicodeString key = LowerCaseStr(ext.empty() ? ext : ext.substr(1));
    for (const MimeRow& row : MimeTypeTable)
      if (key == platform::ToU16(row.Ext)) return platform::ToU16(row.Type);
    UnicodeString type =
        VarToStr(TqzRegistry::GetValue(HKEY_CLASSES_ROOT, u"." + key, u"Content Type", Variant(Default), false));
    return type.empty() ? Default : type;
  } catch (...) {
    return Default;
  }
}

UnicodeString TqzFiles::GetExtensionFromMimeType(const UnicodeString& MimeType) {
  try {
    const UnicodeString type = LowerCaseStr(MimeType);
    for (const MimeRow& row : MimeTypeTable)
      if (type == platform::ToU16(row.Type)) {
        if (row.Ext[0] != 0) return platform::ToU16(row.Ext);
        break;
      }
    return VarToStr(
        TqzRegistry::GetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\kesta\\System\\ContentTypes", type, Variant(u""), false));
  } catch (...) {
    return u"";
  }
}

bool TqzFiles::FileTypeExists(const TStrings& FileList) {
  try {
    for (int i = 0; i < FileList.Count(); ++i)
      if (FindsAnything(FileList.Get(i))) return true;
  } catch (...) {
  }
  return false;
}

bool TqzFiles::FileTypeExists(const UnicodeString& Path, const TStrings& FileNameList) {
  try {
    for (int i = 0; i < FileNameList.Count(); ++i)
      if (FindsAnything(Path + FileNameList.Get(i))) return true;
  } catch (...) {
  }
  return false;
}

bool TqzFiles::GetFilePathesWithTypesInList(const UnicodeString& AFilePath, const TStrings& AllowedList,
                                            TStrings& FilePathesResult, bool IsStarReplacerAllowed) {
  (void)IsStarReplacerAllowed;  // the star of the extension always acts as a mask
  try {
    const UnicodeString ext = GetFileExtention(AFilePath);
    bool ok = true;
    int added = 0;
    for (int i = 0; i < AllowedList.Count(); ++i) {
      const UnicodeString candidate = u"." + AllowedList.Get(i);
      if (!TqzStrings::EqualsExW(candidate, ext, true, true, u"*", u"")) continue;
      const UnicodeString replaced = ReplaceAll(AFilePath, ext, candidate);
      if (TqzStrings::EndsWith(replaced, candidate, true)) {
        FilePathesResult.Add(replaced);
        ++added;
      } else {
        ok = false;
      }
    }
    return ok && added > 0;
  } catch (...) {
    return false;
  }
}

int32_t TqzFiles::GetFileTypesFromPathList(const TStrings& PathList, TStrings& ResultList) {
  if (auto* list = dynamic_cast<TStringList*>(&ResultList)) list->SetDuplicates(dupIgnore);
  for (int i = 0; i < PathList.Count(); ++i) ResultList.Add(GetFileExtention(PathList.Get(i)));
  return ResultList.Count();
}

bool TqzFiles::GetValidFileTypesInList(const UnicodeString& AFileName, const TStrings& AllowedList,
                                       TStrings& IncludedFileTypes, bool IsStarReplacerAllowed) {
  const UnicodeString ext = GetFileExtention(AFileName);
  const bool all = IsStarReplacerAllowed && platform::Trim(ext) == u"*";
  bool taken = false;
  for (int i = 0; i < AllowedList.Count(); ++i) {
    const UnicodeString entry = AllowedList.Get(i);
    if (all || TqzStrings::EqualsW(entry, ext, true, true)) {
      IncludedFileTypes.Add(entry);
      taken = true;
    }
  }
  return taken;
}
