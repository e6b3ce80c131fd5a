// TqzStrings: the library's string operations, one class of static operations.
// The operations are grouped into families, each declared in its own header and joined here by
// inheritance, so every operation is reachable as TqzStrings::Name. A name (with all its overloads)
// is declared in exactly one family.
#pragma once

#include "qzStringsSearch.h"
#include "qzStringsPadding.h"
#include "qzStringsNormalize.h"
#include "qzStringsServices.h"
#include "qzStringsEdits.h"
#include "qzStringsMatch.h"
#include "qzStringsFinding.h"
#include "qzStringsStemming.h"
#include "qzStringsOcr.h"

class TqzStrings : public TqzStringsSearch,
                   public TqzStringsPadding,
                   public TqzStringsNormalize,
                   public TqzStringsServices,
                   public TqzStringsEdits,
                   public TqzStringsMatch,
                   public TqzStringsFinding,
                   public TqzStringsStemming,
                   public TqzStringsOcr {
 public:
  TqzStrings() = delete;
  // Names that two families overload.
  using TqzStringsSearch::GetBetweenW;
  using TqzStringsPadding::GetBetweenW;
};
