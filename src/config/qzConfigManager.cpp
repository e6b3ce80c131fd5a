// TqzConfigManager: construction and destruction, the connection with its check thread, the
// layout probe, the error convention, the statement helpers and the change columns.
#include "qzConfigManager.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>

#include "CaseMap.h"
#include "Clock.h"
#include "CodePage.h"
#include "DatabaseText.h"
#include "Exceptions.h"
#include "SysUtils.h"
#include "qzConversion.h"
#include "qzKesta.h"
#include "qzRegistry.h"
#include "qzTools.h"

namespace {

std::mutex g_hookLock;
std::function<uint32_t()> g_tickSource;
std::function<void(uint32_t)> g_pause;

// An installation tuning value as an integer; the default when missing or unreadable.
int32_t TuningValue(const char16_t* name, int32_t def) {
  try {
    Variant v = TqzRegistry::GetValue(HKEY_LOCAL_MACHINE, TqzKesta::SystemKey, name, Variant(def), false);
    if (v.IsEmptyOrNull()) return def;
    return TqzTypes::VarToInteger(v);
  } catch (...) {
    return def;
  }
}

bool IsIdentifierChar(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') ||
         c == u'_' || c == u'$' || c == u'#' || c == u'.';
}

}  // namespace

// =============================================================================================
// Time sources

void TqzConfigManager::SetTickSource(std::function<uint32_t()> source) {
  std::lock_guard<std::mutex> guard(g_hookLock);
  g_tickSource = std::move(source);
}

void TqzConfigManager::SetPauseFunction(std::function<void(uint32_t)> pause) {
  std::lock_guard<std::mutex> guard(g_hookLock);
  g_pause = std::move(pause);
}

uint32_t TqzConfigManager::Ticks() {
  std::function<uint32_t()> source;
  {
    std::lock_guard<std::mutex> guard(g_hookLock);
    source = g_tickSource;
  }
  return source ? source() : TqzTools::GetTickCount();
}

void TqzConfigManager::Pause(uint32_t ms) {
  std::function<void(uint32_t)> pause;
  {
    std::lock_guard<std::mutex> guard(g_hookLock);
    pause = g_pause;
  }
  if (pause) {
    pause(ms);
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
}

// =============================================================================================
// The helper thread

THelperThread::THelperThread(uint32_t adoCheckInterval, TCheckCallBackProc callback)
    : CheckCallBackProc(std::move(callback)), AdoCheckInterval(adoCheckInterval) {}

THelperThread::~THelperThread() { Terminate(); }

void THelperThread::Start() {
  if (!thread_.joinable()) thread_ = std::thread([this] { Execute(); });
}

void THelperThread::Terminate() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    terminated_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void THelperThread::Execute() {
  // One step below normal priority, as a background checker should run.
  const pid_t tid = static_cast<pid_t>(::syscall(SYS_gettid));
  errno = 0;
  const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
  if (errno == 0) ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice + 1);

  std::unique_lock<std::mutex> lock(mutex_);
  while (!terminated_) {
    // Ten pauses of 100 ms, ended early by Terminate().
    wake_.wait_for(lock, std::chrono::milliseconds(1000), [this] { return terminated_; });
    if (terminated_) break;
    ++TimerTicks;
    if (TimerTicks >= AdoCheckInterval) {
      TimerTicks = 0;
      if (CheckCallBackProc) {
        lock.unlock();
        CheckCallBackProc();
        lock.lock();
      }
    }
  }
}

// =============================================================================================
// Construction and destruction

