// The export host kqfexport as an administrator runs it: the built tool drives the built plug-in
// against a SQLite KQF database and the built archive-server stand-in, whose store shows what
// arrived. Batch layouts, re-runs, warnings, the server check after a failed hand-over,
// interruptions, and the command line.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "ArchiveServerProcess.h"
#include "BuildVersion.h"
#include "ChildProcess.h"
#include "ExportRunCases.h"
#include "Socket.h"
#include "TestSupport.h"
#include "TextFile.h"

namespace fs = std::filesystem;

namespace {

const std::string kLibrary = std::string(QZ_BINARY_DIR) + "/libqzkqfexport.so";
const std::string kTool = std::string(QZ_BINARY_DIR) + "/kqfexport";

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A KQF database, the stand-in, a batch folder, the plug-in's temporary folder and an empty
// registry (so the temporary folder is $TMPDIR whatever the machine has installed).
struct ToolSetup {
  exportrun::SqliteBackend db;
  std::string kqf = db.NewDatabase(), link = db.NewDatabase(), addon = db.NewDatabase();
  qztest::TempDir dir{"qzkqfexport"};
  qztest::ArchiveServerProcess server{dir.Path()};
  std::string batch = dir.Path() + "/batch", temp = dir.Path() + "/tmp", config = dir.Path() + "/config.txt";

  explicit ToolSetup(const std::string& tags = "<CHKPAGECOUNT=nein>") {
    exportrun::CreateTables(db, kqf, link, addon);
    for (const auto& d : {batch, temp, dir.Path() + "/registry"}) fs::create_directories(d);
    WriteConfig(server.Port(), tags);
  }
  void WriteConfig(int port, const std::string& tags, const std::string& server = "127.0.0.1") {
    std::string text = exportrun::BaseConfig(db, kqf, link, addon, port) + tags + "</CONFIG>\n";
    const std::string from = "<DOCSERVER=127.0.0.1>";
    text.replace(text.find(from), from.size(), "<DOCSERVER=" + server + ">");
    qztest::WriteFile(config, text);
  }
  std::vector<std::string> Env() const { return {"TMPDIR=" + temp, "KESTA_REGISTRY_DIR=" + dir.Path() + "/registry"}; }
  qztest::ProcessResult Run(const std::vector<std::string>& args) const {
    std::vector<std::string> argv = {kTool, "--library", kLibrary};
    argv.insert(argv.end(), args.begin(), args.end());
    return qztest::RunProcess(argv, "", Env());
  }
  qztest::ProcessResult RunBatch() const { return Run({"batch", "--config", config, "--archive", "ARC1", batch}); }
  // Page copies left in the temporary folder.
  std::vector<std::string> Copies() const {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(temp))
      if (e.path().filename().string().rfind("kqfexport-", 0) == 0) found.push_back(e.path().string());
    return found;
  }
  void Document(const std::string& folder, const std::optional<std::string>& index,
                const std::vector<std::pair<std::string, std::string>>& files) {
    const std::string path = batch + "/" + folder;
    fs::create_directories(path);
    if (index) qztest::WriteFile(path + "/index.txt", *index);
    for (const auto& [name, content] : files) {
      if (content == "<folder>") fs::create_directories(path + "/" + name);
      else if (content == "<broken>") fs::create_symlink(path + "/nowhere.tif", path + "/" + name);
      else qztest::WriteFile(path + "/" + name, content);
    }
  }
};

std::vector<std::pair<std::string, std::string>> Pages(std::initializer_list<int> numbers) {
  std::vector<std::pair<std::string, std::string>> files;
  for (int n : numbers) files.emplace_back("page-" + std::to_string(n) + ".tif", "page " + std::to_string(n));
  return files;
}

std::string Utf16(const std::u16string& text, bool bigEndian) {
  return (bigEndian ? std::string("\xFE\xFF") : std::string("\xFF\xFE")) + platform::WideToUtf16Bytes(text, bigEndian);
}

struct Layout {
  const char* folder;
  std::optional<std::string> index;  // no index.txt when absent
  std::vector<std::pair<std::string, std::string>> files;  // "<folder>": a folder, "<broken>": a broken link
  int result;
  std::string message;
  std::vector<std::string> sent = {};  // the page contents the archive received, in order
  std::pair<std::string, std::string> indexValue = {};  // one more index value the archive received
};

