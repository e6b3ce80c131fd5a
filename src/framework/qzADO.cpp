#include "qzADO.h"

void TqzADODataSet::InitFieldDefs() { platform::DbDataSet::InitFieldDefs(); }
