// The library's ADO data set: the platform data set (our ODBC layer, Database.h) under the
// library's own class name. The installation environment, the document log and the
// configuration store create their data sets from it, without an owner.
#pragma once

#include "Database.h"

class TqzADODataSet : public platform::DbDataSet {
 public:
  using platform::DbDataSet::DbDataSet;
  TqzADODataSet() = default;

 protected:
  // Rebuilds the field definitions from the open result's columns; nothing of its own.
  void InitFieldDefs() override;
};
