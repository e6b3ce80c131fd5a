// TqzConfigManager: the registry of service instances kept in the store. Every service has a key
// below "/kesta/Software/kesta module15 daemon/Services", with one key per cluster node and one
// per instance below it; instances publish their token, process id, port and address there, and
// later their ready state. Also: the address and token of a service instance, the registration
// for change events at the main daemon over HTTP, and the mirror of a tree of permission objects.
#include <unistd.h>

#include <algorithm>

#include "CodePage.h"
#include "Exceptions.h"
#include "Module.h"
#include "SysUtils.h"
#include "qzConfigManager.h"
#include "qzConversion.h"
#include "qzKesta.h"
#include "qzNet.h"
#include "qzTools.h"
#include "qzToolsEvo2.h"

namespace {

const UnicodeString kServicesKey = u"/kesta/Software/kesta module15 daemon/Services";
constexpr int64_t kMaxInstances = 1024;
constexpr int32_t kMainDaemonPort = 4040;

int64_t AsNumber(const Variant& v) {
  try {
    return v.IsEmptyOrNull() ? 0 : v.AsInt64();
  } catch (...) {
    return 0;
  }
}

// The file name part of a path (either separator), lower-cased.
UnicodeString ProgramName(const UnicodeString& path) {
  const std::size_t slash = path.find_last_of(u"/\\");
  return LowerCaseStr(slash == UnicodeString::npos ? path : path.substr(slash + 1));
}

UnicodeString RunningProgram() { return ProgramName(platform::Utf8ToWide(platform::ProcessExecutableName())); }

// Instance numbers of a cluster node: 0 .. n-1 on the node whose "NodeId" is 0, else 1 .. n.
std::pair<int64_t, int64_t> InstanceRange(int64_t nodeId, int64_t instances) {
  instances = std::clamp<int64_t>(instances, 0, kMaxInstances);
  return nodeId == 0 ? std::make_pair(int64_t{0}, instances - 1) : std::make_pair(int64_t{1}, instances);
}

UnicodeString Number(int64_t n) { return platform::ToU16(std::to_string(n)); }

}  // namespace

bool TqzConfigManager::PublishInstanceToken(const TIdType& Token, int32_t InstanceId, int32_t InstancePort) {
  const UnicodeString program = RunningProgram();
  const bool ssl = ValueIsTrue(GetConfigValue(u"/kesta/Software/Basics/HTTP/SSL", u"Active", Variant(false), false));
  const bool manual =
      ValueIsTrue(GetConfigValue(u"/kesta/Software/Basics/Common", u"ManualServiceUrlConfig", Variant(false), false));
  const int32_t node = TqzKesta::GetClusterNode();
  TConfigNodes services;
  if (!GetChildNodes(kServicesKey, services, true)) return false;
  bool result = false;
  for (const TConfigNode& service : services) {
    const UnicodeString serviceKey = Convert2VisKey(service.Key);
    const UnicodeString path = TqzTypes::VarToStrExt(GetConfigValue(serviceKey, u"ServicePath", Variant(u""), false));
    if (ProgramName(path) != program) {
      // Another program's entry matches by port only where it names a root port.
      if (InstancePort <= 0 || !ConfigValueExists(serviceKey, u"RootPort")) continue;
      const int64_t rootPort = AsNumber(GetConfigValue(serviceKey, u"RootPort", Variant(int32_t{0}), false));
      if (int64_t{InstancePort} != rootPort + InstanceId) continue;
    }
    const UnicodeString key = TqzKesta::GetN7ClusterNodeServicePath(service.Name, node, InstanceId);
    SetConfigValue(key, u"InstanceToken", Variant::FromAnsi(Token.str()));
    SetConfigValue(key, u"InstanceHandle", Variant::FromInteger(varLongWord, static_cast<int64_t>(::getpid())));
    if (InstancePort > 0 && !manual) {
      const AnsiString url =
          TqzNet::BuildUrl(ssl, TqzTools::GetComputerNameEx(3), InstancePort, UnicodeString(), {}, qzENC_None);
      SetConfigValue(key, u"InstancePort", Variant(InstancePort));
      SetConfigValue(key, u"InstanceUrl", Variant(platform::AnsiToWide(url)));
    }
    result = true;
  }
  return result;
}

