// What the host checks itself before and after it hands documents to the plug-in: the
// configuration text's keys and switches, texts that the archive's 8-bit code page cannot hold,
// and whether the configured archive server can be reached.
#pragma once

#include <string>
#include <vector>

namespace kqfexport {

// What the host reads out of the configuration text, the way the plug-in reads it.
struct ConfigCheck {
  bool validTagList = false;  // "<CONFIG>", tags, "</CONFIG>"; the plug-in refuses anything else
  bool testMode = false;      // the last TESTMODE tag is a yes-word
  std::u16string docServer;   // the last DOCSERVER and DOCSERVERPORT values, as written
  std::u16string docServerPort;
  std::vector<std::string> warnings;  // unknown keys, switches that are neither yes nor no
};

ConfigCheck CheckConfigText(const std::u16string& text);

// The characters of `text` that the archive's code page (Windows-1252) cannot hold, each once,
// in UTF-8; empty when every character arrives as it is.
std::string CharactersLostInCodePage(const std::u16string& text);

// One line about the configured archive server: the address as configured and what a TCP
// connection to it gives (connected, refused, unreachable, name not found, no answer).
std::string DescribeServerConnection(const std::u16string& server, const std::u16string& portText);

}  // namespace kqfexport