TqzConfigManager::TqzConfigManager(bool n7Init, const UnicodeString& UserConStr,
                                   const UnicodeString& TableName) {
  LastDbChangeTicks = Ticks();
  CfgTabName = TableName;
  n7Mode = n7Init;
  try {
    Username = TqzTools::GetUserNameEx(8);
    MaxDbRetry = TuningValue(u"DbConReadRetries", 2);
    conTimeout_ = TuningValue(u"DbConTimeout", 120);
    conCmdTimeout_ = TuningValue(u"DbConCmdTimeout", 180);
    dataCmdTimeout_ = TuningValue(u"DbConCmdTimeout", 120);
    checkInterval_ = TuningValue(u"DbConCheckInterval", 1800);
    DatabaseType = TqzKesta::GetDatabaseType(true, qzDBT_MSSQL);
    ConnectionString = UserConStr.empty() ? TqzKesta::GetConnectionString(true) : UserConStr;
  } catch (const Exception& e) {
    Message = e.Message;
    RaiseException(Message);
    return;
  }

  try {
    OpenConnection(true);
  } catch (const Exception& e) {
    Message = u"ado connection exception (" + e.Message + u")";
  }
  try {
    ADODataSet = std::make_unique<TqzADODataSet>();
    ADODataSet->SetConnection(ADOConnection.get());
    ADODataSet->CommandTimeout = dataCmdTimeout_;
  } catch (...) {
  }
  try {
    ADOCommand = std::make_unique<platform::DbCommand>(ADOConnection.get());
    ADOCommand->CommandTimeout = 30;
  } catch (...) {
  }

  try {
    if (online_) ProbeDialect();
    TableStructureType = GetTableStructureType();
    if (n7Init) {
      InitClassNodeIds(false);
      const UnicodeString common = u"/kesta/Software/Basics/Common";
      auto number = [](const Variant& v) -> int64_t {
        try {
          return v.IsEmptyOrNull() ? 0 : v.AsInt64();
        } catch (...) {
          return 0;
        }
      };
      int64_t size = number(GetConfigValue(common, u"ConfigCacheSize", Variant::FromInteger(varWord, 1000), true));
      int64_t lease = number(GetConfigValue(common, u"ConfigCacheLeaseTime", Variant::FromInteger(varLongWord, 600000), true));
      int64_t check = number(GetConfigValue(common, u"ConfigCacheCheckTime", Variant::FromInteger(varWord, 5000), true));
      CacheSize = static_cast<int32_t>(std::clamp<int64_t>(size, 0, 100000));
      CacheLeaseTime = static_cast<uint32_t>(lease);
      CacheCheckTime = static_cast<uint32_t>(check);
    } else {
      CacheSize = 1000;
      CacheLeaseTime = 600000;
      CacheCheckTime = 5000;
    }
    {
      std::lock_guard<std::recursive_mutex> guard(CacheLock);
      ConfigCache.assign(static_cast<std::size_t>(std::max(CacheSize, 0)), TConfigCacheRecord{});
    }
    InitCache();
    HelperThread = std::make_unique<THelperThread>(static_cast<uint32_t>(checkInterval_),
                                                   [this] { WStringCheckCallBackProc(); });
    HelperThread->Start();
  } catch (const Exception& e) {
    Message = e.Message;
    RaiseException(Message);
  }
}

TqzConfigManager::~TqzConfigManager() {
  try {
    if (HelperThread) {
      HelperThread->Terminate();
      HelperThread.reset();
    }
    { std::lock_guard<std::recursive_mutex> guard(DatabaseLock); }
    { std::lock_guard<std::recursive_mutex> guard(CacheLock); }
    if (ADODataSet) ADODataSet->Close();
    ADODataSet.reset();
    ADOCommand.reset();
    if (ADOConnection) ADOConnection->Close();
    ADOConnection.reset();
    Message.clear();
  } catch (const Exception& e) {
    Message = e.Message;
  } catch (...) {
  }
}

// =============================================================================================
// Connection

void TqzConfigManager::OpenConnection(bool withLoop) {
  auto con = std::make_unique<platform::DbConnection>(ConnectionString);
  con->LoginTimeout = conTimeout_;
  con->CommandTimeout = conCmdTimeout_;
  con->IsolationLevel = platform::DbIsolationLevel::ReadCommitted;
  platform::DbConnection* raw = con.get();
  if (withLoop) {
    // The construction keeps the (unopened) connection when opening raises.
    ADOConnection = std::move(con);
    const uint32_t start = Ticks();
    for (;;) {
      raw->Open();
      if (raw->Connected()) break;
      Pause(5000);
      if ((Ticks() - start) / 1000 > static_cast<uint32_t>(conTimeout_)) break;
    }
    online_ = raw->Connected();
    return;
  }
  raw->Open();
  if (!raw->Connected()) return;
  ADOConnection = std::move(con);
  online_ = true;
}

UnicodeString TqzConfigManager::ProviderName() const {
  try {
    for (const auto& item : platform::ParseConnectionString(platform::ResolveConnectionString(ConnectionString))) {
      if (platform::SameTextW(item.Key, u"Driver") || platform::SameTextW(item.Key, u"DSN")) return item.Value;
    }
  } catch (...) {
  }
  return u"ODBC";
}

