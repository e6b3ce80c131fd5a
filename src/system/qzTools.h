// TqzTools: the system tools, one class of static operations. The operations are grouped into
// families, each declared in its own header and joined here by inheritance, so every operation
// is reachable as TqzTools::Name. A name (with all its overloads) is declared in exactly one
// family.
#pragma once

#include "qzToolsDesktop.h"
#include "qzToolsEvo2.h"
#include "qzToolsIdentity.h"
#include "qzToolsProcess.h"
#include "qzToolsVersion.h"

class TqzTools : public TqzToolsParams,
                 public TqzToolsIdentity,
                 public TqzToolsVersion,
                 public TqzToolsProcess,
                 public TqzToolsDesktop {
 public:
  TqzTools() = delete;
};
