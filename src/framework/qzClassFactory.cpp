// TqzClassFactory: construction with the registry overrides, the global instance, and the
// option texts of the TLS component (TqzIndy readers). The store reads and the console tools are in
// qzClassFactoryStore.cpp, the syslog client in qzClassFactoryLog.cpp.
#include "qzClassFactory.h"

#include <functional>

#include "CodePage.h"
#include "Syslog.h"
#include "Exceptions.h"
#include "Variant.h"
#include "qzCipher.h"
#include "qzNet.h"
#include "qzRegistry.h"
#include "qzToolsEvo2.h"

namespace {

// Reads one value of the HTTP key; a missing value gives Default. A value that does not convert
// to the wanted type keeps the field's default and is named in the factory's Message.
class TRegistryReader {
 public:
  explicit TRegistryReader(UnicodeString& message) : message_(message) {}

  template <class T, class Convert>
  void Read(const char16_t* name, const Variant& def, T& field, Convert convert) {
    Variant v = TqzRegistry::GetValue(HKEY_LOCAL_MACHINE, TqzClassFactory::HttpRegistryKey, name, def, false);
    try {
      field = convert(v);
    } catch (const Exception& e) {
      Note(name, e.Message);
    } catch (const std::exception& e) {
      Note(name, platform::Utf8ToWide(e.what()));
    }
  }

 private:
  void Note(const char16_t* name, const UnicodeString& why) {
    if (!message_.empty()) message_ += u"; ";
    message_ += u"registry value HTTP\\" + UnicodeString(name) + u" ignored (" + why + u")";
  }
  UnicodeString& message_;
};

int32_t AsInt(const Variant& v) { return v.AsInteger(); }
bool AsBool(const Variant& v) { return v.AsBool(); }
UnicodeString AsText(const Variant& v) { return VarToStr(v); }
// Texts the system passes through its 8-bit code page.
UnicodeString AsAnsiText(const Variant& v) { return platform::AnsiToWide(platform::WideToAnsi(VarToStr(v))); }

}  // namespace

TqzClassFactory::TqzClassFactory() {
  TRegistryReader r(Message);
  TqzHttpClientOptions& c = HttpClientOptions;
  r.Read(u"MaxAuthRetries", Variant(1), c.MaxAuthRetries, AsInt);
  r.Read(u"RedirectMaximum", Variant(2), c.RedirectMaximum, AsInt);
  r.Read(u"AllowCookies", Variant(false), c.AllowCookies, AsBool);
  r.Read(u"ReadTimeout", Variant(300000), c.ReadTimeout, AsInt);
  r.Read(u"ConnectTimeout", Variant(5000), c.ConnectTimeout, AsInt);
  r.Read(u"BoundIP", Variant(u""), c.BoundIP, AsAnsiText);
  r.Read(u"BoundPort", Variant(0), c.BoundPort, AsInt);
  r.Read(u"BoundPortMin", Variant(0), c.BoundPortMin, AsInt);
  r.Read(u"BoundPortMax", Variant(0), c.BoundPortMax, AsInt);
  r.Read(u"UseSSL", Variant(false), c.SSL.Active, AsBool);
  r.Read(u"CertFile", Variant(u""), c.SSL.CertFile, AsText);
  r.Read(u"CipherList", Variant(u""), c.SSL.CipherList, AsAnsiText);
  r.Read(u"KeyFile", Variant(u""), c.SSL.KeyFile, AsText);
  r.Read(u"RootCertFile", Variant(u""), c.SSL.RootCertFile, AsText);
  r.Read(u"VerifyDepth", Variant(1), c.SSL.VerifyDepth, AsInt);
  r.Read(u"VerifyDirs", Variant(u""), c.SSL.VerifyDirs, AsAnsiText);
  r.Read(u"Password", Variant(u""), c.SSL.Password, [](const Variant& v) {
    return platform::AnsiToWide(TqzCipher::DecodeLogon(platform::WideToAnsi(VarToStr(v))));
  });
  r.Read(u"Method", Variant(u"TLSv1_2"), c.SSL.Method,
         [](const Variant& v) { return TqzIndy::GetSSLMethod(VarToStr(v)); });
  r.Read(u"SSLVersions", Variant(u"[TLSv1_2]"), c.SSL.SSLVersions,
         [](const Variant& v) { return TqzIndy::GetSSLVersions(VarToStr(v)); });
  r.Read(u"Mode", Variant(u"Both"), c.SSL.Mode,
         [](const Variant& v) { return TqzIndy::GetSSLMode(VarToStr(v)); });
  r.Read(u"VerifyMode", Variant(u""), c.SSL.VerifyMode,
         [](const Variant& v) { return TqzIndy::GetSSLVerifyMode(VarToStr(v)); });
}