UnicodeString TqzConfigManager::ConnectionStatus() {
  if (!online_ || !ADOConnection) return u"0";
  try {
    return ADOConnection->LinkAlive() ? u"1" : u"0";
  } catch (...) {
    return u"-1";
  }
}

bool TqzConfigManager::IsConnected() {
  std::lock_guard<std::recursive_mutex> guard(DatabaseLock);
  try {
    const UnicodeString status = ConnectionStatus();
    if (status == u"1") {
      Message = u"database connection is online";
      return true;
    }
    Message = u"database connection to " + ProviderName() + u" is offline (state = " + status + u")";
  } catch (const Exception& e) {
    Message = u"error during database connection check (" + e.Message + u")";
  }
  return false;
}

bool TqzConfigManager::CheckADOConnection() { return RunConnectionCheck(true); }

void TqzConfigManager::WStringCheckCallBackProc() { RunConnectionCheck(false); }

bool TqzConfigManager::RunConnectionCheck(bool setMessage, UnicodeString* textOut) {
  std::lock_guard<std::recursive_mutex> guard(DatabaseLock);
  bool result = true;
  ++ADOConCheckCount;
  UnicodeString text;
  try {
    const UnicodeString status = ConnectionStatus();
    if (status == u"1" && ADOConCheckCount % 5 != 0) return true;

    // Rebuild: drop the old connection, pause, open a new one once.
    UnicodeString closeError;
    try {
      if (ADODataSet) ADODataSet->Close();
      if (ADOConnection) ADOConnection->Close();
    } catch (const Exception& e) {
      closeError = e.Message.empty() ? UnicodeString(u"close failed") : e.Message;
    }
    online_ = false;
    if (ADODataSet) ADODataSet->SetConnection(nullptr);
    if (ADOCommand) ADOCommand->SetConnection(nullptr);
    ADOConnection.reset();
    Pause(1000);
    try {
      OpenConnection(false);
    } catch (const Exception&) {
    }
    if (online_) {
      if (ADODataSet) ADODataSet->SetConnection(ADOConnection.get());
      if (ADOCommand) ADOCommand->SetConnection(ADOConnection.get());
      text = u"database connection to " + ProviderName() + u" successful restored";
      if (!dialectKnown_) ProbeDialect();
      if (!layoutKnown_) TableStructureType = GetTableStructureType();
    } else {
      text = u"database connection to " + ProviderName() +
             u" is still offline - possible network or database problem";
      result = false;
    }
    if (!closeError.empty()) {
      text = u"error during database connection check (" + closeError + u")";
      result = false;
    }
  } catch (const Exception& e) {
    text = u"error during database connection check (" + e.Message + u")";
    result = false;
  }
  if (setMessage) Message = text;
  if (textOut) *textOut = text;
  return result;
}

// The database product decides the creation lock and how KEYNAME compares.
void TqzConfigManager::ProbeDialect() {
  std::lock_guard<std::recursive_mutex> guard(DatabaseLock);
  try {
    const UnicodeString product = platform::UpperW(ADOConnection->DbmsName());
    mariaDb_ = product.find(u"MARIADB") != UnicodeString::npos || product.find(u"MYSQL") != UnicodeString::npos;
    sqlite_ = product.find(u"SQLITE") != UnicodeString::npos;
    UnicodeString table = Table();
    const std::size_t dot = table.rfind(u'.');
    if (dot != UnicodeString::npos) table.erase(0, dot + 1);
    Fold fold = Fold::Exact;
    if (sqlite_) {
      TqzQuery q(*this, u"SELECT sql FROM sqlite_master WHERE type = 'table' AND name = :TABLENAME COLLATE NOCASE",
                 {{u"TABLENAME", Variant(table)}});
      if (q.Found()) {
        // The KEYNAME column's definition, up to the next comma.
        const UnicodeString ddl = platform::UpperAscii(UnicodeString(q->Fields(0).AsString()));
        std::size_t at = ddl.find(u"KEYNAME");
        if (at != UnicodeString::npos) {
          const std::size_t end = ddl.find(u',', at);
          if (ddl.substr(at, end == UnicodeString::npos ? UnicodeString::npos : end - at).find(u"NOCASE") !=
              UnicodeString::npos) {
            fold = Fold::Ascii;
          }
        }
      }
    } else if (mariaDb_) {
      TqzQuery q(*this,
                 u"SELECT COLLATION_NAME FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = DATABASE() "
                 u"AND TABLE_NAME = :TABLENAME AND COLUMN_NAME = 'KEYNAME'",
                 {{u"TABLENAME", Variant(table)}});
      if (q.Found()) {
        const UnicodeString collation = platform::LowerAscii(UnicodeString(q->Fields(0).AsString()));
        if (collation.size() > 3 && collation.ends_with(u"_ci")) fold = Fold::Unicode;
      }
    }
    if (fold != fold_) {
      fold_ = fold;
      InitCache();
    }
    dialectKnown_ = true;
  } catch (const Exception&) {
    // Decided after the next successful rebuild.
  }
}

