// archive-server: a stand-in for the archive server, for demos and manual use.
//
//   archive-server --port N --store DIR [--bind ADDR] [--max-request BYTES]
//
// Listens on a loopback port (port 0: a free one, printed as "PORT <n>" on the first stdout
// line) and speaks the archive server's tag-framed protocol: one request and one answer per
// connection, then close. Served requests:
//   CREATEDOCEXT  stores the index values and files under a new 32-hex DocId, in DIR/<DocId>/
//                 (index.json and one file per object, named <DocId>_<nnnn>.<ext>);
//                 answers Result=OK, DocId, Message
//   GETDOCEXT     answers Result=OK with IDX<name>=<value> per stored index value and
//                 OBJ<n>=<file name> per stored file; Result=ERROR for an unknown DocId
//   GETBLOB       "<GETBLOB><file name></GETBLOB>": the file's bytes, then close
//   QUERYEXT      documents whose title or index values contain FULLTEXT (case-insensitive; all
//                 for an empty FULLTEXT), at most MAXHITS: HEADER and ROW<n> items, each a
//                 ";"-separated list of Base64 texts (DocId, Title, Archive)
//   ALIVE         Result=OK
// Requests above --max-request bytes (default 512 MiB) are refused with Result=ERROR. One log
// line per request goes to stderr.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <stdexcept>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "CaseMap.h"
#include "CodePage.h"
#include "Socket.h"
#include "qzBase64.h"
#include "qzComProtocol.h"
#include "qzDocHandler.h"
#include "qzTools.h"

namespace fs = std::filesystem;