TqzClassFactory::~TqzClassFactory() = default;

std::unique_ptr<platform::SyslogClient> TqzClassFactory::CreateSysLogClient() const {
  auto client = std::make_unique<platform::SyslogClient>();
  client->Host = platform::WideToUtf8(SysLogClientOptions.Server);
  client->Port = SysLogClientOptions.Port;
  client->ReceiveTimeOut = SysLogClientOptions.ReceiveTimeOut;
  return client;
}

// ---- The global instance ---------------------------------------------------------------------

TqzGlobalClassFactory GlobalClassFactory;

TqzClassFactory* TqzGlobalClassFactory::get() {
  std::call_once(once_, [this] { factory_ = std::make_unique<TqzClassFactory>(); });
  return factory_.get();
}

// ---- Option texts ------------------------------------------------------------------------------

TIdSSLVersion TqzIndy::GetSSLMethod(const UnicodeString& Method) {
  static const struct {
    const char16_t* text;
    TIdSSLVersion version;
  } kMethods[] = {{u"SSLV2", sslvSSLv2},     {u"SSLV23", sslvSSLv23},   {u"SSLV3", sslvSSLv3},
                  {u"TLSV1", sslvTLSv1},     {u"TLSV1_1", sslvTLSv1_1}, {u"TLSV1_2", sslvTLSv1_2},
                  {u"TLSV1_3", sslvTLSv1_3}};
  const UnicodeString upper = UpperCaseStr(Method);
  for (const auto& m : kMethods)
    if (upper == m.text) return m.version;
  throw Exception(u"unknown TLS version '" + Method + u"'");
}

TIdSSLVersions TqzIndy::GetSSLVersions(const UnicodeString& Versions) {
  UnicodeString text;
  for (char16_t ch : Versions)
    if (ch != u'[' && ch != u']') text.push_back(ch);
  if (text.empty()) return TIdSSLVersions{sslvTLSv1_2, sslvTLSv1_3};
  TIdSSLVersions result;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(u',', start);
    result.Include(GetSSLMethod(text.substr(start, comma == UnicodeString::npos ? UnicodeString::npos : comma - start)));
    if (comma == UnicodeString::npos) break;
    start = comma + 1;
  }
  return result;
}

TIdSSLMode TqzIndy::GetSSLMode(const UnicodeString& Mode) {
  const UnicodeString upper = UpperCaseStr(Mode);
  if (upper == u"UNASSIGNED") return sslmUnassigned;
  if (upper == u"CLIENT") return sslmClient;
  if (upper == u"BOTH") return sslmBoth;
  return sslmServer;
}

TIdSSLVerifyModeSet TqzIndy::GetSSLVerifyMode(const UnicodeString& Mode) {
  if (Mode.empty()) return TIdSSLVerifyModeSet{sslvrfPeer};
  const UnicodeString upper = UpperCaseStr(Mode);
  TIdSSLVerifyModeSet result;
  if (upper.find(u"VRFPEER") != UnicodeString::npos) result.Include(sslvrfPeer);
  if (upper.find(u"VRFFAILIFNOPEERCERT") != UnicodeString::npos) result.Include(sslvrfFailIfNoPeerCert);
  if (upper.find(u"VRFCLIENTONCE") != UnicodeString::npos) result.Include(sslvrfClientOnce);
  return result;
}

TIdIPVersion TqzIndy::GetIPVersion(const AnsiString& IP) {
  return IP.find(':') != AnsiString::npos ? Id_IPv6 : Id_IPv4;
}
