// The configuration dialog's behaviour without a toolkit: the values of every control, the two
// row grids with Add, Delete, Clear and the row click of page 3, the checks that keep the written
// text readable, and the text written on Ok. The Qt form (TCfgForm) shows these values and calls
// these operations; the tests drive them directly.
//
// Grids keep their rows as the form shows them: row 0 is the heading, data rows start at 1, and
// there is always at least one data row (empty when the table is).
//
// Values are checked as they are typed, because the configuration text has no escaping: "<" and
// ">" would break its tags in any value, ";" would split a grid row's field, and the names that
// the service puts into statements (table, field and database names) may hold only letters,
// digits, "_", "$", "#" and ".". A field with a bad value gets a message next to it, Add does
// nothing while one of its input fields is bad, and Ok stays disabled until every field is fixed.
#pragma once

#include <array>
#include <vector>

#include "Text.h"
#include "qzConfigDialogLink.h"
#include "qzExportService.h"

class TCfgGrid {
 public:
  TCfgGrid(std::vector<UnicodeString> Headings);

  int ColCount() const { return static_cast<int>(FHeadings.size()); }
  int RowCount() const { return static_cast<int>(FCells.size()); }
  // Cell of column c, row r (row 0 the heading).
  const UnicodeString& Cell(int c, int r) const;
  const std::vector<UnicodeString>& Row(int r) const { return FCells.at(static_cast<size_t>(r)); }
  void SetCell(int c, int r, const UnicodeString& value);
  void SetRowCount(int rows);

  // Heading and one empty data row.
  void Clear();
  // Clear, then row r (1-based) of the grid takes table row r.
  template <size_t N>
  void Fill(const std::vector<std::array<UnicodeString, N>>& rows) {
    Clear();
    for (size_t r = 0; r < rows.size(); ++r) {
      SetRowCount(static_cast<int>(r) + 2);
      for (size_t c = 0; c < N && c < FHeadings.size(); ++c) FCells[r + 1][c] = rows[r][c];
    }
  }
  // A new row when the first data row's first cell is not empty; the last row receives `fields`.
  void Add(const std::vector<UnicodeString>& fields);
  // Deletes the data rows Top..Bottom (the selection). All data rows selected: the grid is cut
  // back to one empty data row; otherwise the rows below move up.
  void Delete(int Top, int Bottom);
  // The data rows (row 1 on).
  std::vector<std::vector<UnicodeString>> DataRows() const;

 private:
  std::vector<UnicodeString> FHeadings;
  std::vector<std::vector<UnicodeString>> FCells;
};

// The fields of the form that take typed text.
enum class TCfgField {
  KqfTableName, KqfBcField, KqfKeyField, BcPrefix, Client, DocType, DocServer, DocServerPort, KqfDbConStr,
  KqfDbName, LinkConStr, AoDbConStr, AoTable, AddonSource, AddonTarget, AssignDoctype, AssignField,
  AssignArchiveField
};

class TCfgModel {
 public:
  TCfgModel();

  // --- Pages 1 and 2: the settings (edits as typed, switches as check marks) ---------------------
  TExportConfig Values;
  // --- Page 2 inputs ----------------------------------------------------------------------------
  UnicodeString AddonSource, AddonTarget;  // Edit14, Edit15
  // --- Page 3 inputs ----------------------------------------------------------------------------
  UnicodeString AssignDoctype, AssignField, AssignArchiveField;  // edit5, edit6, edit7
  int SourceIndex = 0;                                           // ComboBox1: 0 "Source", 1 "AddOn"
  int Length = 0;                                                // Edit18 / UpDown1
  bool DateConvert = false, CurrencyConvert = false, ClearZeros = false, FillZeros = false;
  static constexpr int LengthMax = 9999;

  TCfgGrid AssignGrid;  // StringGrid1
  TCfgGrid AddonGrid;   // StringGrid2

  // Fills every control from the settings in force.
  void Fill(const TDialogSettings& Settings);

  // The typed value of a field, and a field set by name.
  UnicodeString& Field(TCfgField F);
  const UnicodeString& Field(TCfgField F) const { return const_cast<TCfgModel*>(this)->Field(F); }
  // What is wrong with a field's value; empty when it is fine.
  UnicodeString FieldError(TCfgField F) const;
  // True when no field has an error: Ok may be pressed.
  bool CanConfirm() const;

  // Add, Delete and Clear of page 3 (the assignment grid) and page 2 (the add-on grid). Add does
  // nothing (false) while one of its input fields has an error.
  bool AddAssign();
  void DeleteAssign(int Top, int Bottom) { AssignGrid.Delete(Top, Bottom); }
  void ClearAssign() { AssignGrid.Clear(); }
  bool AddAddon();
  void DeleteAddon(int Top, int Bottom) { AddonGrid.Delete(Top, Bottom); }
  void ClearAddon() { AddonGrid.Clear(); }
  // A click on row `Row` of the assignment grid: its cells go back into the page 3 inputs.
  void ClickAssign(int Row);

  // The configuration text of the dialog's values (Ok), as UTF-8. Every assignment row is
  // written; add-on rows with both fields empty are not.
  Utf8String Write() const;

  static const std::vector<UnicodeString>& AssignHeadings();
  static const std::vector<UnicodeString>& AddonHeadings();
  static constexpr TCfgField AllFields[] = {
      TCfgField::KqfTableName, TCfgField::KqfBcField,    TCfgField::KqfKeyField,     TCfgField::BcPrefix,
      TCfgField::Client,       TCfgField::DocType,       TCfgField::DocServer,       TCfgField::DocServerPort,
      TCfgField::KqfDbConStr,  TCfgField::KqfDbName,     TCfgField::LinkConStr,      TCfgField::AoDbConStr,
      TCfgField::AoTable,      TCfgField::AddonSource,   TCfgField::AddonTarget,     TCfgField::AssignDoctype,
      TCfgField::AssignField,  TCfgField::AssignArchiveField};
};
