// TqzStrings family: normalising, character sets, control characters and line breaks.
#pragma once

#include "Text.h"

class TqzStringsNormalize {
 public:
  TqzStringsNormalize() = delete;
};
