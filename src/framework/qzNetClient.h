// What the two HTTP clients of qzNet share: the client made from the global class factory's HTTP
// client options, the mapping of those options onto the libcurl wrapper, and the WinINet-style
// error numbers for curl's result codes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "HttpClient.h"
#include "Text.h"

namespace qzNetClient {

// A client set up from the global class factory's HTTP client options for a request to Url.
std::unique_ptr<platform::HttpClient> NewHttpClient(const UnicodeString& Url);

// The WinINet error number that stands for a curl result code (see qzNetHttp.cpp for the table);
// 12004 (ERROR_INTERNET_INTERNAL_ERROR) where there is no closer one.
int WinInetError(int CurlCode);

// Header lines separated by CR LF or LF, empty lines dropped.
std::vector<std::string> SplitHeaderLines(const std::string& Lines);

}  // namespace qzNetClient
