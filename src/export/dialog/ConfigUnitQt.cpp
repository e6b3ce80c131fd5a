// TCfgForm: the modal dialog "Exportservice" of command 800, and the library's C entry points
// (qzConfigDialogApi.h). The form only shows the values of a TCfgModel and calls its operations;
// what the dialog does lives in the model.
//
// The application object: when the process has none, one QApplication is created on the calling
// thread and kept for the life of the process (the dialog library is never unloaded). Before that
// the display is checked, because Qt ends the process when its platform cannot start: with
// QT_QPA_PLATFORM unset or "xcb" an X display must open; "wayland" needs WAYLAND_DISPLAY; the
// display-less platforms ("offscreen", "minimal", "vnc", "linuxfb", "eglfs") are taken as they
// are, and any other name is refused.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTableWidget>
#include <QThread>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <vector>

#include "CanvasWidgetsQt.h"
#include "CfgModel.h"
#include "CodePage.h"
#include "XDisplay.h"
#include "qzConfigDialogApi.h"
#include "qzConfigDialogLink.h"
#include "qzToolsVersion.h"

namespace {

QString Q(const UnicodeString& text) { return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())); }
UnicodeString U(const QString& text) {
  return UnicodeString(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size()));
}

const QColor kFormColor(230, 230, 230);
const QColor kPageColor(239, 239, 239);

class TCfgForm : public QDialog {
 public:
  explicit TCfgForm(TCfgModel& model);

 private:
  QLineEdit* AddEdit(QWidget* page, const char* name, TCfgField field, int x, int y, int width);
  QLabel* AddLabel(QWidget* page, const QString& text, int x, int y, bool hint = false);
  QCheckBox* AddCheck(QWidget* page, const char* name, const QString& caption, bool& value, int x, int y);
  QPushButton* AddButton(QWidget* page, const char* name, const QString& caption, int x, int y, bool bold,
                         std::function<void()> onClick);
  QTableWidget* AddGrid(QWidget* page, const char* name, const std::vector<int>& widths, int x, int y, int w, int h);
  void BuildBasics(QWidget* page);
  void BuildAddon(QWidget* page);
  void BuildAssignment(QWidget* page);
  void BuildInfo(QWidget* page);
  void BuildAbout(QWidget* page);
  void ShowGrid(QTableWidget* table, const TCfgGrid& grid);
  // The selected data rows of a grid (1-based, as the model counts them), the current row when
  // nothing is selected.
  void SelectedRows(QTableWidget* table, int& top, int& bottom) const;
  void ShowAssignInputs();
  void Validate();

  TCfgModel& model_;
  struct FieldEditor {
    QLineEdit* edit;
    QLabel* error;  // next to the field (in place of its hint)
    QLabel* hint;
  };
  std::map<TCfgField, FieldEditor> fields_;
  std::vector<std::pair<QCheckBox*, bool*>> checks_;
  QTableWidget* assignGrid_ = nullptr;
  QTableWidget* addonGrid_ = nullptr;
  QComboBox* source_ = nullptr;
  QSpinBox* length_ = nullptr;
  QPushButton* ok_ = nullptr;
  QLabel* status_ = nullptr;
  bool filling_ = false;
};

