// The write fault seam shared by both file system layers. Off unless a test sets it; the cost on
// the normal path is one counter increment and one compare per write.
#include <cstdlib>

#include "platform/folder_tree.h"
#include "platform/fs.h"
#include "platform/fs_fault.h"

namespace platform {
namespace {

struct FaultSeam {
    WriteFault fault = WriteFault::None;
    uint64_t failAt = 0;
    uint64_t writes = 0;
};
FaultSeam gFaultSeam;  // owned by this file; single-threaded like every caller of File::Write

struct ActHook {
    TreeActHook hook = nullptr;
    void* context = nullptr;
};
ActHook gActHook;  // owned by this file; set by tests only

struct MoveFault {
    bool armed = false;
    uint64_t left = 0;
};
MoveFault gMoveFault;  // owned by this file; set by tests only

}  // namespace

void InjectWriteFault(WriteFault fault, uint64_t writesBefore) {
    gFaultSeam.fault = fault;
    gFaultSeam.failAt = gFaultSeam.writes + writesBefore;
}

uint64_t CountedWrites() {
    return gFaultSeam.writes;
}

bool WriteFaultStrikes() {
    uint64_t index = gFaultSeam.writes++;
    if (gFaultSeam.fault == WriteFault::None || index < gFaultSeam.failAt) return false;
    switch (gFaultSeam.fault) {
        case WriteFault::Kill:
            std::_Exit(86);
        case WriteFault::WriteError:
            return index == gFaultSeam.failAt;
        case WriteFault::DiskFull:
            return true;
        case WriteFault::None:
            break;
    }
    return false;
}

void SetTreeActHookForTest(TreeActHook hook, void* context) {
    gActHook.hook = hook;
    gActHook.context = context;
}

void FireTreeActHook(const std::wstring& relative) {
    if (gActHook.hook) gActHook.hook(relative, gActHook.context);
}

void FailMovesAfterForTest(uint64_t movesBefore) {
    gMoveFault.armed = true;
    gMoveFault.left = movesBefore;
}

void ClearMoveFaultForTest() {
    gMoveFault.armed = false;
}

bool MoveFaultStrikes() {
    if (!gMoveFault.armed) return false;
    if (gMoveFault.left == 0) return true;
    --gMoveFault.left;
    return false;
}

}  // namespace platform
