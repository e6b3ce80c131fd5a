// The HTTP client both clients of qzNet use, set up from the HTTP client options.
#include "qzNetClient.h"

namespace qzNetClient {

std::unique_ptr<platform::HttpClient> NewHttpClient(const UnicodeString&) {
  return std::make_unique<platform::HttpClient>(platform::HttpClientSettings{});
}

}  // namespace qzNetClient
