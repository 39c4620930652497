// The joiner: the payloads of every part, in order, cut off at the total,
// written into the output named by the first header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "join/div_header.h"

// Writes outputName, in the working folder, from the payloads of the parts
// 1 to the first header's count, after deleting what the name held, and
// gives it the name only once it is whole. partLengths are the lengths the
// verification measured: a part that is no longer what was verified ends
// the join. TRUE when the output was written whole; otherwise nothing this
// call wrote remains and one message said why, unless the user stopped it.
BOOL JoinParts(const DIVHEADER& firstHeader, const std::string& outputName,
               const std::vector<std::uint64_t>& partLengths);