TTableStructureType TqzConfigManager::GetTableStructureType() {
  std::lock_guard<std::recursive_mutex> guard(DatabaseLock);
  try {
    TqzQuery q(*this, SelectFrom(u"WHERE ID = :FAKEID"), {{u"FAKEID", Variant(u"NIL")}});
    bool all = true;
    for (const char16_t* column : {u"ID", u"PARENTID", u"KEYNAME", u"DIMENSION", u"DATATYPE", u"KEYVALUE",
                                   u"CHANGEUSER", u"CHANGEDATE"}) {
      if (!q->FindField(column)) all = false;
    }
    layoutKnown_ = true;
    return all ? TST_V2 : TST_V1;
  } catch (const Exception&) {
    layoutKnown_ = false;
    return TST_V1;
  }
}

// =============================================================================================
// Errors

void TqzConfigManager::RaiseException(const UnicodeString& MyMessage) {
  if (RaiseExceptions) throw Exception(MyMessage);
}

void TqzConfigManager::HandleError(const UnicodeString& text) {
  Message = text;
  UnicodeString checkText;
  if (!RunConnectionCheck(false, &checkText)) Message = checkText;
  RaiseException(Message);
}

bool TqzConfigManager::IsTIdStringEmpty(const TIdType& Id) {
  return platform::Trim(std::string_view(Id.str())).empty();
}

UnicodeString TqzConfigManager::N7PathToWindowsPath(const UnicodeString& Path) {
  UnicodeString result = Path;
  std::replace(result.begin(), result.end(), u'/', u'\\');
  return result;
}

TIdType TqzConfigManager::NewId() const { return TqzTools::CreateId(); }

// =============================================================================================
// Statement helpers

const UnicodeString& TqzConfigManager::Table() const {
  if (CfgTabName.empty() || !std::all_of(CfgTabName.begin(), CfgTabName.end(), IsIdentifierChar)) {
    throw Exception(u"invalid table name \"" + CfgTabName + u"\"");
  }
  return CfgTabName;
}

Variant TqzConfigManager::IdVariant(const TIdType& id) { return Variant(platform::AnsiToWide(id.str())); }

TIdType TqzConfigManager::IdOfText(const UnicodeString& text) {
  return TIdType(platform::WideToAnsi(platform::Trim(text)));
}

bool TqzConfigManager::ValueIsTrue(const Variant& v) {
  if (v.VarType() == varBoolean) return v.AsBool();
  return TqzConversion::StrToBool(TqzTypes::VarToStrExt(v));
}

UnicodeString TqzConfigManager::SelectFrom(const UnicodeString& tail) const {
  return u"SELECT * FROM " + Table() + u" " + tail;
}

TqzConfigManager::TqzQuery::TqzQuery(TqzConfigManager& store, const UnicodeString& sql, const TqzParams& params)
    : store_(store), lock_(store.DatabaseLock) {
  if (!store.online_ || !store.ADODataSet || !store.ADOConnection) throw Exception(u"not connected");
  data_ = store.ADODataSet.get();
  data_->Close();
  data_->SetCommandText(sql);
  for (const auto& [name, value] : params) data_->ParamByName(name).Value = value;
  ++store.statements_;
  data_->Open();
}

TqzConfigManager::TqzQuery::~TqzQuery() {
  try {
    data_->Close();
  } catch (...) {
  }
}

void TqzConfigManager::TqzQuery::Post() {
  ++store_.statements_;
  ++store_.writes_;
  data_->Post();
}

int64_t TqzConfigManager::ExecCommand(const UnicodeString& sql, const TqzParams& params) {
  std::lock_guard<std::recursive_mutex> guard(DatabaseLock);
  if (!online_ || !ADOCommand || !ADOConnection) throw Exception(u"not connected");
  ADOCommand->CommandText = sql;
  for (const auto& [name, value] : params) ADOCommand->ParamByName(name).Value = value;
  ++statements_;
  ++writes_;
  return ADOCommand->Execute();
}

