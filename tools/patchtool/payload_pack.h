#pragma once
// The payload with kinds (PTPAYLD2, see install/payload_reader.h), as `patchtool build` writes it
// when a definition asks for compression or names the previous version (`from`): files the previous
// version holds unchanged are left out, each other file is stored compressed, or as it is where
// compression saves less than kStoreBelowSaving, and with `removals` the previous version's files
// that the new one lacks are removed at install (removals come first, so that a file may give way
// to a folder of its name).
#include <ostream>
#include <string>

#include "platform/fs.h"
#include "tools/patchtool/patch_build.h"

// An entry whose compressed form is not at least this much smaller than the file is stored.
constexpr double kStoreBelowSaving = 0.05;

// Writes the whole archive to `out`, filling plan.packed; `progress` (may be null) gets a line per
// file and its bytes. False with `what` set when a file cannot be read or changed while building.
bool WriteKindsPayload(PatchPlan& plan, platform::File& out, std::ostream* progress, std::string& what);

// The table `build` ends with: each entry's kind, file size, stored size and ratio, and the totals.
void PrintPackTable(const PatchPlan& plan, std::ostream& out);