bool TqzConfigManager::PublishReadyState(int32_t InstanceId) {
  const UnicodeString program = RunningProgram();
  TConfigNodes services;
  if (!GetChildNodes(kServicesKey, services, true)) return false;
  for (const TConfigNode& service : services) {
    const UnicodeString path =
        TqzTypes::VarToStrExt(GetConfigValue(Convert2VisKey(service.Key), u"ServicePath", Variant(u""), false));
    if (ProgramName(path) != program) continue;
    SetConfigValue(TqzKesta::GetN7ClusterNodeServicePath(service.Name, TqzKesta::GetClusterNode(), InstanceId),
                   u"InstanceReady", Variant(true));
    return true;
  }
  return false;
}

bool TqzConfigManager::ResetReadyStates(int32_t ClusterNode) {
  TConfigNodes services;
  if (!GetChildNodes(kServicesKey, services, true)) return true;
  for (const TConfigNode& service : services) {
    const UnicodeString serviceKey = Convert2VisKey(service.Key);
    if (!ValueIsTrue(GetConfigValue(serviceKey, u"Active", Variant(false), false))) continue;
    if (ClusterNode == 0) {
      const UnicodeString zero = service.Key + u"Cluster/Node 0";
      SetConfigValue(zero, u"NodeId", Variant::FromInteger(varByte, 0));
      SetConfigValue(zero, u"Instances", GetConfigValue(serviceKey, u"Instances", Variant(int32_t{1}), false));
    }
    const UnicodeString nodeKey = service.Key + u"Cluster/Node " + Number(ClusterNode) + u"/";
    const int64_t nodeId = AsNumber(GetConfigValue(nodeKey, u"NodeId", Variant(int32_t{0}), false));
    const int64_t instances = AsNumber(GetConfigValue(nodeKey, u"Instances", Variant(int32_t{0}), false));
    if (!ValueIsTrue(GetConfigValue(TqzKesta::GetN7ClusterNodePath(static_cast<int32_t>(nodeId)), u"Active",
                                    Variant(true), false))) {
      continue;
    }
    const auto [first, last] = InstanceRange(nodeId, instances);
    for (int64_t i = first; i <= last; ++i) {
      SetConfigValue(nodeKey + u"Instance " + Number(i), u"InstanceReady", Variant(false));
    }
  }
  return true;
}

int32_t TqzConfigManager::CheckReadyStates(int32_t ClusterNode) {
  int32_t count = 0;
  TConfigNodes services;
  if (!GetChildNodes(kServicesKey, services, true)) return 0;
  for (const TConfigNode& service : services) {
    if (!ValueIsTrue(GetConfigValue(Convert2VisKey(service.Key), u"Active", Variant(false), false))) continue;
    const UnicodeString nodeKey = service.Key + u"Cluster/Node " + Number(ClusterNode) + u"/";
    const int64_t nodeId = AsNumber(GetConfigValue(nodeKey, u"NodeId", Variant(int32_t{0}), false));
    if (!ValueIsTrue(GetConfigValue(TqzKesta::GetN7ClusterNodePath(static_cast<int32_t>(nodeId)), u"Active",
                                    Variant(true), false))) {
      continue;
    }
    const int64_t instances = AsNumber(GetConfigValue(nodeKey, u"Instances", Variant(int32_t{0}), false));
    const auto [first, last] = InstanceRange(nodeId, instances);
    for (int64_t i = first; i <= last; ++i) {
      const UnicodeString instanceKey = nodeKey + u"Instance " + Number(i);
      if (ValueIsTrue(GetConfigValue(instanceKey, u"InstanceReady", Variant(false), false))) continue;
      if (!TqzTypes::VarToStrExt(GetConfigValue(instanceKey, u"InstanceToken", Variant(u""), false)).empty()) ++count;
    }
  }
  return count;
}

UnicodeString TqzConfigManager::GetServiceUrl(TqzEnterpriseService Service, int32_t ClusterNode, int32_t InstanceId) {
  UnicodeString result;
  if (Service == qzESVC_Module15) {
    result = TqzTypes::VarToStrExt(GetConfigValue(TqzKesta::GetN7ClusterNodePath(ClusterNode), u"InstanceUrl",
                                                  Variant(u"http://localhost:" + Number(kMainDaemonPort)), false));
  } else {
    const UnicodeString program = TqzTypes::GetEnterpriseServiceStr(Service);
    TConfigNodes services;
    if (GetChildNodes(kServicesKey, services, true)) {
      for (const TConfigNode& service : services) {
        const UnicodeString path =
            TqzTypes::VarToStrExt(GetConfigValue(Convert2VisKey(service.Key), u"ServicePath", Variant(u""), false));
        if (ProgramName(path) != program) continue;
        result = TqzNet::CheckRootUrlSuffix(TqzTypes::VarToStrExt(
            GetConfigValue(TqzKesta::GetN7ClusterNodeServicePath(service.Name, ClusterNode, InstanceId), u"InstanceUrl",
                           Variant(u""), false)));
        break;
      }
    }
  }
  if (result.empty()) {
    const int32_t port = TqzKesta::GetDefaultServicePort(Service);
    if (port > 0) {
      const bool ssl = ValueIsTrue(GetConfigValue(u"/kesta/Software/Basics/HTTP/SSL", u"Active", Variant(false), false));
      result = (ssl ? u"https://" : u"http://") + UnicodeString(u"localhost:") + Number(port) + u"/";
    }
  }
  return result;
}

