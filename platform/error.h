#pragma once
// The system's own error code of the last failed call on this thread, and its text, for records
// that support reads (the install log). Windows: GetLastError and FormatMessageW; elsewhere errno
// and strerror.
#include <cstdint>
#include <string>

namespace platform {

uint32_t LastSystemError();
// Cleared before a step whose failure may come from our own checks rather than a system call, so
// that a stale code from an earlier, harmless failure is not reported as the cause.
void ClearSystemError();
// Sets this thread's code: a failure met on a worker thread is reported by the thread that asked
// for the work, whose own code is what the callers read.
void SetSystemError(uint32_t code);
// The system's message for the code in UTF-8, one line, without a trailing full stop or line
// break; empty when the system has none.
std::string SystemErrorMessage(uint32_t code);

}  // namespace platform
