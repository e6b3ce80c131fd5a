// TqzClassFactory: construction with the registry overrides, the store reads of
// LoadN7Configuration, the global instance, and the option texts of the TLS component (TqzIndy
// readers). The console tools the factory makes are in qzClassFactoryConsole.cpp, the HTTP client
// in qzClassFactoryHttpClient.cpp.
#include "qzClassFactory.h"

#include <functional>
#include <limits>

#include "CodePage.h"
#include "Syslog.h"
#include "Exceptions.h"
#include "Variant.h"
#include "qzCipher.h"
#include "qzConfigManager.h"
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

// Reads the values of one store node: the node's whole value list at once (values and binary
// values, nothing created, no name filter), then each value by name without regard to case, the
// default where the node has none. A value that does not convert raises, naming node and value.
class TStoreNodeReader {
 public:
  explicit TStoreNodeReader(TqzConfigManager& store) : store_(store) {}

  // False when the node cannot be read (a missing node reads as one without values).
  bool Open(const char16_t* node) {
    node_ = node;
    return store_.GetNodeProperties(node, values_, true, false, false, u"", "", false, true, false);
  }
  const TProperties& Values() const { return values_; }

  template <class T, class Convert>
  void Read(const char16_t* name, const Variant& def, T& field, Convert convert) {
    const Variant v = store_.GetPropertyValueByName(name, def, values_, false);
    try {
      field = convert(v);
    } catch (const Exception& e) {
      throw Exception(u"configuration value " + node_ + u"/" + name + u": " + e.Message);
    }
  }

 private:
  TqzConfigManager& store_;
  UnicodeString node_;
  TProperties values_;
};

int32_t AsInt(const Variant& v) { return v.AsInteger(); }
uint32_t AsCardinal(const Variant& v) {
  const int64_t n = v.AsInt64();
  if (n < 0 || n > std::numeric_limits<uint32_t>::max())
    throw EConvertError(u"'" + VarToStr(v) + u"' is not a number from 0 to 4294967295");
  return static_cast<uint32_t>(n);
}
bool AsBool(const Variant& v) { return v.AsBool(); }
UnicodeString AsText(const Variant& v) { return VarToStr(v); }
// Texts the system passes through its 8-bit code page.
UnicodeString AsAnsiText(const Variant& v) { return platform::AnsiToWide(platform::WideToAnsi(VarToStr(v))); }
// A stored password in its logon-encoded form (or "$$$" + plain text); empty when it does not decode.
UnicodeString AsPassword(const Variant& v) {
  return platform::AnsiToWide(TqzCipher::DecodeLogon(platform::WideToAnsi(VarToStr(v))));
}
TIdSSLVersion AsMethod(const Variant& v) { return TqzIndy::GetSSLMethod(VarToStr(v)); }
TIdSSLVersions AsVersions(const Variant& v) { return TqzIndy::GetSSLVersions(VarToStr(v)); }
TIdSSLMode AsMode(const Variant& v) { return TqzIndy::GetSSLMode(VarToStr(v)); }
TIdSSLVerifyModeSet AsVerifyMode(const Variant& v) { return TqzIndy::GetSSLVerifyMode(VarToStr(v)); }
TIdSyslogFacility AsFacility(const Variant& v) {
  const int64_t n = v.AsInt64();
  if (n < sfKernel || n > sfLocalUseSeven) throw EConvertError(u"syslog facility " + VarToStr(v) + u" is not 0 to 23");
  return static_cast<TIdSyslogFacility>(n);
}

