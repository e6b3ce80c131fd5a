// TqzConsoleTools: the document log. One row per event in "qz_log", the document's metadata in
// "qz_meta", settings from the configuration store node "/kesta/Software/Basics/Common".
//
// Calls of one object are serialised (the settings, the META_ column list and the object's one
// database connection are shared by them); a failed connection is reopened by the next call. The
// metadata of one document is replaced in one transaction, so an insert that fails leaves the
// metadata as it was.
#include <algorithm>

#include "CodePage.h"
#include "Database.h"
#include "Exceptions.h"
#include "qzADO.h"
#include "qzConfigManager.h"
#include "qzConsoleTools.h"
#include "qzToolsEvo2.h"

namespace {

constexpr const char16_t* kSettingsNode = u"/kesta/Software/Basics/Common";

UnicodeString IdText(const TIdType& id) { return platform::AnsiToWide(id.str()); }

}  // namespace

std::vector<UnicodeString> TqzConsoleTools::DocLogMetaFields() const {
  std::lock_guard lock(docLogLock_);
  return docLogMetaFields_;
}

void TqzConsoleTools::SetDocLogConnectionString(const UnicodeString& Value) {
  std::lock_guard lock(docLogLock_);
  ConnectionString = Value;
  docLogConnection_.reset();
}

platform::DbConnection& TqzConsoleTools::DocLogConnection() {
  if (!docLogConnection_) docLogConnection_ = std::make_unique<platform::DbConnection>(ConnectionString);
  if (!docLogConnection_->Connected()) docLogConnection_->Open();
  return *docLogConnection_;
}

// Reads the four settings (storing missing ones with their defaults): before the first row while
// the document log is on, and before every call while the metadata table is on.
void TqzConsoleTools::LoadDocLogSettings() {
  if (!((DocLogCount.load() == 0 && WriteDocLogDatabase.load()) || WriteDocMetaDatabase.load())) return;
  TqzConfigManager store(false, u"", u"qz_configuration");
  store.RaiseExceptions = true;
  if (!store.IsConnected()) throw Exception(store.Message.empty() ? UnicodeString(u"configuration store not connected") : store.Message);
  WriteDocLogDatabase = store.GetConfigValue(kSettingsNode, u"DocLogCreate", Variant(true), true).AsBool();
  WriteDocMetaDatabase = store.GetConfigValue(kSettingsNode, u"DocMetaCreate", Variant(false), true).AsBool();
  DocLogRetention = store.GetConfigValue(kSettingsNode, u"DocLogRetention", Variant(30), true).AsInteger();
  DocLogLevel = store.GetConfigValue(kSettingsNode, u"DocLogLevel", Variant(4), true).AsInteger();
}

bool TqzConsoleTools::DocLog(TqzLogInfoType LogType, const UnicodeString& Msg, TIdType& DocId, TIdType& StackId,
                             const UnicodeString& Address, const UnicodeString& User,
                             const UnicodeString& Application, const TqzMetaData& MetaData) {
  std::lock_guard lock(docLogLock_);
  try {
    LoadDocLogSettings();
  } catch (const std::exception&) {
    return false;
  }
  if (!IsLogTypeEnabled(DocLogLevel.load(), LogType)) return true;
  return DocLogWrite(GetLogTypeText(LogType), Msg, DocId, StackId, Address, User, Application, MetaData, LogType);
}

bool TqzConsoleTools::DocLog(const UnicodeString& LogTypeStr, const UnicodeString& Msg, TIdType& DocId,
                             TIdType& StackId, const UnicodeString& Address, const UnicodeString& User,
                             const UnicodeString& Application, const TqzMetaData& MetaData, TqzLogInfoType LogType) {
  std::lock_guard lock(docLogLock_);
  try {
    LoadDocLogSettings();
  } catch (const std::exception&) {
    return false;
  }
  return DocLogWrite(LogTypeStr, Msg, DocId, StackId, Address, User, Application, MetaData, LogType);
}