// Document folders are taken in natural order too: doc-2 before doc-10.
const std::vector<Layout>& Layouts() {
  static const std::string kUmlaut = "M\xc3\xbcller";
  static const std::vector<Layout> layouts = {
      {"doc-1", "BARCODE=4711\n", Pages({11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1}), 0, "archived",
       {"page 1", "page 2", "page 3", "page 4", "page 5", "page 6", "page 7", "page 8", "page 9", "page 10", "page 11"}},
      {"doc-2", "BARCODE=4711\n",
       {{"scan.tif", "scan"}, {".hidden.tif", "h"}, {"Thumbs.db", "t"}, {"desktop.ini", "d"}, {"THUMBS.DB", "T"}},
       0, "archived", {"scan"}},
      {"doc-3", "BARCODE=4711\n", {{"page-1.tif", "p"}, {"extra", "<folder>"}}, -1,
       "\"extra\" is a folder, not a page file"},
      {"doc-4", "BARCODE=4711\n", {{"page-1.tif", "p"}, {"page-2.tif", "<broken>"}}, -1,
       "\"page-2.tif\" is a broken link"},
      {"doc-5", std::nullopt, Pages({1}), -1, "no index.txt in the document folder"},
      {"doc-6", Utf16(u"BARCODE=4711\r\nKUNDE=M\u00fcller\r\n", false), Pages({2, 1}), 0, "archived",
       {"page 1", "page 2"}, {"KUNDE", kUmlaut}},
      {"doc-7", Utf16(u"BARCODE=4711\nKUNDE=M\u00fcller\n", true), Pages({1}), 0, "archived", {"page 1"},
       {"KUNDE", kUmlaut}},
      {"doc-8", "\xEF\xBB\xBF# scanned on line 2\r\nBARCODE=4711\r\n\r\nKUNDE=" + kUmlaut + "\r\n", Pages({1}), 0,
       "archived", {"page 1"}, {"KUNDE", kUmlaut}},
      {"doc-9", "BARCODE=4711\nKUNDE=M\xfcller\n", Pages({1}), -1,
       "index.txt line 2 is not valid UTF-8 (save the file as UTF-8, or as UTF-16 with a byte-order mark)"},
      {"doc-10", "BARCODE=4711\nNOTE=ok \xF0\x9F\x98\x80\n", Pages({1}), 0, "archived", {"page 1"}, {"NOTE", "ok ?"}},
      {"doc-11", "BARCODE=0000\n", Pages({1}), -2, "0000 - Es wurde kein offener Barcode gefunden"},
      {"doc-12", "BARCODE=4711\njust a note\n", Pages({1}), -1, "index.txt line 2: expected NAME=VALUE"},
  };
  return layouts;
}

TEST(KqfexportBatch, LayoutsLinesMovesAndCopies) {
  ToolSetup s;
  for (const auto& l : Layouts()) s.Document(l.folder, l.index, l.files);
  fs::create_directories(s.batch + "/.trash/x");  // hidden: not a document
  qztest::WriteFile(s.batch + "/notes.txt", "not a document");

  const auto run = s.RunBatch();
  EXPECT_EQ(run.ExitCode, 1) << run.Err;
  const auto lines = qztest::SplitRows(run.Out);
  ASSERT_EQ(lines.size(), Layouts().size()) << run.Out;
  const auto stored = s.server.Documents();
  size_t archived = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const Layout& l = Layouts()[i];
    SCOPED_TRACE(l.folder);
    EXPECT_EQ(lines[i][0], l.folder);
    EXPECT_EQ(lines[i][1], std::to_string(l.result));
    EXPECT_EQ(lines[i][3], l.message);
    const std::string moved = s.batch + "/done/" + l.folder;
    EXPECT_EQ(fs::exists(moved), l.result == 0);
    EXPECT_EQ(fs::exists(s.batch + "/" + l.folder), l.result != 0);
    // The user's page files stay, wherever the folder is now.
    for (const auto& [name, content] : l.files) {
      if (content[0] == '<') continue;
      EXPECT_EQ(qztest::ReadFile((l.result == 0 ? moved : s.batch + "/" + l.folder) + "/" + name), content);
    }
    const qztest::ArchiveServerProcess::Document* doc = nullptr;
    for (const auto& d : stored)
      if (d.title == l.folder) doc = &d;
    ASSERT_EQ(doc != nullptr, l.result == 0);
    if (doc == nullptr) continue;
    ++archived;
    EXPECT_EQ(doc->archive, "ARC1");
    EXPECT_EQ(doc->files, l.sent);
    ASSERT_FALSE(doc->index.empty());
    EXPECT_EQ(doc->index[0], std::make_pair(std::string("BARCODE"), std::string("4711")));
    if (!l.indexValue.first.empty()) {
      EXPECT_EQ(doc->index.at(1), l.indexValue);
    }
  }
  EXPECT_EQ(stored.size(), archived);
  EXPECT_TRUE(s.Copies().empty());
  EXPECT_TRUE(fs::exists(s.batch + "/.trash/x"));
  EXPECT_TRUE(Contains(run.Err, "kqfexport: 6 archived, 6 failed, 0 skipped in ")) << run.Err;
  // The emoji cannot go through the archive's code page: said before the run.
  EXPECT_TRUE(Contains(run.Err, "warning: doc-10: the index value \"NOTE=ok \xF0\x9F\x98\x80\" has characters that "
                                "the archive's code page (Windows-1252) cannot hold: \xF0\x9F\x98\x80"))
      << run.Err;
}

