// A guard-page heap for QZ410UI.DLL under test, in the manner of a full page
// heap: every block the DLL takes (HeapAlloc on any heap, the host's
// included, and the C runtime's malloc family) ends at a page boundary with
// a no-access page behind it, and a freed block turns no-access and is not
// handed out again for a long while. An access to either ends the process
// with the test's name, the address and the block it belongs to; so does a
// free of a block that is not live, and a free, resize or size query through
// another heap than the block's (a malloc block given to HeapFree, a
// HeapAlloc block to free, or one heap's block to another heap).
//
// The heap is put under the DLL as it is loaded: the test program's own
// LoadLibraryW (its host code's loads included) is pointed at a wrapper
// that patches each fresh QZ410UI.DLL. The program's own frees, reallocs and
// HeapDestroy calls learn the guarded blocks, so a block the DLL leaves in
// the host's heap goes with that heap.
//
// Beside guarding, it counts: the blocks the DLL holds, and its allocation
// calls, any one of which can be made to fail (see FaultInjection.h).
#pragma once

#include <windows.h>

#include <cstddef>

namespace qz410test::guard {

// Puts the wrapper into the program's LoadLibraryW import. Idempotent; done
// at start-up for every test program that links this file.
void InstallLoaderHook();

// While enabled, every QZ410UI.DLL that is loaded is guarded (until it is
// unloaded). A program started with --guard-heap is enabled from start-up
// to exit.
void Enable(bool on);
bool Enabled();
bool EnabledForWholeRun();

// Blocks the DLL took from the guarded heap and has not freed (nor had freed
// with their heap).
size_t LiveBlocks();

// Blocks the guard has handed out since start-up; a run that means to test
// the DLL on the guarded heap and leaves this unchanged tested nothing.
size_t BlocksTaken();

// Allocation calls of guarded DLLs since the last ResetCounts.
size_t AllocationCalls();
void ResetCounts();
// Makes the n-th allocation call from now (1-based) answer "no memory";
// 0 fails none. True once that call has failed.
void FailAllocation(size_t n);
bool InjectedFailure();

}  // namespace qz410test::guard
