// TqzClassFactory::CreateHttpClient: the HTTP client options mapped onto the libcurl wrapper.
//
//   ConnectTimeout        connection set-up limit (ms)
//   ReadTimeout           no byte moved for this long ends the transfer (ms; 0: no limit)
//   HandleRedirects, RedirectMaximum   redirects followed, at most that many
//   AllowCookies          cookies kept across the redirects of one request
//   BoundIP               local address of the connection
//   BoundPort             local port; else BoundPortMin..BoundPortMax as a range (ports outside
//                         1-65535 are ignored, never wrapped)
//   SSL (used when SSL.Active is set or the URL is https):
//     CertFile, KeyFile, Password    client certificate, its key and the key's pass phrase
//     RootCertFile, VerifyDirs       trusted CA file and folder (none: the system's CA store)
//     CipherList                     OpenSSL cipher list (empty: OpenSSL's default)
//     SSLVersions (Method when the set is empty)  lowest to highest version allowed; TLS 1.3 is
//                         allowed wherever TLS 1.2 is; SSL 2 and 3 are refused
//     VerifyMode          the peer is verified unless the set is non-empty and lacks sslvrfPeer
//     VerifyDepth         the longest chain accepted (0 or less: OpenSSL's default)
//   MaxAuthRetries and Mode have no counterpart: the client sends no credentials of its own and
//   is always the client side of the connection.
#include "HttpClient.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "qzClassFactory.h"
#include "qzNet.h"

namespace {

platform::TlsVersion ToTls(TIdSSLVersion v) {
  switch (v) {
    case sslvTLSv1: return platform::TlsVersion::Tls1_0;
    case sslvTLSv1_1: return platform::TlsVersion::Tls1_1;
    case sslvTLSv1_2: return platform::TlsVersion::Tls1_2;
    case sslvTLSv1_3: return platform::TlsVersion::Tls1_3;
    default: return platform::TlsVersion::Default;
  }
}

void ApplyTls(const TqzSSLOptions& ssl, platform::HttpTlsSettings& tls) {
  using platform::WideToUtf8;
  tls.CertFile = WideToUtf8(ssl.CertFile);
  tls.KeyFile = WideToUtf8(ssl.KeyFile);
  tls.KeyPassword = WideToUtf8(ssl.Password);
  tls.CaFile = WideToUtf8(ssl.RootCertFile);
  tls.CaPath = WideToUtf8(ssl.VerifyDirs);
  tls.CipherList = WideToUtf8(ssl.CipherList);
  tls.VerifyPeer = ssl.VerifyMode.Empty() || ssl.VerifyMode.Contains(sslvrfPeer);
  tls.VerifyDepth = ssl.VerifyDepth > 0 ? ssl.VerifyDepth : -1;

  TIdSSLVersions versions = ssl.SSLVersions;
  if (versions.Empty()) versions.Include(ssl.Method);
  if (versions.Contains(sslvSSLv2) || versions.Contains(sslvSSLv3))
    throw Exception("SSL 2 and SSL 3 are not supported; use TLS versions");
  if (versions.Contains(sslvSSLv23)) {  // "any version the library offers"
    tls.MinVersion = platform::TlsVersion::Default;
    tls.MaxVersion = platform::TlsVersion::Default;
    return;
  }
  bool first = true;
  for (TIdSSLVersion v : {sslvTLSv1, sslvTLSv1_1, sslvTLSv1_2, sslvTLSv1_3}) {
    if (!versions.Contains(v)) continue;
    if (first) tls.MinVersion = ToTls(v);
    first = false;
    tls.MaxVersion = v >= sslvTLSv1_2 ? platform::TlsVersion::Default : ToTls(v);
  }
}

}  // namespace

std::unique_ptr<platform::HttpClient> TqzClassFactory::CreateHttpClient(const UnicodeString& ServerUrl) const {
  const TqzHttpClientOptions& o = HttpClientOptions;
  platform::HttpClientSettings s;
  s.ConnectTimeoutMs = o.ConnectTimeout;
  s.ReadTimeoutMs = o.ReadTimeout;
  s.FollowRedirects = o.HandleRedirects;
  s.MaxRedirects = o.RedirectMaximum;
  s.AllowCookies = o.AllowCookies;
  s.BoundIp = platform::WideToUtf8(o.BoundIP);
  if (o.BoundPort >= 1 && o.BoundPort <= 65535) {
    s.LocalPort = o.BoundPort;
    s.LocalPortRange = 1;
  } else if (o.BoundPortMin >= 1 && o.BoundPortMin <= 65535 && o.BoundPortMax >= o.BoundPortMin) {
    s.LocalPort = o.BoundPortMin;
    s.LocalPortRange = std::min(o.BoundPortMax, 65535) - o.BoundPortMin + 1;
  }
  if (o.SSL.Active || TqzNet::IsHTTPSUrl(ServerUrl)) ApplyTls(o.SSL, s.Tls);
  return std::make_unique<platform::HttpClient>(std::move(s));
}
