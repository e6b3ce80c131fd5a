#include "qzExportService.h"

#include <unistd.h>

#include <cstdio>

#include "CodePage.h"
#include "Exceptions.h"
#include "SysUtils.h"
#include "qzConversion.h"
#include "qzConfigDialogLink.h"
#include "qzExportConfig.h"
#include "qzMD5.h"
#include "qzMath.h"
#include "qzTools.h"
#include "qzToolsEvo2.h"
#include "qzKesta.h"
#include "qzkqfexport.h"

namespace {

// The commands that read a text from Param. Every other command leaves Param unread, so an
// output or unused buffer may hold anything (a host need not initialise it).
bool ReadsParam(int32_t command) {
  switch (command) {
    case QZWE_CMD_INIT:
    case QZWE_CMD_SETCONFIG:
    case QZWE_CMD_SETARCHIVE:
    case QZWE_CMD_SETTITLE:
    case QZWE_CMD_ADDINDEX:
    case QZWE_CMD_ADDFILE:
      return true;
    default:
      return false;
  }
}

// Length of a zero-terminated input within the buffer's capacity; -1 when no zero stands there.
int64_t InputLength(const char16_t* p) {
  if (!p) return 0;
  for (int64_t i = 0; i < QZWE_PARAM_CAPACITY; ++i) {
    if (p[i] == 0) return i;
  }
  return -1;
}

// Copies a message into the host's message buffer, cut to its capacity but never inside a
// surrogate pair.
void WriteMessage(char16_t* msg, const UnicodeString& text) {
  if (!msg) return;
  size_t n = std::min<size_t>(text.size(), QZWE_MSG_CAPACITY - 1);
  if (n > 0 && n < text.size() && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
  std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n), msg);
  msg[n] = 0;
}

UnicodeString SelftestFailure() {
  const UnicodeString& math = TqzMath::SelftestError();
  if (!math.empty()) return math;
  return TqzMD5::LoadSelfTestMessage();
}

}  // namespace

TExportModule::TExportModule() = default;
TExportModule::~TExportModule() = default;

TExportModule& TExportModule::Global() {
  static TExportModule module;
  return module;
}

void TExportModule::DeleteDocumentFiles() {
  if (!DocumentFileList) return;
  for (int i = 0; i < DocumentFileList->Count(); ++i) {
    const Utf8String path = platform::WideToUtf8(DocumentFileList->Get(i));
    ::unlink(path.c_str());
  }
}

int32_t TExportModule::Execute(int32_t Command, char16_t* Param, int32_t /*Reserved*/, char16_t* Msg) {
  const UnicodeString selftest = SelftestFailure();
  if (!selftest.empty()) {
    WriteMessage(Msg, selftest);
    return -1;
  }
  try {
    UnicodeString input;
    if (ReadsParam(Command)) {
      const int64_t inputLength = InputLength(Param);
      if (inputLength < 0) {
        WriteMessage(Msg, u"The text passed with command " + platform::IntToStr(Command) +
                              u" has no terminating zero within " + platform::IntToStr(QZWE_PARAM_CAPACITY) +
                              u" characters");
        return -1;
      }
      if (Param) input.assign(Param, static_cast<size_t>(inputLength));
    }
    UnicodeString output, message;
    bool hasOutput = false;
    const int32_t result = Dispatch(Command, input, output, hasOutput, message);
    if (hasOutput) {
      if (!Param || output.size() + 1 > static_cast<size_t>(QZWE_PARAM_CAPACITY)) {
        WriteMessage(Msg, u"The answer to command " + platform::IntToStr(Command) + u" (" +
                              platform::IntToStr(static_cast<int64_t>(output.size())) +
                              u" characters) does not fit the host's buffer of " +
                              platform::IntToStr(QZWE_PARAM_CAPACITY) + u" characters");
        return -1;
      }
      std::copy(output.begin(), output.end(), Param);
      Param[output.size()] = 0;
    }
    if (!message.empty()) WriteMessage(Msg, message);
    return result;
  } catch (...) {
    const ExceptionInfo info = DescribeException(std::current_exception());
    try {
      WriteMessage(Msg, u"Unexpected error occured (" + platform::ToU16(info.className) + u" - " + info.message + u")");
      DeleteDocumentFiles();
    } catch (...) {
    }
    return -1;
  }
}

