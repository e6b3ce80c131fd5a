#include "CfgModel.h"

#include <algorithm>

#include "CodePage.h"
#include "SysUtils.h"
#include "qzExportConfig.h"
#include "qzStrings.h"
#include "qzToolsEvo2.h"

// --- TCfgGrid --------------------------------------------------------------------------------

TCfgGrid::TCfgGrid(std::vector<UnicodeString> Headings) : FHeadings(std::move(Headings)) { Clear(); }

const UnicodeString& TCfgGrid::Cell(int c, int r) const {
  return FCells.at(static_cast<size_t>(r)).at(static_cast<size_t>(c));
}

void TCfgGrid::SetCell(int c, int r, const UnicodeString& value) {
  FCells.at(static_cast<size_t>(r)).at(static_cast<size_t>(c)) = value;
}

void TCfgGrid::SetRowCount(int rows) {
  // A grid keeps its heading and at least one data row.
  rows = std::max(rows, 2);
  FCells.resize(static_cast<size_t>(rows), std::vector<UnicodeString>(FHeadings.size()));
}

void TCfgGrid::Clear() {
  FCells.assign(2, std::vector<UnicodeString>(FHeadings.size()));
  FCells[0] = FHeadings;
}

void TCfgGrid::Add(const std::vector<UnicodeString>& fields) {
  if (!FCells[1][0].empty()) SetRowCount(RowCount() + 1);
  auto& last = FCells.back();
  for (size_t c = 0; c < last.size(); ++c) last[c] = c < fields.size() ? fields[c] : UnicodeString();
}

void TCfgGrid::Delete(int Top, int Bottom) {
  const int last = RowCount() - 1;
  Top = std::clamp(Top, 1, last);
  Bottom = std::clamp(Bottom, Top, last);
  if (Top == 1 && Bottom == last) {
    Clear();
    return;
  }
  FCells.erase(FCells.begin() + Top, FCells.begin() + Bottom + 1);
}

std::vector<std::vector<UnicodeString>> TCfgGrid::DataRows() const {
  return std::vector<std::vector<UnicodeString>>(FCells.begin() + 1, FCells.end());
}

// --- TCfgModel -------------------------------------------------------------------------------

const std::vector<UnicodeString>& TCfgModel::AssignHeadings() {
  static const std::vector<UnicodeString> headings = {u"Doctype",     u"Field",         u"Arc.Fld Id",
                                                      u"DateConvert", u"Db origin",     u"Curr. Convert",
                                                      u"Clear Zeros", u"Length",        u"Add Zeros"};
  return headings;
}

const std::vector<UnicodeString>& TCfgModel::AddonHeadings() {
  static const std::vector<UnicodeString> headings = {u"Source field", u"Target field"};
  return headings;
}

TCfgModel::TCfgModel() : AssignGrid(AssignHeadings()), AddonGrid(AddonHeadings()) {}

void TCfgModel::Fill(const TDialogSettings& Settings) {
  Values = Settings.Config;
  AssignGrid.Fill(Settings.AssignRows);
  AddonGrid.Fill(Settings.AddonRows);
}

UnicodeString& TCfgModel::Field(TCfgField F) {
  switch (F) {
    case TCfgField::KqfTableName: return Values.KqfTableName;
    case TCfgField::KqfBcField: return Values.KqfBcField;
    case TCfgField::KqfKeyField: return Values.KqfKeyField;
    case TCfgField::BcPrefix: return Values.BcPrefix;
    case TCfgField::Client: return Values.Client;
    case TCfgField::DocType: return Values.DocType;
    case TCfgField::DocServer: return Values.DocServer;
    case TCfgField::DocServerPort: return Values.DocServerPort;
    case TCfgField::KqfDbConStr: return Values.KqfDbConStr;
    case TCfgField::KqfDbName: return Values.KqfDbName;
    case TCfgField::LinkConStr: return Values.LinkConStr;
    case TCfgField::AoDbConStr: return Values.AoDbConStr;
    case TCfgField::AoTable: return Values.AoTable;
    case TCfgField::AddonSource: return AddonSource;
    case TCfgField::AddonTarget: return AddonTarget;
    case TCfgField::AssignDoctype: return AssignDoctype;
    case TCfgField::AssignField: return AssignField;
    case TCfgField::AssignArchiveField: return AssignArchiveField;
  }
  return AssignArchiveField;
}

