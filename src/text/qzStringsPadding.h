// TqzStrings family: padding, positions, cutting, splitting and counting.
#pragma once

#include "Text.h"

class TqzStringsPadding {
 public:
  TqzStringsPadding() = delete;
};