UnicodeString TqzConfigManager::GetServiceToken(TqzEnterpriseService Service, int32_t ClusterNode, int32_t InstanceId) {
  if (Service == qzESVC_Module15) {
    return TqzTypes::VarToStrExt(
        GetConfigValue(TqzKesta::GetN7ClusterNodePath(ClusterNode), u"InstanceToken", Variant(u""), true));
  }
  const UnicodeString program = TqzTypes::GetEnterpriseServiceStr(Service);
  TConfigNodes services;
  if (!GetChildNodes(kServicesKey, services, true)) return {};
  for (const TConfigNode& service : services) {
    const UnicodeString path =
        TqzTypes::VarToStrExt(GetConfigValue(Convert2VisKey(service.Key), u"ServicePath", Variant(u""), false));
    if (ProgramName(path) != program) continue;
    return TqzTypes::VarToStrExt(GetConfigValue(
        TqzKesta::GetN7ClusterNodeServicePath(service.Name, ClusterNode, InstanceId), u"InstanceToken", Variant(u""),
        false));
  }
  return {};
}

bool TqzConfigManager::RegisterServiceToChangeEvent(const UnicodeString& ChangeEvent, const UnicodeString& InstanceToken) {
  const UnicodeString before = Message;  // kept unless the exchange fails
  try {
    const UnicodeString root = GetServiceUrl(qzESVC_Module15, 0, 0);
    const AnsiString url = TqzNet::BuildUrl(root, u"qzRegisterToChangeEvent",
                                            {u"InstanceToken=" + InstanceToken, u"EventFlag=" + ChangeEvent}, qzENC_Mega);
    int32_t status = 0;
    TqzIndy::HTTPGet(platform::AnsiToWide(url), status);
    Message = before;
    return status == 200;
  } catch (const Exception& e) {
    Message = e.Message;
    return false;
  }
}

bool TqzConfigManager::PublishPermissionObjects(const UnicodeString& SourcePath, const UnicodeString& PermissionObject,
                                                bool SingleInstance, bool CheckActiveState) {
  const UnicodeString objectKey = u"/kesta/Permissions/Objects/" + PermissionObject;
  TConfigNodes sources;
  TConfigNodes objects;
  if (!GetRecursiveChildNodes(SourcePath, sources, true, true, false)) return false;
  if (!GetRecursiveChildNodes(objectKey, objects, true, true, false)) return false;
  auto active = [&](const TConfigNode& source) {
    return !CheckActiveState || ValueIsTrue(GetConfigValue(Convert2VisKey(source.Key), u"Active", Variant(true), false));
  };
  // Objects without an (active) source go, unless a session holds them.
  for (const TConfigNode& object : objects) {
    const auto source = std::find_if(sources.begin(), sources.end(),
                                     [&](const TConfigNode& s) { return s.RelKey == object.RelKey; });
    if (source != sources.end() && active(*source)) continue;
    const AnsiString session = platform::Trim(std::string_view(platform::WideToAnsi(
        TqzTypes::VarToStrExt(GetConfigValue(Convert2VisKey(object.Key), u"SessionToken", Variant(u""), false)))));
    if (session.empty()) DeleteConfigTree(object.Key);
  }
  for (const TConfigNode& source : sources) {
    if (!active(source)) continue;
    const UnicodeString sourceKey = Convert2VisKey(source.Key);
    const bool single = ValueIsTrue(GetConfigValue(sourceKey, u"SingleInstance", Variant(SingleInstance), false));
    const UnicodeString target = objectKey + u"/" + source.RelKey;
    SetConfigValue(target, u"Roles",
                   Variant::FromOleStr(TqzTypes::VarToStrExt(GetConfigValue(sourceKey, u"Roles", Variant(u""), false))));
    SetConfigValue(target, u"SingleInstance", Variant(single));
  }
  return true;
}
