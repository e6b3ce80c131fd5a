// The URL escapers and the multipart parser on large inputs, side by side with references:
//   PercentEncode / DecodeUrlPart of 4 MB   vs libcurl's curl_easy_escape / curl_easy_unescape
//   ParseMultiPartData of a 50 MB body      vs a plain memmem scan that only cuts the parts out
//   ApplyStyle over 2 MB of style sheet     vs one std::string find pass over the same text
// Goal: linear time, within 2x of the reference.
#include <curl/curl.h>
#include <string.h>

#include <random>

#include "BenchSupport.h"
#include "CodePage.h"
#include "qzNet.h"

namespace {

std::string RandomText(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  const std::string pool = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJ0123456789 -._~/:?&=%#\xC3\xA4\xE2\x82\xAC";
  std::string s;
  s.reserve(n);
  while (s.size() < n) s.push_back(pool[rng() % pool.size()]);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = qzbench::IntOption(argc, argv, "--rounds", 7);
  curl_global_init(CURL_GLOBAL_DEFAULT);
  CURL* curl = curl_easy_init();
  size_t sink = 0;

  const std::string text = RandomText(4u << 20, 1);
  const UnicodeString wide = platform::Utf8ToWide(text);
  qzbench::Compare("PercentEncode of 4 MB vs curl_easy_escape", rounds,
                   [&] { return qzbench::Time([&] { sink += TqzNet::PercentEncode(wide).size(); }); },
                   [&] {
                     return qzbench::Time([&] {
                       // The reference gets the UTF-8 bytes our encoder makes first.
                       const std::string utf8 = platform::WideToUtf8(wide);
                       char* e = curl_easy_escape(curl, utf8.data(), static_cast<int>(utf8.size()));
                       sink += strlen(e);
                       curl_free(e);
                     });
                   },
                   2.0);
  const AnsiString escaped = TqzNet::EncodeUrlPart(text);
  qzbench::Compare("DecodeUrlPart of 4 MB of text (" + std::to_string(escaped.size() >> 20) + " MB escaped) vs curl_easy_unescape", rounds,
                   [&] { return qzbench::Time([&] { sink += TqzNet::DecodeUrlPart(escaped).size(); }); },
                   [&] {
                     return qzbench::Time([&] {
                       int len = 0;
                       char* d = curl_easy_unescape(curl, escaped.data(), static_cast<int>(escaped.size()), &len);
                       sink += static_cast<size_t>(len);
                       curl_free(d);
                     });
                   },
                   2.0);

  // A 50 MB body of two parts, and a body of 1,000 small parts.
  std::mt19937_64 rng(2);
  std::string block(65536, '\0');
  for (char& c : block) c = static_cast<char>(rng());
  auto body = [&](int parts, size_t each) {
    std::string b;
    for (int i = 0; i < parts; ++i) {
      b += "--qzBoundary\r\nContent-Disposition: form-data; name=\"f" + std::to_string(i) + "\"\r\n\r\n";
      for (size_t n = 0; n < each; n += block.size()) b.append(block, 0, std::min(block.size(), each - n));
      b += "\r\n";
    }
    return b + "--qzBoundary--\r\n";
  };
  for (const auto& [name, data] : {std::pair<std::string, std::string>{"50 MB in 2 parts", body(2, 25u << 20)},
                                   {"1,000 parts of 4 KB", body(1000, 4096)}}) {
    qzbench::Compare("ParseMultiPartData, " + name + " vs a memmem scan", rounds,
                     [&, &data = data] {
                       return qzbench::Time([&] {
                         TMultiParts parts;
                         TqzNet::ParseMultiPartData(data, parts, true);
                         sink += parts.size();
                       });
                     },
                     [&, &data = data] {
                       return qzbench::Time([&] {
                         const std::string delim = "\r\n--qzBoundary";
                         std::vector<std::string> parts;
                         const char* p = data.data();
                         const char* end = p + data.size();
                         while (true) {
                           const char* head = static_cast<const char*>(memmem(p, static_cast<size_t>(end - p), "\r\n\r\n", 4));
                           if (!head) break;
                           const char* next = static_cast<const char*>(memmem(head, static_cast<size_t>(end - head), delim.data(), delim.size()));
                           if (!next) break;
                           parts.emplace_back(head + 4, next);
                           p = next + delim.size();
                         }
                         sink += parts.size();
                       });
                     },
                     2.0);
  }

  TqzStyleDefinition styles;
  styles.AddOrSetValue(u"COLOR", Variant::FromAnsi("red"));
  std::string css;
  while (css.size() < (2u << 20)) css += "a.x{color:[@COLOR(blue)];margin:[@MARGIN(1px)]}\n";
  qzbench::Compare("ApplyStyle of 2 MB vs one find pass", rounds,
                   [&] { return qzbench::Time([&] { sink += TqzNet::ApplyStyle(styles, css).size(); }); },
                   [&] {
                     return qzbench::Time([&] {
                       size_t n = 0;
                       for (size_t p = css.find("[@"); p != std::string::npos; p = css.find("[@", p + 2)) ++n;
                       std::string copy = css;
                       sink += n + copy.size();
                     });
                   },
                   0);
  curl_easy_cleanup(curl);
  std::printf("(%zu)\n", sink);
  return 0;
}
