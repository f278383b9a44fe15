#pragma once
// Inside the platform layer only: File::Write of both builds asks the fault seam first.
namespace platform {

// Counts one write; true when the seam says this write fails.
bool WriteFaultStrikes();

}  // namespace platform