void TqzConfigManager::WithCreationLock(const std::function<void()>& body) {
  std::lock_guard<std::recursive_mutex> guard(DatabaseLock);
  if (!online_ || !ADOConnection) throw Exception(u"not connected");
  // Held already by an enclosing body (a bulk write such as an import): run inside it.
  if (creationDepth_ > 0) {
    body();
    return;
  }
  struct Depth {
    int& depth;
    explicit Depth(int& d) : depth(d) { ++depth; }
    ~Depth() { --depth; }
  };
  if (mariaDb_) {
    const Variant name(UnicodeString(u"qzcfg.") + Table());
    {
      TqzQuery q(*this, u"SELECT GET_LOCK(CONCAT(DATABASE(), '.', :LOCKNAME), :LOCKWAIT) AS GRANTED",
                 {{u"LOCKNAME", name}, {u"LOCKWAIT", Variant(std::max(conCmdTimeout_, 1))}});
      if (q->Fields(0).AsInteger() != 1) throw Exception(u"the configuration store's creation lock was not granted");
    }
    auto release = [&] {
      TqzQuery q(*this, u"SELECT RELEASE_LOCK(CONCAT(DATABASE(), '.', :LOCKNAME)) AS RELEASED", {{u"LOCKNAME", name}});
    };
    try {
      Depth depth(creationDepth_);
      body();
    } catch (...) {
      try {
        release();
      } catch (...) {
      }
      throw;
    }
    release();
    return;
  }
  if (sqlite_ && !ADOConnection->InTransaction()) {
    // A write statement first: it takes the database's write lock (other writers wait), so the
    // reads that follow see every committed row.
    ADOConnection->BeginTrans();
    try {
      ++statements_;
      ADOConnection->Execute(u"DELETE FROM " + Table() + u" WHERE 1 = 0");
      Depth depth(creationDepth_);
      body();
      ADOConnection->CommitTrans();
    } catch (...) {
      try {
        if (ADOConnection && ADOConnection->InTransaction()) ADOConnection->RollbackTrans();
      } catch (...) {
      }
      throw;
    }
    return;
  }
  body();
}

// =============================================================================================
// Change columns

bool TqzConfigManager::ExtendRecord(TqzADODataSet& ADODataSet) {
  if (TableStructureType == TST_V2 && TrackChanges) {
    ADODataSet.FieldByName(u"CHANGEUSER").SetAsString(Username);
    ADODataSet.FieldByName(u"CHANGEDATE").SetValue(Variant::FromDate(platform::Now()));
  }
  return true;
}

bool TqzConfigManager::ExtendRecord(TqzADODataSet& ADODataSet, const UnicodeString& Username, TDateTime Date,
                                    bool ForceTrackChanges) {
  if (TableStructureType == TST_V2 && (TrackChanges || ForceTrackChanges) && !Username.empty()) {
    ADODataSet.FieldByName(u"CHANGEUSER").SetAsString(Username);
    ADODataSet.FieldByName(u"CHANGEDATE").SetValue(Variant::FromDate(Date));
  }
  return true;
}

// =============================================================================================
// Class nodes

void TqzConfigManager::InitClassNodeIds(bool Force) {
  std::lock_guard<std::recursive_mutex> guard(DatabaseLock);
  if (!Force && !IsTIdStringEmpty(KId_ClassesStyleIcons) && !IsTIdStringEmpty(KId_ClassesContextHelpSys) &&
      !IsTIdStringEmpty(KId_ClassesContextHelpCus) && !IsTIdStringEmpty(KId_ClassesStatus) &&
      !IsTIdStringEmpty(KId_ClassesLocale)) {
    return;
  }
  KId_ClassesStyleIcons = GetParentTreeId(u"/kesta/Classes/Style/Icons", true, true);
  KId_ClassesContextHelpSys = GetParentTreeId(u"/kesta/Classes/Help/Context/System", true, true);
  KId_ClassesContextHelpCus = GetParentTreeId(u"/kesta/Classes/Help/Context/Customer", true, true);
  KId_ClassesStatus = GetParentTreeId(u"/kesta/Classes/Statuses", true, true);
  KId_ClassesLocale = GetParentTreeId(u"/kesta/Classes/Behaviour/Local", true, true);
}
