// TqzClassFactory: the network options of a process and the network components made from them
// (HTTP server, HTTP client, syslog client, the service console tools of a service module).
//
// One instance, GlobalClassFactory, exists per loaded library. It is created on first use
// (thread-safe, once), which reads the HTTP client options from the machine hive under
// "SOFTWARE\kesta\System\HTTP\" exactly once; creating it on first use rather than by a static
// initialiser keeps it clear of the initialisation order of other translation units. It is
// freed when the library is unloaded.
//
// The option records and their defaults:
//   HTTP server   SessionTimeOut 0, TerminateWaitTime 5000 ms, MaximumHeaderLineCount 1024,
//                 MaxConnections 0, no bindings, TLS off
//   HTTP client   MaxAuthRetries 1, RedirectMaximum 2, HandleRedirects/AllowCookies false,
//                 ReadTimeout 300000 ms, ConnectTimeout 5000 ms, no bound address/ports, TLS off
//                 (registry values override these, see the constructor)
//   syslog        inactive, server "localhost", port 514, ReceiveTimeOut 2000 ms,
//                 facility local0 (16), LogLevel 2
//   SNMP          inactive, server "localhost", port 162
// The HTTP server, TLS-server, syslog and SNMP options come from the configuration store only,
// through LoadN7Configuration.
//
// TLS option texts (GetSSLMethod and friends, read from the registry and the store): a version
// text that names no TLS/SSL version, or carries blanks, is refused with an exception naming the
// text, so a typing error never weakens a connection to some other version. TLS 1.3 is accepted
// wherever TLS 1.2 is ("TLSv1_3"). An empty verify mode verifies the peer. Where the constructor
// meets such a text in the registry it keeps the default for that field and says why in Message.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <vector>

#include "Text.h"

class TqzConsoleTools;
class TqzConfigManager;
namespace platform {
class SyslogClient;
class HttpClient;
class HttpServer;
}

// ---- Component enumerations ----------------------------------------------------------------

// A small set of enumeration values (at most 32).
template <class E>
struct TqzEnumSet {
  uint32_t Bits = 0;
  constexpr TqzEnumSet() = default;
  constexpr TqzEnumSet(std::initializer_list<E> items) {
    for (E e : items) Include(e);
  }
  constexpr void Include(E e) { Bits |= (1u << static_cast<unsigned>(e)); }
  constexpr void Exclude(E e) { Bits &= ~(1u << static_cast<unsigned>(e)); }
  constexpr bool Contains(E e) const { return (Bits & (1u << static_cast<unsigned>(e))) != 0; }
  constexpr bool Empty() const { return Bits == 0; }
  constexpr bool operator==(const TqzEnumSet&) const = default;
};

// TLS/SSL protocol versions, oldest first.
enum TIdSSLVersion : uint8_t { sslvSSLv2, sslvSSLv23, sslvSSLv3, sslvTLSv1, sslvTLSv1_1, sslvTLSv1_2, sslvTLSv1_3 };
using TIdSSLVersions = TqzEnumSet<TIdSSLVersion>;

enum TIdSSLMode : uint8_t { sslmUnassigned, sslmClient, sslmServer, sslmBoth };

enum TIdSSLVerifyMode : uint8_t { sslvrfPeer, sslvrfFailIfNoPeerCert, sslvrfClientOnce };
using TIdSSLVerifyModeSet = TqzEnumSet<TIdSSLVerifyMode>;

enum TIdIPVersion : uint8_t { Id_IPv4, Id_IPv6 };

// The syslog facilities (RFC 3164 codes 0 to 23).
enum TIdSyslogFacility : uint8_t {
  sfKernel, sfUserLevel, sfMailSystem, sfSystemDaemon, sfSecurityOne, sfSysLogInternal, sfLPR, sfNNTP,
  sfUUCP, sfClockDaemonOne, sfSecurityTwo, sfFTPDaemon, sfNTP, sfLogAudit, sfLogAlert, sfClockDaemonTwo,
  sfLocalUseZero, sfLocalUseOne, sfLocalUseTwo, sfLocalUseThree, sfLocalUseFour, sfLocalUseFive,
  sfLocalUseSix, sfLocalUseSeven
};

// ---- Option records ------------------------------------------------------------------------

struct TqzSocketBinding {
  AnsiString IP;
  TIdIPVersion IPVersion = Id_IPv4;
};
using TqzSocketBindings = std::vector<TqzSocketBinding>;

struct TqzSSLOptions {
  bool Active = false;
  UnicodeString CertFile;
  UnicodeString CipherList;
  UnicodeString KeyFile;
  TIdSSLVersion Method = sslvTLSv1_2;
  TIdSSLVersions SSLVersions{sslvTLSv1_2};
  TIdSSLMode Mode = sslmUnassigned;
  UnicodeString RootCertFile;
  int32_t VerifyDepth = 0;
  UnicodeString VerifyDirs;
  TIdSSLVerifyModeSet VerifyMode{sslvrfPeer};
  UnicodeString Password;  // plain, after decoding
};

struct TqzHttpServerOptions {
  uint32_t SessionTimeOut = 0;       // ms
  uint32_t TerminateWaitTime = 5000;  // ms
  int32_t MaximumHeaderLineCount = 1024;
  int32_t MaxConnections = 0;         // 0: no limit
  TqzSocketBindings Bindings;
  TqzSSLOptions SSL;
};