// Holding docLogLock_, the settings read.
bool TqzConsoleTools::DocLogWrite(const UnicodeString& LogTypeStr, const UnicodeString& Msg, const TIdType& DocId,
                                  const TIdType& StackId, const UnicodeString& Address, const UnicodeString& User,
                                  const UnicodeString& Application, const TqzMetaData& MetaData,
                                  TqzLogInfoType LogType) {
  bool result = false;
  try {
    if (WriteDocLogDatabase.load()) {
      platform::DbConnection& con = DocLogConnection();
      TqzADODataSet ds(&con);
      ds.CommandTimeout = 0;
      ds.SetCommandText(u"SELECT * FROM qz_log WHERE DOCID IS NULL");
      ds.Open();
      docLogMetaFields_.clear();
      for (const UnicodeString& name : ds.FieldNames()) {
        const UnicodeString upper = UpperCaseStr(name);
        if (upper.rfind(u"META_", 0) == 0) docLogMetaFields_.push_back(upper);
      }
      ds.Append();
      ds.FieldByName(u"DOCID").SetValue(IdText(DocId));
      ds.FieldByName(u"STACKID").SetValue(IdText(StackId));
      ds.FieldByName(u"CREATIONDATE").SetValue(Variant::FromDate(CurrentTime()));
      ds.FieldByName(u"USERNAME").SetValue(LowerCaseStr(User.empty() ? UnicodeString(u"SYSTEM") : User));
      ds.FieldByName(u"SERVICE").SetValue(LowerCaseStr(ServerTechName.Get()));
      ds.FieldByName(u"APPLICATION").SetValue(LowerCaseStr(Application));
      ds.FieldByName(u"HOST").SetValue(LowerCaseStr(Address.empty() ? UnicodeString(u"localhost") : Address));
      ds.FieldByName(u"LOGTYPE").SetValue(LowerCaseStr(LogTypeStr));
      ds.FieldByName(u"LOGTEXT").SetValue(Msg);
      for (const TqzMetaField& field : MetaData) {
        const UnicodeString column = u"META_" + UpperCaseStr(field.ExtField);
        if (std::find(docLogMetaFields_.begin(), docLogMetaFields_.end(), column) == docLogMetaFields_.end()) continue;
        try {
          ds.FieldByName(column).SetValue(field.VarValue);
        } catch (const std::exception&) {
          // a value the column does not take is left out; the other columns go on
        }
      }
      ds.Post();
      const uint64_t count = ++DocLogCount;
      result = true;
      const int32_t retention = DocLogRetention.load();
      if (retention > 0 && (count == 1 || count % 1000 == 0)) {
        platform::DbCommand del(&con);
        del.CommandTimeout = 0;
        del.CommandText = u"DELETE FROM qz_log WHERE CREATIONDATE < :KILLDATE";
        del.ParamByName(u"KILLDATE").SetValue(Variant::FromDate(CurrentTime() - retention));
        del.Execute();
      }
    }
    if (WriteDocMetaDatabase.load()) WriteDocMeta(IdText(DocId), MetaData, LogType);
    return result;
  } catch (const std::exception&) {
    return false;
  }
}

// create: the fields are added; modify: the document's fields are replaced; delete: removed.
// One transaction, so a failure leaves the old rows.
void TqzConsoleTools::WriteDocMeta(const UnicodeString& DocId, const TqzMetaData& MetaData, TqzLogInfoType LogType) {
  const bool remove = LogType == qzLog_Modify || LogType == qzLog_Delete;
  const bool insert = LogType == qzLog_Create || LogType == qzLog_Modify;
  if (!remove && !insert) return;
  platform::DbConnection& con = DocLogConnection();
  con.BeginTrans();
  try {
    if (remove) {
      platform::DbCommand del(&con);
      del.CommandText = u"DELETE FROM qz_meta WHERE DOCID = :DOCID";
      del.ParamByName(u"DOCID").SetValue(DocId);
      del.Execute();
    }
    if (insert && !MetaData.empty()) {
      TqzADODataSet ds(&con);
      ds.SetCommandText(u"SELECT * FROM qz_meta WHERE DOCID IS NULL");
      ds.Open();
      for (const TqzMetaField& field : MetaData) {
        ds.Append();
        ds.FieldByName(u"DOCID").SetValue(DocId);
        ds.FieldByName(u"FIELDNAME").SetValue(field.IntField);
        ds.FieldByName(u"FIELDVALUE").SetValue(field.Value);
        ds.Post();
      }
    }
    con.CommitTrans();
  } catch (...) {
    try {
      if (con.InTransaction()) con.RollbackTrans();
    } catch (...) {
    }
    throw;
  }
}