TEST(KqfexportBatch, RerunArchivesNothingTwice) {
  ToolSetup s;
  s.Document("a", "BARCODE=4711\n", Pages({1, 2}));
  s.Document("b", std::nullopt, Pages({1}));
  auto run = s.RunBatch();
  EXPECT_EQ(run.ExitCode, 1) << run.Err;
  EXPECT_EQ(s.server.Documents().size(), 1u);

  // Again: only the document that failed is tried, and it fails again.
  run = s.RunBatch();
  EXPECT_EQ(run.ExitCode, 1) << run.Err;
  ASSERT_EQ(qztest::SplitRows(run.Out).size(), 1u) << run.Out;
  EXPECT_EQ(qztest::SplitRows(run.Out)[0][0], "b");
  EXPECT_EQ(s.server.Documents().size(), 1u);

  // Mended, it goes through; a new folder named like an archived one gets a free name in done/.
  qztest::WriteFile(s.batch + "/b/index.txt", "BARCODE=4711\n");
  s.Document("a", "BARCODE=4711\n", Pages({3}));
  run = s.RunBatch();
  EXPECT_EQ(run.ExitCode, 0) << run.Out << run.Err;
  EXPECT_EQ(s.server.Documents().size(), 3u);
  EXPECT_EQ(qztest::ReadFile(s.batch + "/done/a/page-1.tif"), "page 1");
  EXPECT_EQ(qztest::ReadFile(s.batch + "/done/a-2/page-3.tif"), "page 3");
  EXPECT_TRUE(fs::exists(s.batch + "/done/b/page-1.tif"));

  // Nothing left: an empty batch says so and fails.
  run = s.RunBatch();
  EXPECT_EQ(run.ExitCode, 1);
  EXPECT_EQ(run.Out, "");
  EXPECT_TRUE(Contains(run.Err, "holds no document folders (archived ones are in done/)")) << run.Err;
  EXPECT_EQ(s.server.Documents().size(), 3u);

  // --keep leaves an archived folder in place.
  s.Document("c", "BARCODE=4711\n", Pages({1}));
  run = s.Run({"batch", "--keep", "--config", s.config, "--archive", "ARC1", s.batch});
  EXPECT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_TRUE(fs::exists(s.batch + "/c/page-1.tif"));
  EXPECT_FALSE(fs::exists(s.batch + "/done/c"));
  EXPECT_TRUE(s.Copies().empty());
}

TEST(KqfexportBatch, EmptyBatch) {
  ToolSetup s;
  const auto run = s.RunBatch();
  EXPECT_EQ(run.ExitCode, 1);
  EXPECT_EQ(run.Out, "");
  EXPECT_TRUE(Contains(run.Err, "kqfexport: the batch folder " + s.batch + " holds no document folders; nothing to export"))
      << run.Err;
}