namespace {

std::atomic<bool> g_stop{false};
std::atomic<int> g_active{0};
std::mutex g_logLock;
constexpr int kMaxConnections = 64;
constexpr int kRequestWaitMs = 60000;

struct Options {
  int port = 4470;
  std::string bind = "127.0.0.1";
  fs::path store = "archive-store";
  size_t maxRequest = size_t(512) << 20;
};

void Log(const std::string& line) {
  std::time_t t = std::time(nullptr);
  char stamp[32];
  std::strftime(stamp, sizeof(stamp), "%Y-%m-%dT%H:%M:%S", std::localtime(&t));
  std::lock_guard<std::mutex> lock(g_logLock);
  std::cerr << stamp << " " << line << std::endl;
}

AnsiString NewDocId() { return TqzTools::CreateId().str(); }

AnsiString Answer(std::vector<std::pair<std::string, std::string>> items) {
  std::vector<AnsiString> list;
  for (auto& [name, value] : items) list.push_back(name + "=" + value);
  return TqzComProtocol::BuildRequest("RESULT", true, false, list);
}

AnsiString Error(const std::string& message) { return Answer({{"Result", "ERROR"}, {"Message", message}}); }

AnsiString Find(const std::vector<TqzComItem>& items, const char* param) {
  for (const auto& item : items)
    if (item.Param == param) return item.Value;
  return {};
}

// The index file keeps 8-bit texts as UTF-8 (through the ANSI code page).
nlohmann::json ReadIndex(const fs::path& dir) {
  std::ifstream in(dir / "index.json");
  if (!in) return nullptr;
  auto j = nlohmann::json::parse(in, nullptr, false);
  return j.is_discarded() ? nlohmann::json(nullptr) : j;
}

// Writes a file whole; raises when it cannot (a document is never stored half).
void WriteWhole(const fs::path& path, std::string_view data) {
  std::ofstream out(path, std::ios::binary);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

AnsiString StoreDocument(const Options& opt, const std::vector<TqzComItem>& items, const AnsiString& docId,
                         const fs::path& temp, std::string& logNote) {
  fs::create_directories(temp);
  nlohmann::json index = {{"DocId", docId}, {"Params", nlohmann::json::object()}, {"Index", nlohmann::json::array()},
                          {"Files", nlohmann::json::array()}};
  int n = 0;
  for (const auto& item : items) {
    if (item.OrgParam.size() > 4 && platform::LowerAnsi(item.OrgParam.substr(0, 4)) == "obj(" &&
        item.OrgParam.back() == ')') {
      const AnsiString ext = item.OrgParam.substr(4, item.OrgParam.size() - 5);
      char name[64];
      std::snprintf(name, sizeof(name), "%s_%04d", docId.c_str(), ++n);
      std::string file = name;
      if (!ext.empty() && TqzDocument::IsPlainFileName(ext)) file += "." + ext;
      WriteWhole(temp / file, item.Value);
      index["Files"].push_back(file);
    } else if (item.Param.rfind("IDX", 0) == 0) {
      index["Index"].push_back({platform::AnsiToUtf8(item.OrgParam.substr(3)), platform::AnsiToUtf8(item.Value)});
    } else if (!item.Param.empty()) {
      index["Params"][platform::AnsiToUtf8(item.Param)] = platform::AnsiToUtf8(item.Value);
    }
  }
  WriteWhole(temp / "index.json", index.dump(1));
  fs::rename(temp, opt.store / docId);
  logNote = docId + " (" + std::to_string(n) + " files)";
  return Answer({{"Result", "OK"}, {"DocId", docId}, {"Message", "document stored"}});
}

// A new document is written into a hidden folder and renamed when complete; on any failure the
// folder goes again.
AnsiString CreateDocument(const Options& opt, const std::vector<TqzComItem>& items, std::string& logNote) {
  const AnsiString docId = NewDocId();
  const fs::path temp = opt.store / (".new-" + docId);
  try {
    return StoreDocument(opt, items, docId, temp, logNote);
  } catch (...) {
    std::error_code ec;
    fs::remove_all(temp, ec);
    throw;
  }
}

AnsiString GetDocument(const Options& opt, const std::vector<TqzComItem>& items, std::string& logNote) {
  const AnsiString docId = Find(items, "DOCID");
  logNote = docId;
  if (!TqzDocument::IsPlainFileName(docId)) return Error("document not found");
  nlohmann::json index = ReadIndex(opt.store / docId);
  if (index.is_null()) return Error("document not found");
  std::vector<std::pair<std::string, std::string>> out = {{"Result", "OK"}};
  for (const auto& pair : index["Index"])
    out.emplace_back("IDX" + platform::Utf8ToAnsi(pair[0].get<std::string>()), platform::Utf8ToAnsi(pair[1].get<std::string>()));
  int n = 0;
  for (const auto& file : index["Files"]) out.emplace_back("OBJ" + std::to_string(++n), file.get<std::string>());
  return Answer(out);
}

AnsiString Query(const Options& opt, const std::vector<TqzComItem>& items, std::string& logNote) {
  const AnsiString fulltext = platform::UpperAnsi(Find(items, "FULLTEXT"));
  long maxHits = std::strtol(Find(items, "MAXHITS").c_str(), nullptr, 10);
  if (maxHits <= 0) maxHits = 100;
  auto b64 = [](const std::string& s) { return TqzBase64::StrToBase64(s); };
  std::vector<std::pair<std::string, std::string>> rows;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(opt.store, ec)) {
    if (static_cast<long>(rows.size()) >= maxHits) break;
    const std::string name = entry.path().filename().string();
    if (!entry.is_directory() || name.rfind(".new-", 0) == 0) continue;
    nlohmann::json index = ReadIndex(entry.path());
    if (index.is_null()) continue;
    const AnsiString title = platform::Utf8ToAnsi(index["Params"].value("TITLE", ""));
    const AnsiString archive = platform::Utf8ToAnsi(index["Params"].value("ARCHIVE", ""));
    bool match = fulltext.empty() || platform::UpperAnsi(title).find(fulltext) != std::string::npos;
    for (const auto& pair : index["Index"])
      if (!match && platform::UpperAnsi(platform::Utf8ToAnsi(pair[1].get<std::string>())).find(fulltext) != std::string::npos)
        match = true;
    if (!match) continue;
    rows.emplace_back("ROW" + std::to_string(rows.size() + 1), b64(name) + ";" + b64(title) + ";" + b64(archive));
  }
  std::vector<std::pair<std::string, std::string>> out = {
      {"Result", "OK"}, {"Header", b64("DocId") + ";" + b64("Title") + ";" + b64("Archive")}};
  out.insert(out.end(), rows.begin(), rows.end());
  out.emplace_back("Message", std::to_string(rows.size()) + " hits");
  logNote = std::to_string(rows.size()) + " hits";
  return Answer(out);
}

void SendAll(platform::TcpSocket& socket, std::string_view data) {
  size_t done = 0;
  while (done < data.size()) {
    size_t n = socket.Write(data.data() + done, data.size() - done, 30000);
    if (n == 0) throw ESocketError("send timed out");
    done += n;
  }
}

void Serve(platform::TcpSocket socket, const Options& opt) {
  std::string type = "?", note;
  size_t received = 0;
  try {
    AnsiString request;
    bool tooLarge = false;
    char buffer[65536];
    while (!TqzComProtocol::IsAnswerComplete(request)) {
      if (!socket.WaitReadable(kRequestWaitMs)) break;
      size_t n = socket.Read(buffer, sizeof(buffer));
      if (n == 0) break;
      request.append(buffer, n);
      if (request.size() > opt.maxRequest) {
        tooLarge = true;
        break;
      }
    }
    received = request.size();
    type = TqzComProtocol::GetComType(request);
    AnsiString answer;
    if (tooLarge) {
      answer = Error("request too large");
      note = "refused: over " + std::to_string(opt.maxRequest) + " bytes";
    } else if (type == "GETBLOB") {
      AnsiString typ;
      std::vector<TqzComItem> items;
      std::string name;
      if (TqzComProtocol::ParseAnswer(request, true, typ, items) && items.size() == 1) name = items[0].Value;
      note = name;
      const size_t us = name.find('_');
      if (TqzDocument::IsPlainFileName(name) && us != std::string::npos) {
        std::ifstream in(opt.store / name.substr(0, us) / name, std::ios::binary);
        answer.assign(std::istreambuf_iterator<char>(in), {});
        note += " (" + std::to_string(answer.size()) + " bytes)";
      } else {
        note += " (refused)";
      }
    } else {
      AnsiString typ;
      std::vector<TqzComItem> items;
      bool parsed = false;
      try {
        parsed = TqzComProtocol::ParseAnswer(request, true, typ, items);
      } catch (const std::exception& e) {
        note = e.what();
      }
      if (!parsed) answer = Error("malformed request");
      else if (type == "CREATEDOCEXT") {
        try {
          answer = CreateDocument(opt, items, note);
        } catch (const std::exception& e) {
          // Nothing half-written stays behind, and the client learns that nothing was stored.
          note = std::string("not stored: ") + e.what();
          answer = Error("document not stored");
        }
      }
      else if (type == "GETDOCEXT") answer = GetDocument(opt, items, note);
      else if (type == "QUERYEXT") answer = Query(opt, items, note);
      else if (type == "ALIVE") answer = Answer({{"Result", "OK"}});
      else answer = Error("unsupported request " + type);
    }
    SendAll(socket, answer);
  } catch (const std::exception& e) {
    note += std::string(" error: ") + e.what();
  }
  socket.Close();
  Log(type + " " + std::to_string(received) + " bytes " + note);
  --g_active;
}

void OnSignal(int) { g_stop = true; }

int Usage() {
  std::cerr << "usage: archive-server --port N --store DIR [--bind ADDR] [--max-request BYTES]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (i + 1 >= argc) return Usage();
    if (a == "--port") opt.port = std::atoi(argv[++i]);
    else if (a == "--store") opt.store = argv[++i];
    else if (a == "--bind") opt.bind = argv[++i];
    else if (a == "--max-request") opt.maxRequest = std::strtoull(argv[++i], nullptr, 10);
    else return Usage();
  }
  signal(SIGPIPE, SIG_IGN);
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
  try {
    fs::create_directories(opt.store);
    platform::TcpListener listener;
    listener.Listen(opt.bind, opt.port);
    std::cout << "PORT " << listener.Port() << std::endl;
    Log("archive-server listening on " + opt.bind + ":" + std::to_string(listener.Port()) + ", store " +
        opt.store.string());
    while (!g_stop) {
      platform::TcpSocket socket = listener.Accept(200);
      if (!socket.Connected()) continue;
      if (g_active >= kMaxConnections) {
        Log("connection refused: too many connections");
        continue;
      }
      ++g_active;
      std::thread(Serve, std::move(socket), std::cref(opt)).detach();
    }
    for (int i = 0; i < 100 && g_active > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  } catch (const std::exception& e) {
    std::cerr << "archive-server: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
