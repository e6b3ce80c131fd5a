// The request that is written to the socket as it is produced: byte for byte the text that
// BuiltComString builds over the same items (checked in memory and by the Python oracle's MD5 of
// what it received), and never a complete request when a file changes while it is sent.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "ArchiveOracle.h"
#include "CaseMap.h"
#include "CodePage.h"
#include "DbFixtures.h"
#include "qzComProtocol.h"
#include "qzMD5.h"
#include "qzVeroruvUdizive.h"

namespace {

std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937_64 rng(seed);
  std::string data(size, '\0');
  for (size_t i = 0; i < size; i += 8) {
    const uint64_t v = rng();
    std::memcpy(data.data() + i, &v, std::min<size_t>(8, size - i));
  }
  return data;
}

std::string Md5(std::string_view data) { return platform::LowerAnsi(TqzMD5::GetMD5(data.data(), static_cast<int64_t>(data.size()))); }

// One item of a case: a parameter, a file of `size` random bytes, or content held in memory.
struct Item {
  enum Kind { Param, File, Content } kind;
  size_t size = 0;
};

struct Case {
  const char* name;
  std::vector<Item> items;
};

const size_t kPiece = TqzComRequest::ReadPieceSize;
const size_t kSend = TqzComRequest::SendPieceSize;

std::vector<Case> Cases() {
  using I = Item;
  return {
      {"empty list", {}},
      {"parameters only", {{I::Param, 0}, {I::Param, 7}}},
      {"empty file", {{I::Param, 3}, {I::File, 0}}},
      {"file of 1", {{I::File, 1}}},
      {"file of 2", {{I::File, 2}}},
      {"file of 3", {{I::File, 3}}},
      {"file of 4", {{I::File, 4}}},
      {"read piece - 1", {{I::File, kPiece - 1}}},
      {"read piece", {{I::File, kPiece}}},
      {"read piece + 1", {{I::File, kPiece + 1}}},
      {"send piece around the item", {{I::Param, 5}, {I::File, kSend / 4 * 3 - 20}, {I::File, kSend + 1}}},
      {"several files and content", {{I::Param, 10}, {I::File, 5}, {I::Content, 100001}, {I::File, 3 * kPiece + 2}}},
  };
}

// Builds the same items into a streamed request and into BuiltComString's list.
void Build(const Case& c, const std::string& dir, TqzComRequest& quest, TComRes& list, std::vector<std::string>& keep) {
  int n = 0;
  for (const Item& item : c.items) {
    ++n;
    const std::string data = RandomBytes(item.size, static_cast<uint32_t>(n * 7919 + item.size));
    switch (item.kind) {
      case Item::Param: {
        const std::string text = "N" + std::to_string(n) + "=" + data;
        quest.AddItem(text);
        TqzVeroruvUdizive::AddComParam("N" + std::to_string(n), data, list);
        break;
      }
      case Item::File: {
        const std::string path = dir + "/page" + std::to_string(n) + ".Tif";
        std::ofstream(path, std::ios::binary) << data;
        ASSERT_TRUE(quest.AddFile(path, path));
        ASSERT_TRUE(TqzVeroruvUdizive::AddObjectComParam(path, list));
        break;
      }
      case Item::Content:
        keep.push_back(data);
        quest.AddContentRef("scan.pdf", keep.back());
        TqzVeroruvUdizive::AddObjectContentComParam("scan.pdf", data, list);
        break;
    }
  }
}

TEST(StreamedRequest, SameBytesAsTheBuiltText) {
  for (const auto& [encode, compress] : std::vector<std::pair<bool, bool>>{{true, false}, {false, false}, {true, true}}) {
    for (const Case& c : Cases()) {
      qztest::TempDir dir("qzstream");
      TqzComRequest quest("CREATEDOCEXT", encode, compress);
      TComRes list;
      std::vector<std::string> keep;
      keep.reserve(c.items.size());
      Build(c, dir.Path(), quest, list, keep);
      EXPECT_EQ(quest.Text(), TqzVeroruvUdizive::BuiltComString("CREATEDOCEXT", encode, compress, list))
          << c.name << " encode " << encode << " compress " << compress;
      // Small pieces change nothing but the cut.
      std::string small;
      quest.Write([&](const char* p, size_t n, bool) {
        EXPECT_LE(n, 1024u);
        small.append(p, n);
      }, 1024);
      EXPECT_EQ(small, quest.Text()) << c.name;
    }
  }
}

