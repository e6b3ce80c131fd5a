// TqzComTools: the com-string client, for callers that hold no client object.
//
// Speaks the archive server's request/answer format (qzComProtocol.h) through class operations
// only; the server, the port and the two waits come with each call. Compared with
// TqzVeroruvUdizive it adds a raw exchange that hands back the answer text unparsed, a parse mode
// that keeps the tokens undecoded, and a few lookups; it has no raw file request. Its records
// are its own (namespace qzComTools), with the same roles as those of qzTypes.h; its answer items
// carry no B64Encoded flag, so values are never decoded on reading.
//
// Differences in failure handling: an empty answer is a plain failure (False, comres emptied),
// not an error, so in a failover call it does not mark the entry inactive. The liveness probe
// of an inactive list always uses a send limit of 2000 ms and a receive limit of 5000 ms.
//
// Threads: no state; any number of threads may call at once, each exchange with its own socket.
// A TServerList shared between threads needs the caller's lock.
#pragma once

#include <cstdint>
#include <vector>

#include "Text.h"
#include "qzComProtocol.h"

namespace qzComTools {

using TComRes = std::vector<AnsiString>;  // request items before framing

struct TComPart {
  AnsiString Param;     // the item's name upper-cased (with ParseParVal false: its index)
  AnsiString OrgParam;  // the name as received
  AnsiString Value;
};
using TComResExt = std::vector<TComPart>;

struct TServer {
  bool Active = false;
  UnicodeString Host;  // host name or IPv4 address
  int32_t Port = 0;
};

struct TServerList {
  std::vector<TServer> Server;
  bool Rotate = false;
  int32_t ActId = 0;
};

class TqzComTools {
 public:
  TqzComTools() = delete;

  // Caps of every exchange (process-wide, configurable): answer size and decompressed items.
  // They are read without a lock: set them before exchanges start on other threads.
  static TqzComLimits& Limits();

  static bool AddComParam(const AnsiString& Param, const AnsiString& Value, TComRes& ComList);
  static bool AddObjectComParam(const AnsiString& filename, TComRes& ComList);
  static bool AddObjectContentComParam(const AnsiString& filename, const AnsiString& content, TComRes& ComList);
  static AnsiString BuiltComString(const AnsiString& ComTyp, bool encode, bool compress, TComRes& ComList);

  // ParseParVal true: as TqzVeroruvUdizive::ParseComAnswer. False: option tokens are kept and
  // nothing is decoded; each token between the tags becomes an item whose Param is its index.
  // Raises EZlibError for compressed items that cannot be decompressed.
  static bool ParseComAnswer(const AnsiString& Request, AnsiString& ComTyp, TComResExt& ComList, bool ParseParVal);
  // The type of a request or answer: after the first "<", up to the next ">", trimmed, upper-cased.
  static AnsiString GetComType(const AnsiString& Request);

  static AnsiString GetComParam(const TComResExt& ComList, const AnsiString& Param);
  static AnsiString GetComParamExt(const TComResExt& ComList, const AnsiString& Param, const AnsiString& Default);
  static int32_t GetComParamId(const TComResExt& ComList, const AnsiString& Param);
  static uint32_t GetComParamSize(const TComResExt& ComList, const AnsiString& Param);
  // Looks a value up in request items: the first item whose name, as written, equals Param
  // upper-cased (names not written in upper case are never found).
  static AnsiString GetComListParamExt(const TComRes& ComList, const AnsiString& Param, const AnsiString& Default);
  static bool ComParamExists(const TComResExt& ComList, const AnsiString& Param);
  static int32_t GetFreeComParam(const TComResExt& ComList);

  // One exchange; the answer is parsed with ParseParVal true.
  static bool AskServer(const UnicodeString& Server, int32_t Port, int32_t ConWait, int32_t ResWait,
                        const AnsiString& Quest, AnsiString& ComTyp, TComResExt& comres);
  // One exchange with failover over ServerList (see TqzComProtocol::RunFailover).
  static bool AskServer(TServerList& ServerList, int32_t ConWait, int32_t ResWait, const AnsiString& Quest,
                        AnsiString& ComTyp, TComResExt& comres, int32_t& ServerId);
  // Raw exchange: ComText receives the answer text unparsed (what arrived, also after an error);
  // True when it is not empty and ends with ">".
  static bool AskServer(const UnicodeString& Server, int32_t Port, int32_t ConWait, int32_t ResWait,
                        const AnsiString& Quest, AnsiString& ComText);

  // Send and receive limits of the liveness probe.
  static constexpr int32_t ProbeConWait = 2000;
  static constexpr int32_t ProbeResWait = 5000;
};

}  // namespace qzComTools

using qzComTools::TqzComTools;
