#pragma once
// A process-wide observer of long work: the file digest reports after every chunk it reads (at
// most 65536 bytes apart) and once at each file's start and end; the payload extraction as the
// made files grow (at most a few hundred KiB apart, and every 50 ms while it waits on its other
// threads) and at each entry's start and end; the search for the game file by name every few
// hundred directory entries. The installer window uses it to keep its messages flowing during an
// install; the authors' tool draws a progress bar. Reports always come from the thread that started
// the work, so the observer is a plain global.
#include <cstdint>

struct WorkProgress {
    enum class Phase { Hashing, Extracting, Searching } phase;
    // Hashing: bytes of the file read so far, of its size. Extracting: bytes of the files made so far
    // (written into the game folder), of what all the entries make: a compressed or delta entry
    // counts the file it makes, not the smaller data it is made from, so the bar moves at the pace
    // the gamer's disk fills.
    uint64_t bytesDone;
    uint64_t bytesTotal;
    // Searching (the game file by name): no bytes; filesDone counts the entries looked at so far,
    // reported every few hundred, and filesTotal is 0 because the tree's size is not known.
    // Hashing: 0 then 1 of 1. Extracting: entries completed, of entryCount.
    uint32_t filesDone;
    uint32_t filesTotal;
};

using WorkObserver = void (*)(const WorkProgress& progress, void* context);

// nullptr clears. The observer is called synchronously from inside the working loop.
void SetWorkObserver(WorkObserver observer, void* context);

// Owned by progress.cpp; read inline by the working loops so that, with no observer set, a report
// costs a null check.
extern WorkObserver gWorkObserver;
extern void* gWorkObserverContext;

inline void ReportWork(WorkProgress::Phase phase, uint64_t bytesDone, uint64_t bytesTotal, uint32_t filesDone,
                       uint32_t filesTotal) {
    if (!gWorkObserver) return;
    gWorkObserver(WorkProgress{phase, bytesDone, bytesTotal, filesDone, filesTotal}, gWorkObserverContext);
}