// The twelve TLS values, in the order both the registry and the store are read. ActiveName is the
// flag's value name ("UseSSL" in the registry, "Active" in the store), whose default is the
// field's current value; AnsiTexts passes the cipher list and verify folders through the 8-bit
// code page (the registry's texts).
template <class Reader>
void ReadSslOptions(Reader& r, const char16_t* activeName, const char16_t* modeDefault, bool ansiTexts,
                    TqzSSLOptions& ssl) {
  UnicodeString (*const text8)(const Variant&) = ansiTexts ? AsAnsiText : AsText;
  r.Read(activeName, Variant(ssl.Active), ssl.Active, AsBool);
  r.Read(u"CertFile", Variant(u""), ssl.CertFile, AsText);
  r.Read(u"CipherList", Variant(u""), ssl.CipherList, text8);
  r.Read(u"KeyFile", Variant(u""), ssl.KeyFile, AsText);
  r.Read(u"RootCertFile", Variant(u""), ssl.RootCertFile, AsText);
  r.Read(u"VerifyDepth", Variant(1), ssl.VerifyDepth, AsInt);
  r.Read(u"VerifyDirs", Variant(u""), ssl.VerifyDirs, text8);
  r.Read(u"Password", Variant(u""), ssl.Password, AsPassword);
  r.Read(u"Method", Variant(u"TLSv1_2"), ssl.Method, AsMethod);
  r.Read(u"SSLVersions", Variant(u"[TLSv1_2]"), ssl.SSLVersions, AsVersions);
  r.Read(u"Mode", Variant(modeDefault), ssl.Mode, AsMode);
  r.Read(u"VerifyMode", Variant(u""), ssl.VerifyMode, AsVerifyMode);
}

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
  ReadSslOptions(r, u"UseSSL", u"Both", true, c.SSL);
}

TqzClassFactory::~TqzClassFactory() = default;

// ---- The store's options -----------------------------------------------------------------------

void TqzClassFactory::LoadN7Configuration() {
  TqzConfigManager store(false, u"", u"qz_configuration");
  store.CacheEnabled = true;
  store.RaiseExceptions = true;
  LoadN7Configuration(store);
}

void TqzClassFactory::LoadN7Configuration(TqzConfigManager& Store) {
  if (!Store.IsConnected()) return;
  TStoreNodeReader r(Store);

  TqzHttpServerOptions& s = HttpServerOptions;
  if (!r.Open(HttpNode)) throw Exception(Store.Message);
  r.Read(u"SessionTimeOut", Variant(static_cast<int64_t>(s.SessionTimeOut)), s.SessionTimeOut, AsCardinal);
  r.Read(u"TerminateWaitTime", Variant(static_cast<int64_t>(s.TerminateWaitTime)), s.TerminateWaitTime, AsCardinal);
  r.Read(u"MaximumHeaderLineCount", Variant(s.MaximumHeaderLineCount), s.MaximumHeaderLineCount, AsInt);
  r.Read(u"MaxConnections", Variant(s.MaxConnections), s.MaxConnections, AsInt);
  s.Bindings.clear();
  for (const TProperty& value : r.Values()) {
    if (value.Name.rfind(u"Binding", 0) != 0) continue;  // the prefix as written
    TqzSocketBinding binding;
    binding.IP = platform::WideToAnsi(VarToStr(value.Value));
    binding.IPVersion = TqzIndy::GetIPVersion(binding.IP);
    s.Bindings.push_back(std::move(binding));
  }

  if (!r.Open(HttpSslNode)) throw Exception(Store.Message);
  ReadSslOptions(r, u"Active", u"Server", false, s.SSL);

  TqzSysLogClientOptions& l = SysLogClientOptions;
  if (r.Open(SysLogNode)) {
    r.Read(u"Active", Variant(l.Active), l.Active, AsBool);
    r.Read(u"Server", Variant(l.Server), l.Server, AsText);
    r.Read(u"Port", Variant(l.Port), l.Port, AsInt);
    r.Read(u"ReceiveTimeOut", Variant(static_cast<int64_t>(l.ReceiveTimeOut)), l.ReceiveTimeOut, AsCardinal);
    r.Read(u"Facility", Variant(static_cast<int32_t>(l.Facility)), l.Facility, AsFacility);
    r.Read(u"LogLevel", Variant(l.LogLevel), l.LogLevel, AsInt);
  }

  TqzSNMPClientOptions& n = SNMPClientOptions;
  if (r.Open(SnmpNode)) {
    r.Read(u"Active", Variant(n.Active), n.Active, AsBool);
    r.Read(u"Server", Variant(n.Server), n.Server, AsText);
    r.Read(u"Port", Variant(n.Port), n.Port, AsInt);
  }
}

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
