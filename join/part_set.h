// A part's header read from its file, and the verification of the whole
// part set before anything is written.
#pragma once

#include <cstdint>
#include <vector>

#include "join/div_header.h"
#include "platform/file.h"

// Reads the header at the start of an open part. TRUE when all 156 bytes
// came and the signature is right; the other fields are not judged here.
BOOL ReadDivHeader(CFile& part, DIVHEADER& header);

// Opens every part from 1 to the header's count and checks that it is
// present, carries a sound header with its own number, and that the payloads
// add up to the header's total. Shows at most one message (missing parts win
// over damaged ones, which win over a wrong total). TRUE when the set is
// sound, with every part's length in partLengths. A platform error while a
// part is measured, read or closed leaves as CFileException, with every part
// closed.
BOOL CheckPartSet(const DIVHEADER& firstHeader, std::vector<std::uint64_t>& partLengths);