struct TqzHttpClientOptions {
  int32_t MaxAuthRetries = 1;
  int32_t RedirectMaximum = 2;
  bool HandleRedirects = false;
  bool AllowCookies = false;
  int32_t ReadTimeout = 300000;   // ms
  int32_t ConnectTimeout = 5000;  // ms
  UnicodeString BoundIP;
  int32_t BoundPort = 0;  // the low 16 bits are used
  int32_t BoundPortMin = 0;
  int32_t BoundPortMax = 0;
  TqzSSLOptions SSL;
};

struct TqzSysLogClientOptions {
  bool Active = false;
  UnicodeString Server = u"localhost";
  int32_t Port = 514;
  uint32_t ReceiveTimeOut = 2000;  // ms
  TIdSyslogFacility Facility = sfLocalUseZero;
  int32_t LogLevel = 2;
};

struct TqzSNMPClientOptions {
  bool Active = false;
  UnicodeString Server = u"localhost";
  int32_t Port = 162;
};

// ---- The factory ---------------------------------------------------------------------------

class TqzClassFactory {
 public:
  // The store nodes LoadN7Configuration reads.
  static constexpr const char16_t* HttpRegistryKey = u"SOFTWARE\\kesta\\System\\HTTP\\";
  static constexpr const char16_t* HttpNode = u"/kesta/Software/Basics/HTTP";
  static constexpr const char16_t* HttpSslNode = u"/kesta/Software/Basics/HTTP/SSL";
  static constexpr const char16_t* SysLogNode = u"/kesta/Software/Basics/SysLog";
  static constexpr const char16_t* SnmpNode = u"/kesta/Software/Basics/SNMP";

  // The defaults, then the HTTP client options from the registry (a missing value keeps its
  // default; a TLS text that is refused keeps the default and is named in Message).
  TqzClassFactory();
  ~TqzClassFactory();
  TqzClassFactory(const TqzClassFactory&) = delete;
  TqzClassFactory& operator=(const TqzClassFactory&) = delete;

  UnicodeString Message;
  AnsiString Version = "2.0.0";
  bool Silent = false;
  AnsiString ServerName;
  AnsiString TechAppName;
  TqzHttpServerOptions HttpServerOptions;
  TqzHttpClientOptions HttpClientOptions;
  TqzSysLogClientOptions SysLogClientOptions;
  TqzSNMPClientOptions SNMPClientOptions;

  // Reads the HTTP, HTTP/SSL, SysLog and SNMP nodes of the configuration store (table
  // "qz_configuration", the installation's connection, key cache on, store errors raised) into
  // the options. A value missing from its node reads as the field's current value (HTTP/SSL:
  // "VerifyDepth" 1, "Method" TLSv1_2, "SSLVersions" [TLSv1_2], "Mode" Server, the texts empty);
  // a missing node reads as one without values, except that a missing SysLog or SNMP node is not
  // read at all. The server's bindings are replaced by one per value of the HTTP node whose name
  // begins with "Binding" (in the store's order, by name). Raises the store's message when the
  // HTTP or HTTP/SSL node cannot be read, and an exception naming node and value for a value that
  // does not convert (a facility outside 0 to 23, an unknown TLS text); options read before
  // keep their new values. A store that is not connected changes nothing.
  void LoadN7Configuration();
  // The same through a store the caller has opened (it is left open).
  void LoadN7Configuration(TqzConfigManager& Store);

  // A new console-tools object set up for a service module: local time stamps, ServerName and
  // ServerTechName from ServerName/TechAppName, the start parameters "svcmode", "instanceid" and
  // "instancetoken", mutex and log-file names TechAppName + "-" + instance, the store's syslog
  // and SNMP options, and the console prepared. Store errors pass through.
  std::unique_ptr<TqzConsoleTools> CreateEnterpriseServiceConsoleTools();
  // LoadN7Configuration, then the syslog and SNMP options copied into the tools. False for none.
  bool UpdateEnterpriseServiceConsoleTools(TqzConsoleTools* ConsoleTools);
  // Copies the syslog and SNMP options into the tools (the copy step of the operation above).
  void ApplyLogOptions(TqzConsoleTools& ConsoleTools) const;

  // A new syslog client for the syslog server, port and receive time-out, not yet connected.
  std::unique_ptr<platform::SyslogClient> CreateSysLogClient() const;

  // CreateHttpServer and CreateHttpClient are declared below by the HTTP units.
  // A new HTTP client for requests to ServerUrl, set up from HttpClientOptions (qzClassFactoryHttpClient.cpp).
  std::unique_ptr<platform::HttpClient> CreateHttpClient(const UnicodeString& ServerUrl) const;
  std::unique_ptr<platform::HttpServer> CreateHttpServer(int32_t Port, bool Activate);  // qzNetServerFactory.cpp
};

// The one factory of the loaded library: created on first use, freed at unload.
class TqzGlobalClassFactory {
 public:
  constexpr TqzGlobalClassFactory() = default;
  TqzClassFactory* get();
  TqzClassFactory* operator->() { return get(); }
  TqzClassFactory& operator*() { return *get(); }

 private:
  std::once_flag once_;
  std::unique_ptr<TqzClassFactory> factory_;
};
extern TqzGlobalClassFactory GlobalClassFactory;

// The option texts of the TLS component are read by TqzIndy (qzNet.h): GetSSLMethod,
// GetSSLVersions, GetSSLMode, GetSSLVerifyMode and GetIPVersion, defined in qzClassFactory.cpp.
