// Which output names a header may give: the joiner creates the output in
// the working folder under this name, and deletes what the name held.
#pragma once

#include <string>

#include "join/div_header.h"

// The output name as UTF-8, when the header's bytes make one that is safe to
// create in the working folder: NUL-terminated within its field, valid
// Shift-JIS, and a bare file name that is not a device, a part of a set, or
// the program itself. An empty name passes (the joiner reports it).
BOOL DecodeOutputName(const DIVHEADER& header, const std::string& programFileName,
                      std::string& outputName);
