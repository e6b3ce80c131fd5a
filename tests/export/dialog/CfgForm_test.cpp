// The configuration dialog on screen, driven as a user would: the plug-in is loaded with dlopen,
// command 800 opens the form (offscreen Qt platform), Qt Test types into two edits, adds an
// assignment row and presses Ok; the returned text is read back by command 110. The window is
// grabbed to CfgForm_smoke.png in the build folder (kept as a test artefact) and a few pixels of
// it are checked: the header strip's gradient and the selected tab.
#include <dlfcn.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "CodePage.h"
#include "qzExportConfig.h"
#include "qzExportService.h"
#include "qzkqfexport.h"

// Qt and the font libraries keep process-wide caches that the leak checker cannot see freed.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\nleak:libQt6Core\nleak:libQt6Gui\nleak:libQt6Widgets\nleak:libglib\nleak:libdbus\n";
}

namespace {

using ExportFn = int32_t (*)(int32_t, char16_t*, int32_t, char16_t*);

const UnicodeString kText =
    u"<CONFIG><DOCSERVER=old.host><DOCSERVERPORT=4470><KQFDBNAME=KQFD><CLIENT=001>"
    u"<ASSIGN=BSAV00;ZDMV02;IDX2;False;AddOn;True;True;8;True><ADDONSELECT=ZDMNBC;KEY></CONFIG>";

struct Plugin {
  void* handle = nullptr;
  ExportFn call = nullptr;
  std::vector<char16_t> param = std::vector<char16_t>(QZWE_PARAM_CAPACITY, 0);
  std::vector<char16_t> msg = std::vector<char16_t>(QZWE_MSG_CAPACITY, 0);

  Plugin() {
    handle = dlopen((std::string(QZ_BINARY_DIR) + "/libqzkqfexport.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle) call = reinterpret_cast<ExportFn>(dlsym(handle, "qzWideExport"));
  }
  int32_t Send(int32_t command, const UnicodeString& text = u"") {
    std::fill(param.begin(), param.begin() + static_cast<std::ptrdiff_t>(text.size() + 2), 0);
    std::copy(text.begin(), text.end(), param.begin());
    msg[0] = 0;
    return call(command, param.data(), 0, msg.data());
  }
  UnicodeString Param() const { return UnicodeString(param.data()); }
  std::string Msg() const { return platform::WideToUtf8(UnicodeString(msg.data())); }
};

QWidget* FindForm() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == "CfgForm" && w->isVisible()) return w;
  return nullptr;
}

// Runs `act` on the dialog once it is shown (polled every 20 ms, for at most 15 seconds), while
// command 800 runs the dialog's modal loop.
void WhenShown(std::function<void(QWidget*)> act) {
  auto* timer = new QTimer;
  auto tries = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [timer, tries, act] {
    QWidget* form = FindForm();
    if (!form && ++*tries < 750) return;
    timer->stop();
    timer->deleteLater();
    if (form) act(form);
  });
  timer->start(20);
}

template <class T>
T* Child(QWidget* form, const char* name) {
  T* w = form->findChild<T*>(name);
  EXPECT_NE(w, nullptr) << name;
  return w;
}

// Clicks along the tab row until the page's sheet shows.
void ShowPage(QWidget* form, int page) {
  QWidget* control = Child<QWidget>(form, "PageControl1");
  QWidget* sheet = Child<QWidget>(form, ("TabSheet" + std::to_string(page)).c_str());
  for (int x = 4; x < 600 && !sheet->isVisible(); x += 8) QTest::mouseClick(control, Qt::LeftButton, {}, QPoint(x, 12));
  EXPECT_TRUE(sheet->isVisible()) << page;
}

void Type(QWidget* form, const char* name, const QString& text) {
  QLineEdit* edit = Child<QLineEdit>(form, name);
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Delete);
  QTest::keyClicks(edit, text);
}

