// TqzConfigManager: deleting a node with its whole subtree, and deleting a node's values; both
// write a backup file through the export first (unless BackupChanges is off).
#include <cstdio>

#include "Clock.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "SysUtils.h"
#include "qzConfigManager.h"
#include "qzFiles.h"
#include "qzKesta.h"

UnicodeString TqzConfigManager::StampText(TDateTime Value) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
  platform::DecodeDate(Value, year, month, day);
  platform::DecodeTime(Value, hour, minute, second, ms);
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d%03d", year, month, day, hour, minute, second, ms);
  return platform::ToU16(text);
}

void TqzConfigManager::CollectSubtreeIds(const TIdType& nodeId, std::vector<TIdType>& ids, int level) {
  if (level > kMaxTreeLevels) throw Exception(u"the tree to delete has more than 256 levels");
  std::vector<TIdType> nodes;
  {
    TqzQuery q(*this, u"SELECT ID,PARENTID,DATATYPE,KEYNAME FROM " + Table() + u" WHERE PARENTID = :PARENTID",
               {{u"PARENTID", IdVariant(nodeId)}});
    platform::DbField& idField = q->FieldByName(u"ID");
    platform::DbField& typeField = q->FieldByName(u"DATATYPE");
    for (q->First(); !q->Eof(); q->Next()) {
      const TIdType id(platform::WideToAnsi(platform::Trim(idField.AsString())));
      ids.push_back(id);
      if (platform::Trim(typeField.AsString()) == u"TREE") nodes.push_back(id);
    }
  }
  for (const TIdType& node : nodes) CollectSubtreeIds(node, ids, level + 1);
}

bool TqzConfigManager::DeleteConfigTree(const UnicodeString& Key) {
  return Guarded(false, [&] {
    if (BackupChanges && NodeExists(Key, false)) {
      const UnicodeString file = TqzKesta::GetBackupPath() + u"n7backup_" + TqzFiles::ConvertToFileName(Key) + u"." +
                                 StampText(platform::Now()) + u".xml";
      bool written = false;
      try {
        written = Export(Key, file, true, false, u"", u"", u"", false, qzCE_UTF8, nullptr, nullptr, qzPDT_PlainText,
                         false, AnsiString(), false, u"", qzEFV_V1_5);
      } catch (const Exception& e) {
        Message = e.Message;
      }
      if (!written) throw Exception(u"backup failed (" + Message + u")!");
    }
    const TIdType id = GetParentTreeId(Key, false, false);
    if (IsTIdStringEmpty(id)) return false;
    RemoveKeyFromCache(Key);
    SetDatabaseChangeState();

    std::vector<TIdType> ids{id};
    CollectSubtreeIds(id, ids, 1);
    // Children go before their nodes and the node's own row last; one transaction, so a
    // failure leaves the whole tree.
    std::lock_guard<std::recursive_mutex> guard(DatabaseLock);
    const bool own = online_ && ADOConnection && !ADOConnection->InTransaction();
    if (own) ADOConnection->BeginTrans();
    try {
      const UnicodeString sql = u"DELETE FROM " + Table() + u" WHERE ID = :ID";
      for (auto it = ids.rbegin(); it != ids.rend(); ++it) ExecCommand(sql, {{u"ID", IdVariant(*it)}});
      if (own) ADOConnection->CommitTrans();
    } catch (...) {
      try {
        if (own && ADOConnection && ADOConnection->InTransaction()) ADOConnection->RollbackTrans();
      } catch (...) {
      }
      throw;
    }
    return true;
  });
}

bool TqzConfigManager::DeleteNodeProperties(const UnicodeString& Key) {
  Message.clear();
  return Guarded(false, [&] {
    if (BackupChanges) {
      const UnicodeString file = TqzKesta::GetBackupPath() + u"n7backup." + StampText(platform::Now()) + u".xml";
      bool written = false;
      try {
        written = Export(Key, file, false, false, u"", u"", u"", false, qzCE_UTF8, nullptr, nullptr, qzPDT_PlainText,
                         false, AnsiString(), false, u"", qzEFV_V1_5);
      } catch (const Exception& e) {
        Message = e.Message;
      }
      if (!written || !Message.empty()) throw Exception(u"backup failed!");
    }
    const TIdType id = GetParentTreeId(Key, true, false);
    if (IsTIdStringEmpty(id)) return false;
    ExecCommand(u"DELETE FROM " + Table() + u" WHERE PARENTID = :PARENTID AND NOT(DATATYPE = :DATATYPE)",
                {{u"PARENTID", IdVariant(id)}, {u"DATATYPE", Variant(u"TREE")}});
    return true;
  });
}