// Test mode and mistakes in the configuration: said on stderr before anything is sent, the run
// goes on.
TEST(KqfexportBatch, WarningsBeforeTheRun) {
  ToolSetup s("<CHKPAGECOUNT=nein><TESTMODE=ja><DocSever=arch1><UNSHARP=Ture><AOENABLED=On><ALLOWDOUBLPC=False>"
              "<CREATELINK= yes ><Color=blue>");
  s.Document("Rechnung \xE2\x82\xAC 5 \xE2\x86\x92 A", "BARCODE=4711\n", Pages({1}));  // the euro sign fits, the arrow not
  const auto run = qztest::RunProcess({kTool, "--library", kLibrary, "batch", "--config", s.config, s.batch}, "", s.Env());
  EXPECT_EQ(run.ExitCode, 1) << run.Err;
  const auto lines = qztest::SplitRows(run.Out);
  ASSERT_EQ(lines.size(), 1u) << run.Out;
  EXPECT_EQ(lines[0][1], "-2");
  EXPECT_EQ(platform::Utf8ToWide(lines[0][3]), exportrun::kMsgTestMode);

  std::vector<std::string> err;
  for (const auto& row : qztest::SplitRows(run.Err)) err.push_back(row.at(0));
  ASSERT_GE(err.size(), 7u) << run.Err;
  EXPECT_EQ(err[0],
            "kqfexport: test mode is on (TESTMODE): documents are archived and link records written, but the KQF "
            "records are not marked as archived; each document reports -2 with the test-mode message and stays in "
            "the batch");
  const std::vector<std::string> expected = {
      "kqfexport: warning: configuration key \"DocSever\" is not one the plug-in knows; it is ignored (did you mean "
      "DOCSERVER?)",
      "kqfexport: warning: configuration key UNSHARP has the value \"Ture\", which is neither a yes-word nor a "
      "no-word: it counts as no (yes-words: JA, YES, OK, 1, X, TRUE, WAHR, RICHTIG, KORREKT, RIGHT, YAP, OUI, "
      "CORRECT, JAU, YO, JO, YEP, YEPP, YAPP, YUP, Y)",
      "kqfexport: warning: configuration key AOENABLED has the value \"On\", which is neither a yes-word nor a "
      "no-word: it counts as no (yes-words: JA, YES, OK, 1, X, TRUE, WAHR, RICHTIG, KORREKT, RIGHT, YAP, OUI, "
      "CORRECT, JAU, YO, JO, YEP, YEPP, YAPP, YUP, Y)",
      "kqfexport: warning: configuration key \"Color\" is not one the plug-in knows; it is ignored (a typo?)",
      "kqfexport: warning: no --archive given: the documents go out with an empty archive name",
      "kqfexport: warning: Rechnung \xE2\x82\xAC 5 \xE2\x86\x92 A: the title \"Rechnung \xE2\x82\xAC 5 \xE2\x86\x92 A\" "
      "has characters that the archive's code page (Windows-1252) cannot hold: \xE2\x86\x92 (they would arrive as "
      "\"?\")",
  };
  EXPECT_EQ(std::vector<std::string>(err.begin() + 1, err.begin() + 7), expected);
  EXPECT_TRUE(Contains(run.Err, "0 archived, 1 archived in test mode (KQF not marked), 0 failed, 0 skipped")) << run.Err;
  // Archived all the same, with the arrow as "?"; the folder stays, the record is not marked.
  const auto stored = s.server.Documents();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].title, "Rechnung \xE2\x82\xAC 5 ? A");
  EXPECT_TRUE(fs::exists(s.batch + "/Rechnung \xE2\x82\xAC 5 \xE2\x86\x92 A/page-1.tif"));
  EXPECT_EQ(s.db.Exec(s.kqf, "SELECT ZDMSTS FROM ZDMNNCI WHERE ZDMKEY = 1;"), "O\n");
}

