// Tree deletion, rename, search, in-store backups, locale settings and the package import on
// SQLite.
#include "ChildProcess.h"
#include "ConfigImportSuite.h"
#include "qzNet.h"

namespace {

using namespace config_import;

TEST(ConfigImportSqlite, ExportDeleteImportRoundTrip) { RunRoundTrip<SqliteBackend>(); }
TEST(ConfigImportSqlite, WritePolicy) { RunWritePolicy<SqliteBackend>(); }
TEST(ConfigImportSqlite, PackageImport) { RunPackageImport<SqliteBackend>(); }
TEST(ConfigImportSqlite, ZipImport) { RunZipImport<SqliteBackend>(); }
TEST(ConfigImportSqlite, Deletion) { RunDeletion<SqliteBackend>(); }
TEST(ConfigImportSqlite, RenameAndSearch) { RunRenameAndSearch<SqliteBackend>(); }
TEST(ConfigImportSqlite, BackupsAndLocale) { RunBackupsAndLocale<SqliteBackend>(); }

TEST(ConfigImportSqlite, ServiceRegistry) { RunServiceRegistry<SqliteBackend>(); }
TEST(ConfigImportSqlite, PermissionObjects) { RunPermissionObjects<SqliteBackend>(); }

// Registration for change events: one GET of the main daemon's address; 200 is success, 204 a
// plain false, 404 false with the client's text. The request line is the one curl sends for the
// same address.
TEST(ConfigImportSqlite, RegisterServiceToChangeEvent) {
  Installation installation;
  qztest::TempDir dir("qzregister");
  const std::string script = R"PY(
import sys, http.server
statuses = [int(s) for s in sys.argv[2].split(',')]
class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        with open(sys.argv[1], 'a') as log:
            log.write(self.requestline + '\n')
        status = statuses.pop(0) if statuses else 500
        self.send_response(status)
        self.send_header('Content-Length', '0')
        self.end_headers()
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(('127.0.0.1', 0), Handler)
print('PORT', server.server_address[1], flush=True)
server.serve_forever()
)PY";
  qztest::WriteFile(dir.Path() + "/server.py", script);
  const std::string log = dir.Path() + "/requests.log";
  qztest::ChildProcess server({"/usr/bin/python3", dir.Path() + "/server.py", log, "200,204,404,200"},
                              dir.Path() + "/server");
  const std::string port = server.WaitForOutput("PORT ");
  Fixture<SqliteBackend> f({});
  M& s = *f.store;
  ASSERT_TRUE(s.SetConfigValue(u"/kesta/Software/kesta module15 daemon/Cluster/Node 0", u"InstanceUrl",
                               Variant(U16("http://127.0.0.1:" + port))));
  EXPECT_TRUE(s.RegisterServiceToChangeEvent(u"7", u"ABC"));
  s.Message = u"kept";
  EXPECT_FALSE(s.RegisterServiceToChangeEvent(u"7", u"ABC"));  // 204
  EXPECT_EQ(U8(s.Message), "kept");
  EXPECT_FALSE(s.RegisterServiceToChangeEvent(u"7", u"ABC"));  // 404
  EXPECT_NE(U8(s.Message), "kept");
  EXPECT_NE(U8(s.Message), "");

  // The request: the codec's Mega query with both items; curl sends the same request line for
  // the same address.
  const std::string logged = qztest::ReadFile(log);
  const std::string first = logged.substr(0, logged.find('\n'));
  ASSERT_EQ(first.rfind("GET /qzRegisterToChangeEvent?", 0), 0u) << first;
  EXPECT_EQ(first.substr(first.rfind(' ')), " HTTP/1.1");
  const std::string path = first.substr(4, first.rfind(' ') - 4);
  TqzEncoding encoding = qzENC_Mega;
  const TqzUrlParams params = TqzNet::ParseUrlParams(path.substr(path.find('?') + 1), encoding);
  EXPECT_EQ(U8(TqzNet::GetUrlParamValue(u"InstanceToken", params, u"", false)), "ABC");
  EXPECT_EQ(U8(TqzNet::GetUrlParamValue(u"EventFlag", params, u"", false)), "7");
  const auto curl = qztest::RunProcess({"curl", "-sv", "http://127.0.0.1:" + port + path});
  const std::size_t at = curl.Err.find("> GET ");
  ASSERT_NE(at, std::string::npos) << curl.Err;
  EXPECT_EQ(curl.Err.substr(at + 2, curl.Err.find('\r', at) - at - 2), first);
  const std::string all = qztest::ReadFile(log);
  EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 4);
  EXPECT_EQ(all.substr(all.rfind('\n', all.size() - 2) + 1), first + "\n");  // curl's own request
}

// A subtree deeper than 256 levels is refused before anything is deleted.
TEST(ConfigImportSqlite, DeletionStopsBelow256Levels) {
  Installation installation;
  std::string path;
  for (int i = 0; i < 260; ++i) path += "/n";
  Fixture<SqliteBackend> f({path});
  f.store->BackupChanges = false;
  const auto before = Rows(f.b);
  EXPECT_FALSE(f.store->DeleteConfigTree(u"/n"));
  EXPECT_EQ(U8(f.store->Message), "the tree to delete has more than 256 levels");
  EXPECT_EQ(Rows(f.b), before);
}

}  // namespace