TCfgForm::TCfgForm(TCfgModel& model) : model_(model) {
  setObjectName("CfgForm");
  setWindowTitle("Exportservice");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                 Qt::WindowStaysOnTopHint);
  setFixedSize(833, 577);
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, kFormColor);
  setPalette(palette);
  QFont font("Tahoma");
  font.setPointSize(8);
  setFont(font);

  auto* strip = new InfoPanelWidget(this);
  strip->setObjectName("VYRInfoPanel1");
  strip->setGeometry(0, 0, 833, 64);
  strip->Panel().SetPanelType(VYRInfoPanel::TqzTypes::Exportservice);
  strip->Panel().SetStartColor(clWhite);
  strip->Panel().SetEndeColor(RGB(239, 239, 239));
  strip->Panel().SetGradientOrientation(goLeft2Right);

  auto* pages = new PageControlWidget(this);
  pages->setObjectName("PageControl1");
  TxpPageControl& control = pages->Control();
  control.SetStyle(pcsXP);
  control.SetTabPosition(tpTop);
  control.SetTabHeight(22);
  control.SetTabTextAlignment(platform::TextAlign::Center);
  control.SetBackgroundColor(RGB(230, 230, 230));
  control.SetBorderColor(clSilver);
  pages->setGeometry(8, 72, 817, 465);
  const char* captions[] = {"Basics", "Addon database", "Assignment", "Info", "About"};
  std::vector<TabSheetWidget*> sheets;
  for (const char* caption : captions) {
    TabSheetWidget* sheet = pages->AddPage(caption);
    sheet->Sheet().SetColor(RGB(239, 239, 239));
    sheet->setObjectName(QString("TabSheet") + QString::number(sheets.size() + 1));
    sheets.push_back(sheet);
  }
  filling_ = true;
  BuildBasics(sheets[0]);
  BuildAddon(sheets[1]);
  BuildAssignment(sheets[2]);
  BuildInfo(sheets[3]);
  BuildAbout(sheets[4]);
  filling_ = false;
  pages->ShowPage(0);

  ok_ = new QPushButton("Ok", this);
  ok_->setObjectName("OkButton");
  QFont bold = ok_->font();
  bold.setBold(true);
  ok_->setFont(bold);
  ok_->setDefault(true);
  ok_->setGeometry(664, 545, 75, 25);
  connect(ok_, &QPushButton::clicked, this, [this] {
    if (model_.CanConfirm()) accept();
  });
  auto* cancel = new QPushButton("Cancel", this);
  cancel->setObjectName("CancelButton");
  cancel->setGeometry(750, 545, 75, 25);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  status_ = new QLabel(this);
  status_->setObjectName("StatusLabel");
  status_->setGeometry(8, 545, 648, 25);
  status_->setStyleSheet("color: rgb(192, 0, 0);");
  Validate();
}

QLabel* TCfgForm::AddLabel(QWidget* page, const QString& text, int x, int y, bool hint) {
  auto* label = new QLabel(text, page);
  label->setGeometry(x, y, hint ? 430 : 140, 21);
  if (hint) label->setEnabled(false);
  return label;
}

QLineEdit* TCfgForm::AddEdit(QWidget* page, const char* name, TCfgField field, int x, int y, int width) {
  auto* edit = new QLineEdit(Q(model_.Field(field)), page);
  edit->setObjectName(name);
  edit->setGeometry(x, y, width, 21);
  auto* error = new QLabel(page);
  error->setObjectName(QString(name) + "Error");
  error->setGeometry(376, y, 430, 21);
  error->setStyleSheet("color: rgb(192, 0, 0);");
  error->hide();
  fields_[field] = FieldEditor{edit, error, nullptr};
  connect(edit, &QLineEdit::textChanged, this, [this, field](const QString& text) {
    model_.Field(field) = U(text);
    Validate();
  });
  return edit;
}

QCheckBox* TCfgForm::AddCheck(QWidget* page, const char* name, const QString& caption, bool& value, int x, int y) {
  auto* box = new QCheckBox(caption, page);
  box->setObjectName(name);
  box->setGeometry(x, y, 400, 21);
  box->setChecked(value);
  checks_.push_back({box, &value});
  connect(box, &QCheckBox::toggled, this, [&value](bool on) { value = on; });
  return box;
}

QPushButton* TCfgForm::AddButton(QWidget* page, const char* name, const QString& caption, int x, int y, bool bold,
                                 std::function<void()> onClick) {
  auto* button = new QPushButton(caption, page);
  button->setObjectName(name);
  button->setGeometry(x, y, 75, 25);
  button->setAutoDefault(false);
  if (bold) {
    QFont f = button->font();
    f.setBold(true);
    button->setFont(f);
  }
  connect(button, &QPushButton::clicked, this, std::move(onClick));
  return button;
}

