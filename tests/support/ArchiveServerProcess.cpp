#include "ArchiveServerProcess.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "TestSupport.h"

namespace qztest {

namespace fs = std::filesystem;

ArchiveServerProcess::ArchiveServerProcess(const std::string& dir) : store_(dir + "/store") {
  const std::string binary = std::string(QZ_BINARY_DIR) + "/archive-server";
  if (::access(binary.c_str(), X_OK) != 0) throw std::runtime_error(binary + " is not built");
  process_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{binary, "--port", "0", "--store", store_, "--bind", "127.0.0.1"}, dir + "/archive-server");
  port_ = std::stoi(process_->WaitForOutput("PORT "));
}

int ArchiveServerProcess::Stop() {
  process_->Signal(SIGTERM);
  return process_->Wait();
}

std::vector<ArchiveServerProcess::Document> ArchiveServerProcess::Documents() const {
  std::vector<Document> docs;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(store_, ec)) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_directory() || name[0] == '.') continue;
    std::ifstream in(entry.path() / "index.json");
    const auto index = nlohmann::json::parse(in);
    Document d;
    d.docId = name;
    d.archive = index["Params"].value("ARCHIVE", "");
    d.title = index["Params"].value("TITLE", "");
    for (const auto& pair : index["Index"]) d.index.emplace_back(pair[0].get<std::string>(), pair[1].get<std::string>());
    for (const auto& file : index["Files"]) d.files.push_back(ReadFile((entry.path() / file.get<std::string>()).string()));
    docs.push_back(std::move(d));
  }
  std::sort(docs.begin(), docs.end(), [](const Document& a, const Document& b) { return a.title < b.title; });
  return docs;
}

}  // namespace qztest