// What the oracle receives over the socket: the same bytes (its own MD5), the same decoded items.
TEST(StreamedRequest, OracleReceivesTheBuiltText) {
  qztest::ArchiveOracle oracle;
  oracle.Start("none", {"--digests"});
  std::vector<Case> cases = Cases();
  cases.push_back({"a file of 100 MiB", {{Item::Param, 4}, {Item::File, size_t(100) << 20}}});
  size_t sent = 0;
  for (const Case& c : cases) {
    qztest::TempDir dir("qzstream");
    TqzComRequest quest("CREATEDOCEXT");
    TComRes list;
    std::vector<std::string> keep;
    keep.reserve(c.items.size());
    Build(c, dir.Path(), quest, list, keep);
    std::vector<std::string> itemMd5;
    for (const std::string& raw : list) itemMd5.push_back(Md5(raw));
    std::string expected = TqzVeroruvUdizive::BuiltComString("CREATEDOCEXT", true, false, list);
    list.clear();
    const std::string expectedMd5 = Md5(expected);
    const size_t expectedSize = expected.size();
    expected.clear();
    expected.shrink_to_fit();

    TqzVeroruvUdizive client(platform::Utf8ToWide(dir.Path() + "/temp/"));
    client.Server = "127.0.0.1";
    client.Port = oracle.Port();
    AnsiString typ;
    TComResExt answer;
    ASSERT_TRUE(client.AskServer(quest, typ, answer)) << c.name;
    EXPECT_EQ(TqzVeroruvUdizive::GetComParam(answer, "Result"), "OK");
    const auto seen = oracle.WaitForRequests(++sent, 60000);
    ASSERT_EQ(seen.size(), sent);
    EXPECT_EQ(seen.back().Size, expectedSize) << c.name;
    EXPECT_EQ(seen.back().Md5, expectedMd5) << c.name;
    EXPECT_EQ(seen.back().ItemMd5, itemMd5) << c.name;
  }
}

TEST(StreamedRequest, FilesMustBeReadableWhenAdded) {
  qztest::TempDir dir("qzstream");
  TqzComRequest quest("CREATEDOCEXT");
  EXPECT_FALSE(quest.AddFile(dir.Path() + "/missing.tif", "missing.tif"));
  EXPECT_FALSE(quest.AddFile(dir.Path(), "folder"));
  EXPECT_EQ(quest.Count(), 0u);
}

// A file that shrinks or grows while it is sent: the exchange fails, FailedFile names it, the
// stand-in never sees the closing tag and stores nothing.
TEST(StreamedRequest, FileChangedWhileSentStoresNothing) {
  struct Change {
    const char* name;
    std::function<void(const std::string&)> apply;
  };
  const size_t size = size_t(48) << 20;
  const std::vector<Change> changes = {
      {"truncated", [](const std::string& path) { ASSERT_EQ(::truncate(path.c_str(), 1 << 20), 0); }},
      {"grown", [](const std::string& path) { std::ofstream(path, std::ios::binary | std::ios::app) << std::string(4096, 'g'); }},
  };
  for (const Change& change : changes) {
    qztest::TempDir dir("qzstreamcut");
    const std::string store = dir.Path() + "/store";
    qztest::ArchiveStandIn server(store);
    const std::string path = dir.Path() + "/page.tif";
    std::ofstream(path, std::ios::binary) << RandomBytes(size, 3);
    TqzComRequest quest("CREATEDOCEXT");
    quest.AddItem("Archive=box7");
    ASSERT_TRUE(quest.AddFile(path, path));
    qztest::RelayOnce relay(server.Port(), size_t(1) << 20, [&] { change.apply(path); });
    TqzVeroruvUdizive client(platform::Utf8ToWide(dir.Path() + "/temp/"));
    client.Server = "127.0.0.1";
    client.Port = relay.Port();
    AnsiString typ;
    TComResExt answer;
    EXPECT_FALSE(client.AskServer(quest, typ, answer)) << change.name;
    EXPECT_EQ(quest.FailedFile(), path) << change.name;
    EXPECT_LT(relay.Forwarded(), size / 3 * 4) << change.name;
    EXPECT_EQ(server.Stop(), 0);
    EXPECT_TRUE(std::filesystem::is_empty(store)) << change.name;
  }
}

}  // namespace