QTableWidget* TCfgForm::AddGrid(QWidget* page, const char* name, const std::vector<int>& widths, int x, int y, int w,
                                int h) {
  auto* table = new QTableWidget(page);
  table->setObjectName(name);
  table->setGeometry(x, y, w, h);
  table->setColumnCount(static_cast<int>(widths.size()));
  for (size_t c = 0; c < widths.size(); ++c) table->setColumnWidth(static_cast<int>(c), widths[c]);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setSelectionMode(QAbstractItemView::ContiguousSelection);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->verticalHeader()->hide();
  table->verticalHeader()->setDefaultSectionSize(20);
  return table;
}

void TCfgForm::ShowGrid(QTableWidget* table, const TCfgGrid& grid) {
  QStringList headings;
  for (int c = 0; c < grid.ColCount(); ++c) headings << Q(grid.Cell(c, 0));
  table->setHorizontalHeaderLabels(headings);
  table->setRowCount(grid.RowCount() - 1);
  for (int r = 1; r < grid.RowCount(); ++r)
    for (int c = 0; c < grid.ColCount(); ++c) table->setItem(r - 1, c, new QTableWidgetItem(Q(grid.Cell(c, r))));
}

void TCfgForm::SelectedRows(QTableWidget* table, int& top, int& bottom) const {
  const QList<QTableWidgetSelectionRange> ranges = table->selectedRanges();
  if (ranges.isEmpty()) {
    top = bottom = std::max(table->currentRow(), 0) + 1;
    return;
  }
  top = ranges.first().topRow() + 1;
  bottom = ranges.first().bottomRow() + 1;
  for (const auto& range : ranges) {
    top = std::min(top, range.topRow() + 1);
    bottom = std::max(bottom, range.bottomRow() + 1);
  }
}

void TCfgForm::BuildBasics(QWidget* page) {
  struct Row {
    const char* name;
    const char* caption;
    const char* hint;
    TCfgField field;
    int width;
  };
  const Row rows[] = {
      {"Edit16", "Barcode table", "default = ZDMNNCI", TCfgField::KqfTableName, 217},
      {"edit8", "Barcode field", "default = ZDMNBC", TCfgField::KqfBcField, 217},
      {"Edit19", "Barcode table key field", "default = ZDMKEY", TCfgField::KqfKeyField, 217},
      {"Edit17", "Barcode prefix", "optional (f.e. 00, 0)", TCfgField::BcPrefix, 217},
      {"edit10", "Client", "f.e. 001", TCfgField::Client, 217},
      {"edit11", "Doctypes", "optional (f.e. BPUV00,BSAV00,BINV00,...)", TCfgField::DocType, 217},
      {"edit9", "VeroruvUdizive server", "", TCfgField::DocServer, 217},
      {"edit1", "VeroruvUdizive port", "", TCfgField::DocServerPort, 97},
      {"edit2", "KQF db connectionstring", "", TCfgField::KqfDbConStr, 649},
      {"edit4", "KQF database", "default = KQFD", TCfgField::KqfDbName, 217},
      {"edit3", "Link db connectionstring", "", TCfgField::LinkConStr, 649},
  };
  int y = 10;
  for (const Row& row : rows) {
    AddLabel(page, row.caption, 8, y);
    AddEdit(page, row.name, row.field, 152, y, row.width);
    if (*row.hint) fields_[row.field].hint = AddLabel(page, row.hint, 376, y, true);
    y += 26;
  }
  AddCheck(page, "CheckBox1", "Check pagecount", model_.Values.ChkPageCount, 152, y);
  AddCheck(page, "CheckBox3", "Allow double pagecount", model_.Values.AllowDoublPc, 152, y += 24);
  AddCheck(page, "CheckBox2", "Unsharp query", model_.Values.Unsharp, 152, y += 24);
  AddCheck(page, "CheckBox4", "Create link records", model_.Values.CreateLink, 152, y += 24);
  AddCheck(page, "CheckBox5", "Testmode (no barcode table modifications)", model_.Values.TestMode, 152, y += 24);
}

