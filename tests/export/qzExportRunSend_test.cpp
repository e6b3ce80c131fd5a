// The export run's hand-over to the archive-server stand-in: the request is written while the
// pages are read, and a page that changes while it is sent archives nothing and marks nothing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "ExportRunCases.h"

namespace {

using exportrun::SqliteBackend;

struct Change {
  const char* name;
  void (*apply)(const std::string& path);
};

TEST(ExportRunSend, PageChangedWhileSentArchivesNothing) {
  const Change changes[] = {
      {"truncated", [](const std::string& path) { ASSERT_EQ(::truncate(path.c_str(), 1 << 20), 0); }},
      {"grown", [](const std::string& path) { std::ofstream(path, std::ios::binary | std::ios::app) << "more"; }},
      {"unchanged", [](const std::string&) {}},
  };
  for (const Change& change : changes) {
    SCOPED_TRACE(change.name);
    SqliteBackend db;
    const std::string kqf = db.NewDatabase(), link = db.NewDatabase(), addon = db.NewDatabase();
    exportrun::CreateTables(db, kqf, link, addon);
    qztest::TempDir dir("qzexportsend");
    const std::string store = dir.Path() + "/store";
    qztest::ArchiveStandIn server(store);
    const std::string small = dir.Path() + "/page1.tif", large = dir.Path() + "/page2.tif";
    std::ofstream(small, std::ios::binary) << "II*\0first page";
    std::ofstream(large, std::ios::binary) << std::string(size_t(32) << 20, 'p');
    qztest::RelayOnce relay(server.Port(), size_t(1) << 20, [&] { change.apply(large); });

    exportrun::Host host;
    ASSERT_EQ(host.Send(QZWE_CMD_INIT), 0);
    const std::string config = exportrun::BaseConfig(db, kqf, link, addon, relay.Port()) + "<CHKPAGECOUNT=0></CONFIG>";
    ASSERT_EQ(host.Send(QZWE_CMD_SETCONFIG, platform::Utf8ToWide(config)), 0);
    host.Send(QZWE_CMD_NEWDOCUMENT);
    host.Send(QZWE_CMD_ADDINDEX, u"Barcode=4714");
    host.Send(QZWE_CMD_ADDFILE, platform::Utf8ToWide(small));
    host.Send(QZWE_CMD_ADDFILE, platform::Utf8ToWide(large));
    const int32_t result = host.Send(QZWE_CMD_EXPORT);
    relay.Forwarded();
    EXPECT_EQ(server.Stop(), 0);
    size_t stored = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(store)) ++stored;
    const std::string status = db.Exec(kqf, "SELECT ZDMSTS FROM ZDMNNCI WHERE ZDMKEY = 14;");
    if (std::string(change.name) == "unchanged") {
      EXPECT_EQ(result, 0) << platform::WideToUtf8(host.Msg());
      EXPECT_EQ(stored, 1u);
      EXPECT_EQ(status, "\xc3\xb0\n");
    } else {
      EXPECT_EQ(result, -2);
      EXPECT_EQ(host.Msg(), u"Objekt " + platform::Utf8ToWide(large) + u" kann nicht hinzugef\u00fcgt werden!");
      EXPECT_EQ(stored, 0u);  // nothing stored, no half-written folder either
      EXPECT_EQ(status, "O\n");  // the record is not marked
      EXPECT_EQ(db.Exec(link, "SELECT COUNT(*) FROM VYRKQFLINK;"), "0\n");
    }
    // The page files go on every way out of a run that found its record.
    EXPECT_FALSE(std::filesystem::exists(small));
    EXPECT_FALSE(std::filesystem::exists(large));
  }
}

}  // namespace