// After the archive-server message the host says where the server is configured and what a TCP
// connection to it gives.
TEST(KqfexportBatch, ServerCheckAfterABadAnswer) {
  ToolSetup s;
  s.Document("a", "BARCODE=4711\n", Pages({1}));
  qztest::ArchiveOracle closes;  // accepts and closes without an answer
  closes.Start("close");
  struct Case {
    std::string server;
    int port;
    std::string tail;
  };
  const int closed = exportrun::ClosedPort();
  const std::vector<Case> cases = {
      {"127.0.0.1", closed, "; a TCP connection to it is refused: nothing listens on that port ("},
      {"no-such-host.invalid", closed, "; a TCP connection to it fails: the name is not found (cannot resolve host"},
      {"127.0.0.1", closes.Port(),
       "; a TCP connection to it succeeds, so something listens there but did not answer as the archive server does"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.server + ":" + std::to_string(c.port));
    s.WriteConfig(c.port, "<CHKPAGECOUNT=nein>", c.server);
    const auto run = s.RunBatch();
    EXPECT_EQ(run.ExitCode, 1);
    ASSERT_EQ(qztest::SplitRows(run.Out).size(), 1u) << run.Out;
    EXPECT_EQ(platform::Utf8ToWide(qztest::SplitRows(run.Out)[0][3]), exportrun::kMsgBadAnswer);
    EXPECT_TRUE(Contains(run.Err, "kqfexport: a: the archive server is configured as DOCSERVER:DOCSERVERPORT " +
                                      c.server + ":" + std::to_string(c.port) + c.tail))
        << run.Err;
  }
  // A port text that is no port number.
  std::string text = qztest::ReadFile(s.config);
  text.replace(text.find("<DOCSERVERPORT="), 15, "<DOCSERVERPORT=44x");
  qztest::WriteFile(s.config, text);
  const auto run = s.RunBatch();
  EXPECT_TRUE(Contains(run.Err, "DOCSERVER:DOCSERVERPORT 127.0.0.1:44x" + std::to_string(closes.Port()) +
                                    "; that is not a port number (1 to 65535)"))
      << run.Err;
}