void TCfgForm::BuildAddon(QWidget* page) {
  AddCheck(page, "CheckBox8", "Enable addon database", model_.Values.AoEnabled, 152, 10);
  AddLabel(page, "Connectionstring", 8, 38);
  AddEdit(page, "edit12", TCfgField::AoDbConStr, 152, 38, 649);
  AddLabel(page, "Table name", 8, 64);
  AddEdit(page, "edit13", TCfgField::AoTable, 152, 64, 217);
  AddLabel(page, "Assignment", 8, 92);
  addonGrid_ = AddGrid(page, "StringGrid2", {310, 350}, 152, 92, 664, 250);
  ShowGrid(addonGrid_, model_.AddonGrid);
  AddLabel(page, "Source field", 8, 352);
  AddEdit(page, "Edit14", TCfgField::AddonSource, 152, 352, 217);
  AddLabel(page, "Target field", 8, 378);
  AddEdit(page, "Edit15", TCfgField::AddonTarget, 152, 378, 217);
  AddButton(page, "xpButton6", "Add", 152, 408, true, [this] {
    if (model_.AddAddon()) ShowGrid(addonGrid_, model_.AddonGrid);
  });
  AddButton(page, "xpButton7", "Delete", 233, 408, false, [this] {
    int top, bottom;
    SelectedRows(addonGrid_, top, bottom);
    model_.DeleteAddon(top, bottom);
    ShowGrid(addonGrid_, model_.AddonGrid);
  });
  AddButton(page, "xpButton8", "Clear", 314, 408, false, [this] {
    model_.ClearAddon();
    ShowGrid(addonGrid_, model_.AddonGrid);
  });
}

void TCfgForm::BuildAssignment(QWidget* page) {
  AddLabel(page, "Doctype", 8, 10);
  AddEdit(page, "edit5", TCfgField::AssignDoctype, 100, 10, 150);
  AddLabel(page, "Field", 8, 36);
  AddEdit(page, "edit6", TCfgField::AssignField, 100, 36, 150);
  AddLabel(page, "Archive field", 8, 62);
  AddEdit(page, "edit7", TCfgField::AssignArchiveField, 100, 62, 150);
  // The row inputs' messages stand to the right of the check boxes.
  for (TCfgField f : {TCfgField::AssignDoctype, TCfgField::AssignField, TCfgField::AssignArchiveField})
    fields_[f].error->setGeometry(520, fields_[f].edit->y(), 200, 21);
  AddLabel(page, "Source", 8, 88);
  source_ = new QComboBox(page);
  source_->setObjectName("ComboBox1");
  source_->addItems({"Source", "AddOn"});
  source_->setGeometry(100, 88, 150, 21);
  connect(source_, &QComboBox::currentIndexChanged, this, [this](int i) { model_.SourceIndex = i < 0 ? 0 : i; });
  AddLabel(page, "Length", 8, 114);
  length_ = new QSpinBox(page);
  length_->setObjectName("Edit18");
  length_->setRange(0, TCfgModel::LengthMax);
  length_->setGroupSeparatorShown(false);
  length_->setGeometry(100, 114, 80, 21);
  connect(length_, &QSpinBox::valueChanged, this, [this](int v) { model_.Length = v; });
  AddCheck(page, "CheckBox7", "Date Convert", model_.DateConvert, 280, 10);
  AddCheck(page, "CheckBox6", "Currency Convert", model_.CurrencyConvert, 280, 36);
  AddCheck(page, "CheckBox9", "Clear leading \"0\"", model_.ClearZeros, 280, 62);
  AddCheck(page, "CheckBox10", "Fill with \"0\"", model_.FillZeros, 280, 88);
  for (QCheckBox* box : page->findChildren<QCheckBox*>()) box->resize(200, 21);
  AddButton(page, "FlatButton6", "Add", 726, 10, true, [this] {
    if (model_.AddAssign()) ShowGrid(assignGrid_, model_.AssignGrid);
  });
  AddButton(page, "FlatButton7", "Delete", 726, 40, false, [this] {
    int top, bottom;
    SelectedRows(assignGrid_, top, bottom);
    model_.DeleteAssign(top, bottom);
    ShowGrid(assignGrid_, model_.AssignGrid);
  });
  AddButton(page, "FlatButton8", "Clear", 726, 70, false, [this] {
    model_.ClearAssign();
    ShowGrid(assignGrid_, model_.AssignGrid);
  });
  assignGrid_ = AddGrid(page, "StringGrid1", {93, 112, 118, 76, 79, 81, 64, 64, 64}, 8, 146, 795, 284);
  ShowGrid(assignGrid_, model_.AssignGrid);
  connect(assignGrid_, &QTableWidget::cellClicked, this, [this](int row, int) {
    model_.ClickAssign(row + 1);
    ShowAssignInputs();
  });
  ShowAssignInputs();
}

