#include "PeFixtures.h"

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qztest {

namespace {

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out.push_back(c);
  }
  return out + "'";
}

// Runs a shell command; returns {exit code, stdout+stderr}.
std::pair<int, std::string> Run(const std::string& cmd) {
  std::string out;
  FILE* p = ::popen((cmd + " 2>&1").c_str(), "r");
  if (!p) return {-1, "popen failed"};
  std::array<char, 4096> buf;
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
  int status = ::pclose(p);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

std::string FindTool(const std::string& base) {
  for (const char* suffix : {"", "-19", "-18", "-17", "-16", "-15", "-14", "-13"}) {
    std::string name = base + suffix;
    auto [rc, out] = Run("command -v " + name);
    if (rc == 0 && !out.empty()) return name;
  }
  return "";
}

std::string RcString(const std::string& utf8) {
  std::string out = "\"";
  for (size_t i = 0; i < utf8.size(); ++i) {
    char c = utf8[i];
    if (c == '"') {
      out += "\"\"";
    } else if (c == '\\' && i + 1 < utf8.size() && utf8[i + 1] == '0') {
      out += "\\0";
      ++i;
    } else if (c == '\\') {
      out += "\\\\";
    } else {
      out.push_back(c);
    }
  }
  return out + "\"";
}

}  // namespace

std::string PeToolsMissing() {
  std::string missing;
  if (FindTool("llvm-rc").empty()) missing += "llvm-rc ";
  if (FindTool("lld-link").empty()) missing += "lld-link ";
  if (FindTool("llvm-readobj").empty()) missing += "llvm-readobj ";
  if (Run("/usr/bin/python3 -c 'import pefile'").first != 0) missing += "python3-pefile ";
  return missing;
}

std::string BuildPeFixture(const std::string& dir, const std::string& name, const PeFixtureOptions& options) {
  std::string rcPath = dir + "/" + name + ".rc";
  std::string resPath = dir + "/" + name + ".res";
  std::string outPath = dir + "/" + name;
  std::ostringstream rc;
  if (options.WithVersionResource) {
    auto v = [](const uint16_t* p) {
      return std::to_string(p[0]) + "," + std::to_string(p[1]) + "," + std::to_string(p[2]) + "," + std::to_string(p[3]);
    };
    std::vector<PeFixtureOptions::Table> tables{{options.Language, options.CodePage, options.Strings}};
    tables.insert(tables.end(), options.MoreTables.begin(), options.MoreTables.end());
    rc << "1 VERSIONINFO\nFILEVERSION " << v(options.FileVersion) << "\nPRODUCTVERSION " << v(options.ProductVersion)
       << "\nFILEOS 0x40004\nFILETYPE 0x2\nBEGIN\n  BLOCK \"StringFileInfo\"\n  BEGIN\n";
    for (const auto& t : tables) {
      char table[16];
      std::snprintf(table, sizeof table, "%04X%04X", t.Language, t.CodePage);
      rc << "    BLOCK \"" << table << "\"\n    BEGIN\n";
      for (const auto& [key, value] : t.Strings) rc << "      VALUE " << RcString(key) << ", " << RcString(value) << "\n";
      rc << "    END\n";
    }
    rc << "  END\n";
    if (options.WithTranslation) {
      rc << "  BLOCK \"VarFileInfo\"\n  BEGIN\n    VALUE \"Translation\"";
      for (const auto& t : tables) rc << ", " << t.Language << ", " << t.CodePage;
      rc << "\n  END\n";
    }
    rc << "END\n";
  } else {
    rc << "7 RCDATA { \"not a version\" }\n";
  }
  std::ofstream(rcPath) << rc.str();
  auto [rc1, out1] = Run(FindTool("llvm-rc") + " /C 65001 /fo " + Quote(resPath) + " " + Quote(rcPath));
  if (rc1 != 0) throw std::runtime_error("llvm-rc failed: " + out1);
  auto [rc2, out2] = Run(FindTool("lld-link") + " /dll /noentry /machine:" + options.Machine + " /out:" + Quote(outPath) +
                         " " + Quote(resPath));
  if (rc2 != 0) throw std::runtime_error("lld-link failed: " + out2);
  return outPath;
}

std::vector<uint8_t> ReadobjVersionResource(const std::string& file) {
  auto [rc, out] = Run(FindTool("llvm-readobj") + " --coff-resources " + Quote(file));
  if (rc != 0) throw std::runtime_error("llvm-readobj failed: " + out);
  // The first "Data (" block after "Type: VERSIONINFO": lines "  0000: 6C013400 ...  |text|".
  std::vector<uint8_t> bytes;
  size_t at = out.find("VERSIONINFO (ID 16)");
  if (at == std::string::npos) return bytes;
  at = out.find("Data (", at);
  if (at == std::string::npos) return bytes;
  std::istringstream lines(out.substr(at + 6));
  std::string line;
  while (std::getline(lines, line)) {
    size_t colon = line.find(':');
    if (line.find(')') != std::string::npos && colon == std::string::npos) break;
    if (colon == std::string::npos) continue;
    size_t bar = line.find('|');
    std::string hex = line.substr(colon + 1, bar == std::string::npos ? std::string::npos : bar - colon - 1);
    std::string digits;
    for (char c : hex)
      if (std::isxdigit(static_cast<unsigned char>(c))) digits.push_back(c);
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
      bytes.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

}  // namespace qztest