// SIGINT while the plug-in is busy with a large page removes the copies; a run killed outright
// leaves its copies to the next run, which removes them.
TEST(KqfexportBatch, InterruptedRuns) {
  ToolSetup s;
  platform::TcpListener silent;  // takes connections (the system's backlog) and never reads
  silent.Listen("127.0.0.1", 0);
  s.WriteConfig(silent.Port(), "<CHKPAGECOUNT=nein>");
  const std::string large(size_t(48) << 20, 'L');
  s.Document("big", "BARCODE=4711\n", {{"page-1.tif", large}});

  auto startAndWaitForCopy = [&](const std::string& name) {
    auto run = std::make_unique<qztest::ChildProcess>(
        std::vector<std::string>{kTool, "--library", kLibrary, "batch", "--config", s.config, "--archive", "ARC1", s.batch},
        s.dir.Path() + "/" + name, s.Env());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
      std::error_code ec;
      const auto copies = s.Copies();
      if (copies.size() == 1 && fs::file_size(copies[0] + "/0001.tif", ec) == large.size()) break;
      if (!run->Running() || std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "no complete copy: " << run->Err();
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return run;
  };

  auto interrupted = startAndWaitForCopy("sigint");
  interrupted->Signal(SIGINT);
  EXPECT_EQ(interrupted->Wait(), 128 + SIGINT) << interrupted->Err();
  EXPECT_TRUE(s.Copies().empty());
  EXPECT_TRUE(Contains(interrupted->Err(), "kqfexport: interrupted by SIGINT; the page copies are removed\n"))
      << interrupted->Err();
  EXPECT_TRUE(Contains(interrupted->Err(), "0 archived, 0 failed, 1 skipped")) << interrupted->Err();
  EXPECT_EQ(qztest::ReadFile(s.batch + "/big/page-1.tif").size(), large.size());

  auto killed = startAndWaitForCopy("sigkill");
  killed->Signal(SIGKILL);
  EXPECT_EQ(killed->Wait(), 128 + SIGKILL);
  const auto left = s.Copies();
  ASSERT_EQ(left.size(), 1u);
  // A copy folder of a process that still runs (this one) is not touched.
  const std::string alive = s.temp + "/kqfexport-" + std::to_string(::getpid()) + "-1";
  fs::create_directories(alive);

  s.WriteConfig(exportrun::ClosedPort(), "<CHKPAGECOUNT=nein>");
  const auto next = s.RunBatch();
  EXPECT_EQ(next.ExitCode, 1);
  EXPECT_TRUE(Contains(next.Err, "kqfexport: removed page copies left by an ended run: " + left[0])) << next.Err;
  EXPECT_EQ(s.Copies(), std::vector<std::string>{alive});
  EXPECT_TRUE(s.server.Documents().empty());
}

TEST(KqfexportCommandLine, ParsingTable) {
  ToolSetup s;
  s.Document("a", "BARCODE=4711\n", Pages({1}));
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string out;  // a part of stdout
    std::string err;  // a part of stderr
  };
  const std::string c = s.config, b = s.batch;
  const std::vector<Case> cases = {
      {{"--help"}, 0, "Exit status: 0", ""},
      {{"batch", "--config", c, "--help", b}, 0, "page-2 comes before page-10", ""},
      {{"--version"}, 0, std::string("kqfexport ") + QZ_VERSION_TEXT + "\nlibqzkqfexport.so " + QZ_VERSION_TEXT, ""},
      {{"version"}, 0, QZ_VERSION_TEXT, ""},
      {{}, 2, "", "kqfexport: no command given\nusage: kqfexport"},
      {{"frobnicate"}, 2, "", "unknown command frobnicate"},
      {{"--frob", "version"}, 2, "", "unknown option --frob"},
      {{"version", "extra"}, 2, "", "unexpected argument extra"},
      {{"export", "page.tif"}, 2, "", "export needs --config FILE"},
      {{"export", "--config"}, 2, "", "--config needs a value"},
      {{"export", "--config", c, "--archive", "--title", "x"}, 2, "", "--archive needs a value"},
      {{"export", "--config", c, "--config", c}, 2, "", "--config is given twice"},
      {{"export", "--config", c, "--index", "BARCODE"}, 2, "", "--index needs NAME=VALUE, got BARCODE"},
      {{"export", "--config", c, "--index", "=4711"}, 2, "", "--index needs NAME=VALUE, got =4711"},
      {{"export", "--config", c, "--keep"}, 2, "", "--keep does not go with export"},
      {{"batch", "--config", c, "--index", "A=1", b}, 2, "", "--index does not go with batch"},
      {{"batch", "--config", c, "--page", "p.tif", b}, 2, "", "--page does not go with batch"},
      {{"version", "--archive", "ARC"}, 2, "", "--archive does not go with version"},
      {{"batch", "--config", c}, 2, "", "batch needs exactly one folder"},
      {{"batch", "--config", c, b, b}, 2, "", "batch needs exactly one folder"},
      {{"batch", "--config", c, b + "/missing"}, 2, "", "cannot read the folder " + b + "/missing"},
      {{"batch", "--config", s.dir.Path() + "/none.txt", b}, 2, "", "cannot read the configuration file"},
  };
  for (const auto& t : cases) {
    std::string line;
    for (const auto& a : t.args) line += a + " ";
    SCOPED_TRACE(line);
    const auto run = s.Run(t.args);
    EXPECT_EQ(run.ExitCode, t.exitCode) << run.Err;
    EXPECT_TRUE(Contains(run.Out, t.out)) << run.Out;
    EXPECT_TRUE(Contains(run.Err, t.err)) << run.Err;
    if (t.exitCode == 2) {
      EXPECT_EQ(run.Out, "");
    }
  }
  // --library with a file that is no plug-in.
  const auto bad = qztest::RunProcess({kTool, "--library", c, "version"}, "", s.Env());
  EXPECT_EQ(bad.ExitCode, 2);
  EXPECT_TRUE(Contains(bad.Err, "kqfexport: cannot load " + c)) << bad.Err;
  // One document from the command line; "--" ends the options. The user's file stays.
  const std::string page = s.dir.Path() + "/scan.tif";
  qztest::WriteFile(page, "scan");
  const auto one = s.Run({"export", "--config", c, "--archive", "ARC1", "--index", "BARCODE=4711", "--", page});
  EXPECT_EQ(one.ExitCode, 0) << one.Out << one.Err;
  EXPECT_EQ(qztest::SplitRows(one.Out).at(0).at(0), "document");
  ASSERT_EQ(s.server.Documents().size(), 1u);
  EXPECT_EQ(s.server.Documents()[0].files, std::vector<std::string>{"scan"});
  EXPECT_EQ(qztest::ReadFile(page), "scan");
  EXPECT_TRUE(s.Copies().empty());
}

}  // namespace
