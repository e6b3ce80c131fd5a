// TqzStrings family: template, rule and list edits.
#pragma once

#include "Text.h"

class TqzStringsEdits {
 public:
  TqzStringsEdits() = delete;
};