TEST(CfgForm, EditsAndAnAddedRowComeBackThroughCommand800) {
  Plugin plugin;
  ASSERT_NE(plugin.call, nullptr) << dlerror();
  ASSERT_EQ(plugin.Send(QZWE_CMD_INIT, u"form test"), 0);
  ASSERT_EQ(plugin.Send(QZWE_CMD_SETCONFIG, kText), 0);

  bool acted = false;
  QImage shot;
  bool okDisabledByBadValue = false;
  QString errorText;
  WhenShown([&](QWidget* form) {
    acted = true;
    EXPECT_EQ(form->windowTitle(), "Exportservice");
    EXPECT_EQ(form->size(), QSize(833, 577));
    EXPECT_EQ(Child<QLineEdit>(form, "edit9")->text(), "old.host");
    EXPECT_TRUE(Child<QLabel>(form, "Label5")->text().startsWith("Version "));
    QPushButton* ok = Child<QPushButton>(form, "OkButton");

    // A value with "<" is refused next to its field and keeps Ok disabled until it is fixed.
    Type(form, "edit10", "0<8");
    okDisabledByBadValue = !ok->isEnabled();
    errorText = Child<QLabel>(form, "edit10Error")->text();
    Type(form, "edit10", "0815");
    Type(form, "edit9", "archive.example");
    EXPECT_TRUE(ok->isEnabled());

    ShowPage(form, 3);
    Type(form, "edit5", "BPUV00");
    Type(form, "edit6", "ZDME01");
    Type(form, "edit7", "IDX1");
    QCheckBox* date = Child<QCheckBox>(form, "CheckBox7");
    QTest::mouseClick(date, Qt::LeftButton, {}, QPoint(6, date->height() / 2));  // on the box itself
    EXPECT_TRUE(date->isChecked());
    QTest::mouseClick(Child<QPushButton>(form, "FlatButton6"), Qt::LeftButton);
    QTableWidget* grid = Child<QTableWidget>(form, "StringGrid1");
    EXPECT_EQ(grid->rowCount(), 2);
    // A click on the first row brings its cells back into the inputs ("AddOn" origin).
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualItemRect(grid->item(0, 0)).center());
    EXPECT_EQ(Child<QLineEdit>(form, "edit5")->text(), "BSAV00");

    ShowPage(form, 1);
    shot = form->grab().toImage().convertToFormat(QImage::Format_RGB888);
    shot.save(QString(QZ_BINARY_DIR) + "/tests/CfgForm_smoke.png");
    QTest::mouseClick(ok, Qt::LeftButton);
  });

  ASSERT_EQ(plugin.Send(QZWE_CMD_CONFIGURE), 0) << plugin.Msg();
  ASSERT_TRUE(acted) << "the dialog never showed: " << plugin.Msg();
  const UnicodeString written = plugin.Param();
  EXPECT_TRUE(okDisabledByBadValue);
  EXPECT_FALSE(errorText.isEmpty());

  // The window: strip white at x = 64, (239, 239, 239) at x = 832, the selected tab blue.
  ASSERT_EQ(shot.size(), QSize(833, 577));
  EXPECT_EQ(shot.pixelColor(64, 30), QColor(255, 255, 255));
  EXPECT_EQ(shot.pixelColor(832, 33), QColor(239, 239, 239));
  EXPECT_EQ(shot.pixelColor(12, 76), QColor(63, 109, 186));
  EXPECT_EQ(shot.pixelColor(4, 300), QColor(230, 230, 230));  // the form's background

  // 850 gives the same text; it is not in force until the host sends it with 110.
  EXPECT_EQ(plugin.Send(QZWE_CMD_GETCONFIG), 0);
  EXPECT_EQ(plugin.Param(), written);

  TExportModule reader;
  std::vector<char16_t> p(written.begin(), written.end());
  p.push_back(0);
  std::vector<char16_t> m(QZWE_MSG_CAPACITY, 0);
  ASSERT_EQ(reader.Execute(QZWE_CMD_INIT, nullptr, 0, m.data()), 0);
  ASSERT_EQ(reader.Execute(QZWE_CMD_SETCONFIG, p.data(), 0, m.data()), 0) << platform::WideToUtf8(m.data());
  EXPECT_EQ(reader.Config.DocServer, u"archive.example");
  EXPECT_EQ(reader.Config.Client, u"0815");
  EXPECT_EQ(reader.Config.DocServerPort, u"4470");
  ASSERT_EQ(reader.AssignTable.size(), 2u);
  EXPECT_EQ(reader.AssignTable[1],
            (TAssignRow{u"BPUV00", u"ZDME01", u"IDX1", u"True", u"Source", u"False", u"False", u"0", u"False"}));
  EXPECT_EQ(reader.AddonSelectTable, (std::vector<TAddonSelectRow>{{u"ZDMNBC", u"KEY"}}));
  EXPECT_EQ(platform::WideToUtf8(written),
            TExportConfigText::Write(reader.Config, reader.AssignTable, reader.AddonSelectTable));

  // Cancel returns the text kept by the plug-in (the one Ok left), unchanged.
  WhenShown([](QWidget* form) {
    Type(form, "edit9", "discarded");
    QTest::mouseClick(Child<QPushButton>(form, "CancelButton"), Qt::LeftButton);
  });
  ASSERT_EQ(plugin.Send(QZWE_CMD_CONFIGURE), 0);
  EXPECT_EQ(plugin.Param(), written);
  plugin.Send(QZWE_CMD_DONE);
}

}  // namespace

int main(int argc, char** argv) {
  // A host that runs Qt itself: the dialog uses its application object.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
