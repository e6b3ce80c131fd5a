// TqzClassFactory: the service console tools of a service module, set up from the start
// parameters, the installation's log folder and the store's syslog and SNMP options.
#include <memory>

#include "CodePage.h"
#include "SysUtils.h"
#include "qzClassFactory.h"
#include "qzConsoleTools.h"
#include "qzKesta.h"
#include "qzStrings.h"

std::unique_ptr<TqzConsoleTools> TqzClassFactory::CreateEnterpriseServiceConsoleTools() {
  auto tools = std::make_unique<TqzConsoleTools>(false);
  const UnicodeString techName = platform::AnsiToWide(TechAppName);
  tools->ServerName = platform::AnsiToWide(ServerName);
  tools->ServerTechName = techName;
  tools->AsService = tools->GetStartParameter(u"svcmode", Variant(false), "--", "=").AsBool();
  tools->InstanceId = tools->GetStartParameter(u"instanceid", Variant(0), "--", "=").AsInteger();
  const Variant token = Variant(platform::AnsiToWide(TqzStrings::CreateId().str()));
  tools->InstanceToken = platform::WideToAnsi(VarToStr(tools->GetStartParameter(u"instancetoken", token, "--", "=")));
  const UnicodeString stem = techName + u"-" + platform::IntToStr(tools->InstanceId);
  tools->MutexName = stem;
  tools->SetLogFile(TqzKesta::GetLogPath() + stem);
  tools->LogToFile = true;
  UpdateEnterpriseServiceConsoleTools(tools.get());
  tools->RegisterConsoleSettings();
  tools->SetConsoleTitle();
  TqzConsoleTools::ClsConsole();
  return tools;
}

bool TqzClassFactory::UpdateEnterpriseServiceConsoleTools(TqzConsoleTools* ConsoleTools) {
  if (!ConsoleTools) return false;
  LoadN7Configuration();
  ApplyLogOptions(*ConsoleTools);
  return true;
}

void TqzClassFactory::ApplyLogOptions(TqzConsoleTools& ConsoleTools) const {
  const TqzSysLogClientOptions& l = SysLogClientOptions;
  ConsoleTools.SysLogActive = l.Active;
  ConsoleTools.SysLogServer = l.Server;
  ConsoleTools.SysLogPort = l.Port;
  ConsoleTools.SysLogFacility = l.Facility;
  ConsoleTools.SysLogLevel = l.LogLevel;
  ConsoleTools.SysLogTimeOut = l.ReceiveTimeOut;
  ConsoleTools.SNMPActive = SNMPClientOptions.Active;
  ConsoleTools.SNMPServer = SNMPClientOptions.Server;
  ConsoleTools.SNMPPort = SNMPClientOptions.Port;
}