int32_t TExportModule::Dispatch(int32_t Command, const UnicodeString& param, UnicodeString& output, bool& hasOutput,
                                UnicodeString& message) {
  if (Command == QZWE_CMD_INIT) {
    Init(param);
    return 0;
  }
  if (!Initialised) {
    message = Finished ? u"The export service has been shut down (command 900); send command 100 first"
                       : u"The export service is not initialised; send command 100 first";
    return -1;
  }
  switch (Command) {
    case QZWE_CMD_GETVERSION:
      output = TqzTools::GetProgramVersion();
      hasOutput = true;
      return 0;
    case QZWE_CMD_SETCONFIG: {
      UnicodeString error;
      if (!TExportConfigText::Apply(*this, param, error)) {
        message = error;
        return -1;
      }
      return 0;
    }
    case QZWE_CMD_GETTEMPPATH:
      output = TqzKesta::GetTempPath(true, false);
      hasOutput = true;
      return 0;
    case QZWE_CMD_SETARCHIVE:
      ArchiveName = param;
      return 0;
    case QZWE_CMD_NEWDOCUMENT:
      DocumentFileList->Clear();
      IndexList->Clear();
      Title.clear();
      RecordKey.clear();
      return 0;
    case QZWE_CMD_SETTITLE:
      Title = param;
      return 0;
    case QZWE_CMD_ADDINDEX:
      AddIndex(param);
      return 0;
    case QZWE_CMD_ADDFILE:
      DocumentFileList->Add(param);
      return 0;
    case QZWE_CMD_QUERYSUPPORT:
      output = TqzConversion::BoolToStr(true);
      hasOutput = true;
      return 0;
    case QZWE_CMD_EXPORT: {
      bool hasMessage = false;
      UnicodeString runMessage;
      const int32_t result = RunExport(*this, runMessage, hasMessage);
      if (hasMessage) message = runMessage;
      return result;
    }
    case QZWE_CMD_CONFIGURE: {
      // Ok: the dialog's text becomes ConfigurationString (what 850 returns) without being
      // applied; the host brings it into force with 110. Cancel, or a dialog that cannot be
      // shown (the reason goes to Msg): the text in force comes back unchanged.
      UnicodeString text, reason;
      if (ShowConfigDialog(*this, text, reason)) ConfigurationString = platform::WideToUtf8(text);
      else if (!reason.empty()) message = reason;
      output = TExportConfigText::Get(*this);
      hasOutput = true;
      return 0;
    }
    case QZWE_CMD_GETCONFIG:
      output = TExportConfigText::Get(*this);
      hasOutput = true;
      return 0;
    case QZWE_CMD_DONE:
      Done();
      return 0;
    default:
      return 0;
  }
}

void TExportModule::Init(const UnicodeString& text) {
  // A second 100 without 900 first releases what the first one created.
  if (Initialised) Done();
  DocumentFileList = std::make_unique<TStringList>();
  IndexList = std::make_unique<TStringList>();
  BarcodePrefixList = std::make_unique<TStringList>();
  KqfConnection = std::make_unique<platform::DbConnection>();
  MainQuery = std::make_unique<TqzADODataSet>(KqfConnection.get());
  SupplementQuery = std::make_unique<TqzADODataSet>(KqfConnection.get());
  LinkConnection = std::make_unique<platform::DbConnection>();
  LinkQuery = std::make_unique<TqzADODataSet>(LinkConnection.get());
  AddonConnection = std::make_unique<platform::DbConnection>();
  AddonQuery = std::make_unique<TqzADODataSet>(AddonConnection.get());
  Ebcdic = std::make_unique<TEbcdic>();
  Ebcdic->SetConversation(cvEbcdicASCII);
  AssignTable.assign(1, TAssignRow{});
  AddonSelectTable.assign(1, TAddonSelectRow{});
  UserName = UpperCaseStr(TqzTools::GetUserName());
  InitText = text;
  ArchiveName.clear();
  Config.Client.clear();
  Config.DocType.clear();
  Config.DocTypeList.clear();
  ConfigurationString.clear();
  Config.BcPrefix.clear();
  RecordKey.clear();
  Config.KqfKeyField = u"ZDMKEY";
  Initialised = true;
  Finished = false;
}

void TExportModule::Done() {
  DocumentFileList.reset();
  IndexList.reset();
  BarcodePrefixList.reset();
  // Queries before their connections.
  if (MainQuery) MainQuery->Close();
  MainQuery.reset();
  if (SupplementQuery) SupplementQuery->Close();
  SupplementQuery.reset();
  if (KqfConnection) KqfConnection->Close();
  KqfConnection.reset();
  if (LinkQuery) LinkQuery->Close();
  LinkQuery.reset();
  if (LinkConnection) LinkConnection->Close();
  LinkConnection.reset();
  if (AddonQuery) AddonQuery->Close();
  AddonQuery.reset();
  if (AddonConnection) AddonConnection->Close();
  AddonConnection.reset();
  Ebcdic.reset();
  Initialised = false;
  Finished = true;
}

void TExportModule::AddIndex(const UnicodeString& entry) {
  const auto eq = entry.find(u'=');
  const UnicodeString name = UpperCaseStr(eq == UnicodeString::npos ? entry : entry.substr(0, eq));
  const UnicodeString value = eq == UnicodeString::npos ? UnicodeString() : entry.substr(eq + 1);
  if (eq != UnicodeString::npos && name == u"KQFKEY") {
    RecordKey = value;
  } else if (eq != UnicodeString::npos && (name == u"CLIENT" || name == u"MANDT")) {
    Config.Client = value;
  } else {
    IndexList->Add(entry);
  }
}