namespace {

bool IsRowField(TCfgField F) {
  return F == TCfgField::AddonSource || F == TCfgField::AddonTarget || F == TCfgField::AssignDoctype ||
         F == TCfgField::AssignField || F == TCfgField::AssignArchiveField;
}

bool IsNameField(TCfgField F) {
  return F == TCfgField::KqfTableName || F == TCfgField::KqfBcField || F == TCfgField::KqfKeyField ||
         F == TCfgField::KqfDbName || F == TCfgField::AoTable || F == TCfgField::AddonTarget;
}

const char16_t kNameRule[] = u"Only letters, digits, \"_\", \"$\", \"#\" and \".\" may stand in a name";

}  // namespace

UnicodeString TCfgModel::FieldError(TCfgField F) const {
  const UnicodeString& v = Field(F);
  if (v.find_first_of(u"<>") != UnicodeString::npos) return u"\"<\" and \">\" cannot stand in the configuration text";
  if (IsRowField(F) && v.find(u';') != UnicodeString::npos) return u"\";\" cannot stand in a row's field";
  if (IsNameField(F) && !TExportConfigText::IsSafeIdentifier(platform::Trim(v))) return kNameRule;
  if (F == TCfgField::AddonSource) {
    TStringList items;
    TqzStrings::SplitStringW(v, u",", items);
    for (int i = 0; i < items.Count(); ++i)
      if (!TExportConfigText::IsSafeIdentifier(platform::Trim(items.Get(i)))) return kNameRule;
  }
  return {};
}

bool TCfgModel::CanConfirm() const {
  return std::all_of(std::begin(AllFields), std::end(AllFields), [this](TCfgField f) { return FieldError(f).empty(); });
}

bool TCfgModel::AddAssign() {
  for (TCfgField f : {TCfgField::AssignDoctype, TCfgField::AssignField, TCfgField::AssignArchiveField})
    if (!FieldError(f).empty()) return false;
  auto flag = [](bool v) { return platform::AnsiToWide(BoolToString(v)); };
  AssignGrid.Add({AssignDoctype, AssignField, AssignArchiveField, flag(DateConvert),
                  SourceIndex == 0 ? u"Source" : u"AddOn", flag(CurrencyConvert), flag(ClearZeros),
                  platform::IntToStr(Length), flag(FillZeros)});
  return true;
}

bool TCfgModel::AddAddon() {
  for (TCfgField f : {TCfgField::AddonSource, TCfgField::AddonTarget})
    if (!FieldError(f).empty()) return false;
  AddonGrid.Add({AddonSource, AddonTarget});
  return true;
}

void TCfgModel::ClickAssign(int Row) {
  if (Row < 1 || Row >= AssignGrid.RowCount()) return;
  const auto& cells = AssignGrid.Row(Row);
  auto flag = [](const UnicodeString& cell) { return StringToBool(platform::WideToAnsi(cell)); };
  AssignDoctype = cells[0];
  AssignField = cells[1];
  AssignArchiveField = cells[2];
  DateConvert = flag(cells[3]);
  CurrencyConvert = flag(cells[5]);
  ClearZeros = flag(cells[6]);
  FillZeros = flag(cells[8]);
  Length = static_cast<int>(std::clamp<int64_t>(StrToIntDefEx(platform::WideToAnsi(cells[7]), 0, 0), 0, LengthMax));
  SourceIndex = UpperCaseStr(cells[4]) == u"SOURCE" ? 0 : 1;
}

Utf8String TCfgModel::Write() const {
  std::vector<TAssignRow> assign;
  for (const auto& row : AssignGrid.DataRows()) {
    TAssignRow r;
    std::copy_n(row.begin(), r.size(), r.begin());
    assign.push_back(r);
  }
  std::vector<TAddonSelectRow> addon;
  for (const auto& row : AddonGrid.DataRows()) {
    if (row[0].empty() && row[1].empty()) continue;
    addon.push_back(TAddonSelectRow{row[0], row[1]});
  }
  return TExportConfigText::Write(Values, assign, addon);
}