void TCfgForm::ShowAssignInputs() {
  const bool wasFilling = filling_;
  filling_ = true;
  fields_[TCfgField::AssignDoctype].edit->setText(Q(model_.AssignDoctype));
  fields_[TCfgField::AssignField].edit->setText(Q(model_.AssignField));
  fields_[TCfgField::AssignArchiveField].edit->setText(Q(model_.AssignArchiveField));
  source_->setCurrentIndex(model_.SourceIndex);
  length_->setValue(model_.Length);
  for (auto& [box, value] : checks_) box->setChecked(*value);
  filling_ = wasFilling;
}

void TCfgForm::BuildInfo(QWidget* page) {
  const char* rows[][2] = {{"BARCODE", "~ Input Barcode (must exists in ZDMNNCI)"},
                           {"CLIENT", "~ Destination client (\"MANDT\")"},
                           {"MANDT", "~ CLIENT"},
                           {"KQFKEY", "~ KQF Object Id, Key from ZDMNNCI"}};
  int y = 16;
  for (const auto& row : rows) {
    AddLabel(page, row[0], 16, y, true)->resize(120, 21);
    AddLabel(page, row[1], 152, y, true);
    y += 24;
  }
}

void TCfgForm::BuildAbout(QWidget* page) {
  auto* product = new QLabel("Kesta KQF Export", page);
  QFont f = product->font();
  f.setBold(true);
  f.setPointSize(12);
  product->setFont(f);
  product->setGeometry(16, 16, 600, 28);
  auto* maker = new QLabel("Export service plug-in of the Kesta document-capture product, by kesta", page);
  maker->setGeometry(16, 50, 600, 21);
  auto* version = new QLabel(Q(u"Version " + TqzToolsVersion::GetProgramVersion()), page);
  version->setObjectName("Label5");
  version->setGeometry(16, 76, 600, 21);
}

void TCfgForm::Validate() {
  QString first;
  for (auto& [field, editor] : fields_) {
    const UnicodeString error = model_.FieldError(field);
    const bool bad = !error.empty();
    editor.error->setText(Q(error));
    // A long field has no room beside it: its frame turns red, the message goes to the status line.
    const bool beside = editor.edit->width() < 600;
    editor.error->setVisible(bad && beside);
    if (editor.hint) editor.hint->setVisible(!(bad && beside));
    editor.edit->setStyleSheet(bad ? "border: 1px solid rgb(192, 0, 0);" : "");
    editor.edit->setToolTip(Q(error));
    if (bad && first.isEmpty()) first = Q(error);
  }
  if (ok_) ok_->setEnabled(model_.CanConfirm());
  if (status_) status_->setText(first.isEmpty() ? QString() : "Please correct the marked fields: " + first);
}

