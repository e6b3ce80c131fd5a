// TqzClassFactory::CreateHttpServer: the HTTP server made from the server options.
#include <memory>

#include "CodePage.h"
#include "HttpServer.h"
#include "qzClassFactory.h"

namespace {

platform::ServerTlsVersion ToTlsVersion(TIdSSLVersion version) {
  switch (version) {
    case sslvSSLv2: return platform::ServerTlsVersion::SSLv2;
    case sslvSSLv23: return platform::ServerTlsVersion::SSLv23;
    case sslvSSLv3: return platform::ServerTlsVersion::SSLv3;
    case sslvTLSv1: return platform::ServerTlsVersion::TLSv1;
    case sslvTLSv1_1: return platform::ServerTlsVersion::TLSv1_1;
    case sslvTLSv1_2: return platform::ServerTlsVersion::TLSv1_2;
    default: return platform::ServerTlsVersion::TLSv1_3;
  }
}

}  // namespace

std::unique_ptr<platform::HttpServer> TqzClassFactory::CreateHttpServer(int32_t Port, bool Activate) {
  const TqzHttpServerOptions& options = HttpServerOptions;
  platform::HttpServerConfig config;
  config.Port = Port;
  config.ServerSoftware = ServerName;
  config.TerminateWaitTimeMs = options.TerminateWaitTime;
  config.MaximumHeaderLineCount = options.MaximumHeaderLineCount;
  config.MaxConnections = options.MaxConnections;
  for (const auto& binding : options.Bindings)
    config.Bindings.push_back({binding.IP, binding.IPVersion == Id_IPv6});
  const TqzSSLOptions& ssl = options.SSL;
  if (ssl.Active) {
    platform::HttpTlsOptions& tls = config.Tls;
    tls.Active = true;
    tls.CertFile = platform::WideToUtf8(ssl.CertFile);
    tls.KeyFile = platform::WideToUtf8(ssl.KeyFile);
    // The method first, then the set, so that the set wins.
    tls.Versions = {ToTlsVersion(ssl.Method)};
    if (!ssl.SSLVersions.Empty()) {
      tls.Versions.clear();
      for (int v = sslvSSLv2; v <= sslvTLSv1_3; ++v)
        if (ssl.SSLVersions.Contains(static_cast<TIdSSLVersion>(v)))
          tls.Versions.push_back(ToTlsVersion(static_cast<TIdSSLVersion>(v)));
    }
    tls.RootCertFile = platform::WideToUtf8(ssl.RootCertFile);
    tls.VerifyDepth = ssl.VerifyDepth;
    tls.VerifyDirs = platform::WideToUtf8(ssl.VerifyDirs);
    tls.VerifyPeer = ssl.VerifyMode.Contains(sslvrfPeer);
    tls.FailIfNoPeerCert = ssl.VerifyMode.Contains(sslvrfFailIfNoPeerCert);
    tls.ClientOnce = ssl.VerifyMode.Contains(sslvrfClientOnce);
    tls.CipherList = platform::WideToUtf8(ssl.CipherList);
    tls.Password = platform::WideToUtf8(ssl.Password);
  }
  auto server = std::make_unique<platform::HttpServer>(config);
  if (Activate) server->Start();
  return server;
}