// --- the application object ------------------------------------------------------------------

bool DisplayAvailable(UnicodeString& why) {
  const char* platformEnv = std::getenv("QT_QPA_PLATFORM");
  const std::string platformName = platformEnv ? platformEnv : "";
  const std::string base = platformName.substr(0, platformName.find(':'));
  if (base.empty() || base == "xcb") {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
      why = u"no display: DISPLAY is not set (set QT_QPA_PLATFORM=offscreen for a display-less run)";
      return false;
    }
    if (!CanOpenXDisplay()) {
      why = u"no display: the X display " + platform::Utf8ToWide(display) + u" cannot be opened";
      return false;
    }
    return true;
  }
  if (base == "wayland") {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (!wayland || !*wayland) {
      why = u"no display: QT_QPA_PLATFORM is wayland but WAYLAND_DISPLAY is not set";
      return false;
    }
    return true;
  }
  for (const char* known : {"offscreen", "minimal", "vnc", "linuxfb", "eglfs", "minimalegl"})
    if (base == known) return true;
  why = u"QT_QPA_PLATFORM names an unknown platform: " + platform::Utf8ToWide(platformName);
  return false;
}

bool EnsureApplication(UnicodeString& why) {
  if (QCoreApplication* app = QCoreApplication::instance()) {
    if (!qobject_cast<QApplication*>(app)) {
      why = u"the host's application object cannot show widgets (it is no QApplication)";
      return false;
    }
    if (app->thread() != QThread::currentThread()) {
      why = u"the dialog must be opened on the thread of the host's QApplication";
      return false;
    }
    return true;
  }
  if (!DisplayAvailable(why)) return false;
  static int argc = 1;
  static char name[] = "kqfexport";
  static char* argv[] = {name, nullptr};
  // Kept for the life of the process: the library stays loaded and later dialogs reuse it.
  static QApplication* app = new QApplication(argc, argv);
  (void)app;
  return true;
}

void CopyMessage(char16_t* message, int32_t capacity, const UnicodeString& text) {
  if (!message || capacity <= 0) return;
  size_t n = std::min<size_t>(text.size(), static_cast<size_t>(capacity) - 1);
  if (n > 0 && n < text.size() && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
  std::memcpy(message, text.data(), n * sizeof(char16_t));
  message[n] = 0;
}

}  // namespace

extern "C" int32_t qzShowConfigDialog(const char16_t* settings, char16_t** text, char16_t* message,
                                      int32_t messageCapacity) {
  if (text) *text = nullptr;
  try {
    UnicodeString why;
    if (!EnsureApplication(why)) {
      CopyMessage(message, messageCapacity, u"The configuration dialog cannot be shown: " + why);
      return -1;
    }
    TCfgModel model;
    model.Fill(DecodeDialogSettings(settings));
    TCfgForm form(model);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect area = screen->availableGeometry();
      form.move(area.center() - QPoint(form.width() / 2, form.height() / 2));
    }
    if (form.exec() != QDialog::Accepted) return 0;
    const UnicodeString written = platform::Utf8ToWide(model.Write());
    auto* copy = static_cast<char16_t*>(std::malloc((written.size() + 1) * sizeof(char16_t)));
    if (!copy) throw std::bad_alloc();
    std::memcpy(copy, written.data(), written.size() * sizeof(char16_t));
    copy[written.size()] = 0;
    if (text) *text = copy;
    else std::free(copy);
    return 1;
  } catch (const std::exception& e) {
    CopyMessage(message, messageCapacity, u"The configuration dialog failed: " + platform::Utf8ToWide(e.what()));
  } catch (...) {
    CopyMessage(message, messageCapacity, u"The configuration dialog failed");
  }
  return -1;
}

extern "C" void qzFreeConfigDialogText(char16_t* text) { std::free(text); }
