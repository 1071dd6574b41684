#include "tests/win/GuardHeap.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include <gtest/gtest.h>

#include "tests/win/ImportPatch.h"

namespace qz410test::guard {
namespace {

constexpr size_t kPage = 4096;
// What the platform's heaps promise: a block's start is aligned to this, so
// a block ends up to this many bytes short of its page's end.
constexpr size_t kAlign = 2 * sizeof(void*);
// One reserved range holds the small blocks, with room for a long
// quarantine; a 32-bit test program has to share its 2 GB with Wine.
constexpr size_t kArenaBytes = sizeof(void*) == 4 ? size_t{256} << 20 : size_t{4} << 30;
constexpr size_t kArenaPages = kArenaBytes / kPage;
// Larger blocks get a reservation of their own, released when freed.
constexpr size_t kLargeBytes = size_t{32} << 20;
constexpr size_t kMaxLarge = 64;

enum class State : uint8_t { live = 1, freed = 2 };

// A block: `dataPages` committed pages, then one reserved no-access page.
struct Block {
    uintptr_t user = 0;  // the address handed out
    size_t size = 0;     // as asked
    size_t dataPages = 0;
    HANDLE heap = nullptr;  // null: the C runtime's
    size_t serial = 0;      // allocation number, for reports
    State state = State::freed;
};

struct Large {
    uintptr_t base = 0;   // of the reservation
    size_t reserved = 0;  // bytes, the no-access page included
    Block block;
};

CRITICAL_SECTION lock;
uint8_t* arena = nullptr;
uint32_t* owner = nullptr;   // per arena page: 1 + first page of its block, 0 never used
uint8_t* busy = nullptr;     // per arena page: taken by a live block
Block* blocks = nullptr;     // per arena page, valid at a block's first page
size_t cursor = 0;           // next page to try; freed pages behind it wait for the wrap
Large large[kMaxLarge];
size_t liveBlocks = 0;
size_t blocksTaken = 0;
size_t serials = 0;
size_t allocationCalls = 0;
size_t failAt = 0;
bool injected = false;
bool enabled = false;
bool wholeRun = false;

// The real functions, found by name so that they never are one of ours.
decltype(&HeapReAlloc) realHeapReAlloc;
decltype(&HeapFree) realHeapFree;
decltype(&HeapSize) realHeapSize;
decltype(&HeapDestroy) realHeapDestroy;
decltype(&LoadLibraryW) realLoadLibraryW;
void*(__cdecl* realRealloc)(void*, size_t);
void(__cdecl* realFree)(void*);

class Locked {
public:
    Locked() { EnterCriticalSection(&lock); }
    ~Locked() { LeaveCriticalSection(&lock); }
};

[[noreturn]] void Stop(const char* what, uintptr_t address, const Block* block) {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::fflush(stdout);
    std::fprintf(stderr, "\nguard heap: %s at 0x%p", what, reinterpret_cast<void*>(address));
    if (block != nullptr && block->user != 0) {
        const intptr_t offset = static_cast<intptr_t>(address - block->user);
        std::fprintf(stderr, ", offset %ld of a %s %lu-byte block (allocation #%lu, ", static_cast<long>(offset),
                     block->state == State::live ? "live" : "freed", static_cast<unsigned long>(block->size),
                     static_cast<unsigned long>(block->serial));
        if (block->heap != nullptr) {
            std::fprintf(stderr, "HeapAlloc on heap 0x%p)", block->heap);
        } else {
            std::fprintf(stderr, "C runtime)");
        }
    }
    std::fprintf(stderr, "\nguard heap: in test %s.%s\n", test != nullptr ? test->test_suite_name() : "(none)",
                 test != nullptr ? test->name() : "(between tests)");
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    for (;;) {
    }
}

bool InArena(uintptr_t address) {
    return arena != nullptr && address >= reinterpret_cast<uintptr_t>(arena) &&
           address < reinterpret_cast<uintptr_t>(arena) + kArenaBytes;
}

Large* LargeAt(uintptr_t address) {
    for (Large& entry : large) {
        if (entry.base != 0 && address >= entry.base && address < entry.base + entry.reserved) return &entry;
    }
    return nullptr;
}

// The block whose pages (its no-access page included) hold `address`.
Block* BlockAt(uintptr_t address) {
    if (InArena(address)) {
        const uint32_t first = owner[(address - reinterpret_cast<uintptr_t>(arena)) / kPage];
        return first != 0 ? &blocks[first - 1] : nullptr;
    }
    Large* entry = LargeAt(address);
    return entry != nullptr ? &entry->block : nullptr;
}

size_t RoundedSize(size_t size) { return size == 0 ? kAlign : (size + kAlign - 1) / kAlign * kAlign; }

void* Take(size_t size, HANDLE heap, bool zero) {
    if (size > kArenaBytes) return nullptr;
    const size_t rounded = RoundedSize(size);
    const size_t dataPages = (rounded + kPage - 1) / kPage;
    Locked held;
    ++serials;
    Block block;
    block.size = size;
    block.dataPages = dataPages;
    block.heap = heap;
    block.serial = serials;
    block.state = State::live;
    if (rounded >= kLargeBytes) {
        Large* entry = nullptr;
        for (Large& candidate : large) {
            if (candidate.base == 0) {
                entry = &candidate;
                break;
            }
        }
        if (entry == nullptr) return nullptr;
        const size_t reserved = (dataPages + 1) * kPage;
        auto* base = static_cast<uint8_t*>(VirtualAlloc(nullptr, reserved, MEM_RESERVE, PAGE_NOACCESS));
        if (base == nullptr) return nullptr;
        if (VirtualAlloc(base, dataPages * kPage, MEM_COMMIT, PAGE_READWRITE) == nullptr) {
            VirtualFree(base, 0, MEM_RELEASE);
            return nullptr;
        }
        entry->base = reinterpret_cast<uintptr_t>(base);
        entry->reserved = reserved;
        block.user = reinterpret_cast<uintptr_t>(base) + dataPages * kPage - rounded;
        entry->block = block;
    } else {
        // The first run of free pages from the cursor on, going round once.
        const size_t need = dataPages + 1;
        size_t start = kArenaPages;
        for (size_t tried = 0, run = 0, at = cursor; tried < kArenaPages + need; ++tried, ++at) {
            if (at == kArenaPages) {
                at = 0;
                run = 0;
            }
            run = busy[at] ? 0 : run + 1;
            if (run == need) {
                start = at + 1 - need;
                break;
            }
        }
        if (start == kArenaPages) return nullptr;
        uint8_t* const data = arena + start * kPage;
        if (VirtualAlloc(data, dataPages * kPage, MEM_COMMIT, PAGE_READWRITE) == nullptr) return nullptr;
        cursor = start + need;
        if (cursor == kArenaPages) cursor = 0;
        for (size_t page = start; page < start + need; ++page) {
            busy[page] = 1;
            owner[page] = static_cast<uint32_t>(start + 1);
        }
        block.user = reinterpret_cast<uintptr_t>(data) + dataPages * kPage - rounded;
        blocks[start] = block;
    }
    ++liveBlocks;
    ++blocksTaken;
    // Fresh pages are zero; a block that was not asked to be must not look
    // as if it were.
    if (!zero) std::memset(reinterpret_cast<void*>(block.user), 0xC5, size);
    return reinterpret_cast<void*>(block.user);
}

// The live block that starts at `address`; stops the program for any other
// address in the guarded ranges (a double free, a pointer into a block).
Block* LiveBlock(uintptr_t address, const char* call) {
    Block* block = BlockAt(address);
    if (block == nullptr || block->user != address || block->state != State::live) {
        char what[64];
        std::snprintf(what, sizeof what, "%s of a pointer that is no live block", call);
        Stop(what, address, block);
    }
    return block;
}

// The live block that starts at `address`, given back through `heap` (null:
// the C runtime's functions). A block of another heap stops the program:
// the platform's heaps fail such a call or corrupt themselves, where Wine's
// may let it pass.
Block* OwnBlock(uintptr_t address, HANDLE heap, const char* call) {
    Block* block = LiveBlock(address, call);
    if (block->heap != heap) {
        char what[96];
        if (heap == nullptr) {
            std::snprintf(what, sizeof what, "%s of a block that is no C runtime block", call);
        } else {
            std::snprintf(what, sizeof what, "%s through heap 0x%p, not the block's", call, heap);
        }
        Stop(what, address, block);
    }
    return block;
}

void Release(Block* block) {
    const uintptr_t firstPage = block->user / kPage * kPage;
    block->state = State::freed;
    --liveBlocks;
    if (Large* entry = LargeAt(block->user)) {
        VirtualFree(reinterpret_cast<void*>(entry->base), 0, MEM_RELEASE);
        entry->base = 0;
        return;
    }
    VirtualFree(reinterpret_cast<void*>(firstPage), block->dataPages * kPage, MEM_DECOMMIT);
    const size_t start = (firstPage - reinterpret_cast<uintptr_t>(arena)) / kPage;
    for (size_t page = start; page < start + block->dataPages + 1; ++page) busy[page] = 0;
}

bool Guarded(const void* pointer) {
    const auto address = reinterpret_cast<uintptr_t>(pointer);
    if (InArena(address)) return true;
    Locked held;
    return LargeAt(address) != nullptr;
}

bool Fails() {
    Locked held;
    ++allocationCalls;
    if (failAt != 0 && allocationCalls == failAt) {
        injected = true;
        return true;
    }
    return false;
}

void Free(void* pointer, HANDLE heap, const char* call) {
    Locked held;
    Release(OwnBlock(reinterpret_cast<uintptr_t>(pointer), heap, call));
}

// A resize that may move the block; a block of another heap is reported
// before any answer, an injected failure included.
void* Resize(void* pointer, size_t size, HANDLE heap, bool zero, bool inPlaceOnly, const char* call) {
    size_t old;
    {
        Locked held;
        old = OwnBlock(reinterpret_cast<uintptr_t>(pointer), heap, call)->size;
    }
    if (inPlaceOnly || Fails()) return nullptr;
    void* moved = Take(size, heap, zero);
    if (moved == nullptr) return nullptr;
    std::memcpy(moved, pointer, old < size ? old : size);
    if (zero && size > old) std::memset(static_cast<uint8_t*>(moved) + old, 0, size - old);
    Free(pointer, heap, call);
    return moved;
}

// ---- The DLL's imports -----------------------------------------------------

LPVOID WINAPI GuardHeapAlloc(HANDLE heap, DWORD flags, SIZE_T size) {
    if (Fails()) return nullptr;
    return Take(size, heap, (flags & HEAP_ZERO_MEMORY) != 0);
}

LPVOID WINAPI GuardHeapReAlloc(HANDLE heap, DWORD flags, LPVOID pointer, SIZE_T size) {
    if (!Guarded(pointer)) return realHeapReAlloc(heap, flags, pointer, size);
    return Resize(pointer, size, heap, (flags & HEAP_ZERO_MEMORY) != 0, (flags & HEAP_REALLOC_IN_PLACE_ONLY) != 0,
                  "HeapReAlloc");
}

BOOL WINAPI GuardHeapFree(HANDLE heap, DWORD flags, LPVOID pointer) {
    if (pointer == nullptr || !Guarded(pointer)) return realHeapFree(heap, flags, pointer);
    Free(pointer, heap, "HeapFree");
    return TRUE;
}

SIZE_T WINAPI GuardHeapSize(HANDLE heap, DWORD flags, LPCVOID pointer) {
    if (!Guarded(pointer)) return realHeapSize(heap, flags, pointer);
    Locked held;
    return OwnBlock(reinterpret_cast<uintptr_t>(pointer), heap, "HeapSize")->size;
}

BOOL WINAPI GuardHeapDestroy(HANDLE heap) {
    {
        Locked held;
        for (size_t page = 0; page < kArenaPages; ++page) {
            if (owner[page] == page + 1 && blocks[page].state == State::live && blocks[page].heap == heap) {
                Release(&blocks[page]);
            }
        }
        for (Large& entry : large) {
            if (entry.base != 0 && entry.block.heap == heap) Release(&entry.block);
        }
    }
    return realHeapDestroy(heap);
}

void* __cdecl GuardMalloc(size_t size) { return Fails() ? nullptr : Take(size, nullptr, false); }

void* __cdecl GuardCalloc(size_t count, size_t size) {
    if (size != 0 && count > SIZE_MAX / size) return nullptr;
    return Fails() ? nullptr : Take(count * size, nullptr, true);
}

void __cdecl GuardFree(void* pointer) {
    if (pointer == nullptr || !Guarded(pointer)) {
        realFree(pointer);
        return;
    }
    Free(pointer, nullptr, "free");
}

void* __cdecl GuardRealloc(void* pointer, size_t size) {
    if (pointer == nullptr) return GuardMalloc(size);
    if (!Guarded(pointer)) return realRealloc(pointer, size);
    if (size == 0) {
        Free(pointer, nullptr, "realloc");
        return nullptr;
    }
    return Resize(pointer, size, nullptr, false, false, "realloc");
}

// The host's realloc: only a block the DLL handed it is the guard's; a new
// one is the host's own, neither guarded nor counted as the DLL's.
void* __cdecl HostRealloc(void* pointer, size_t size) {
    if (pointer == nullptr || !Guarded(pointer)) return realRealloc(pointer, size);
    return GuardRealloc(pointer, size);
}

struct Import {
    const char* dll;
    const char* function;
    void* replacement;
};

// What a guarded DLL takes and gives back.
const Import kPluginImports[] = {
    {"kernel32.dll", "HeapAlloc", reinterpret_cast<void*>(&GuardHeapAlloc)},
    {"kernel32.dll", "HeapReAlloc", reinterpret_cast<void*>(&GuardHeapReAlloc)},
    {"kernel32.dll", "HeapFree", reinterpret_cast<void*>(&GuardHeapFree)},
    {"kernel32.dll", "HeapSize", reinterpret_cast<void*>(&GuardHeapSize)},
    {"msvcrt.dll", "malloc", reinterpret_cast<void*>(&GuardMalloc)},
    {"msvcrt.dll", "calloc", reinterpret_cast<void*>(&GuardCalloc)},
    {"msvcrt.dll", "realloc", reinterpret_cast<void*>(&GuardRealloc)},
    {"msvcrt.dll", "free", reinterpret_cast<void*>(&GuardFree)},
};

// What the test program, as the host, does with blocks the DLL handed it.
const Import kHostImports[] = {
    {"kernel32.dll", "HeapReAlloc", reinterpret_cast<void*>(&GuardHeapReAlloc)},
    {"kernel32.dll", "HeapFree", reinterpret_cast<void*>(&GuardHeapFree)},
    {"kernel32.dll", "HeapSize", reinterpret_cast<void*>(&GuardHeapSize)},
    {"kernel32.dll", "HeapDestroy", reinterpret_cast<void*>(&GuardHeapDestroy)},
    {"msvcrt.dll", "realloc", reinterpret_cast<void*>(&HostRealloc)},
    {"msvcrt.dll", "free", reinterpret_cast<void*>(&GuardFree)},
};

template <size_t N>
void Patch(HMODULE module, const Import (&imports)[N]) {
    for (const Import& import : imports) {
        void** slot = FindImportSlot(module, import.dll, import.function);
        if (slot != nullptr && *slot != import.replacement) WriteImportSlot(slot, import.replacement);
    }
}

bool IsPlugin(HMODULE module) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    const wchar_t* name = path + length;
    while (name > path && name[-1] != L'\\' && name[-1] != L'/') --name;
    return _wcsicmp(name, L"QZ410UI.DLL") == 0;
}

HMODULE WINAPI GuardedLoadLibraryW(LPCWSTR name) {
    const HMODULE module = realLoadLibraryW(name);
    if (module != nullptr && enabled && IsPlugin(module)) {
        const DWORD error = GetLastError();
        Patch(module, kPluginImports);
        SetLastError(error);
    }
    return module;
}

LONG CALLBACK OnException(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || record->NumberParameters < 2) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    const uintptr_t address = record->ExceptionInformation[1];
    if (!InArena(address) && LargeAt(address) == nullptr) return EXCEPTION_CONTINUE_SEARCH;
    const Block* block = BlockAt(address);
    const char* what = record->ExceptionInformation[0] == 1 ? "write" : "read";
    char text[96];
    if (block == nullptr) {
        std::snprintf(text, sizeof text, "%s outside every block", what);
    } else if (block->state == State::freed) {
        std::snprintf(text, sizeof text, "%s after free", what);
    } else if (address >= block->user + block->size) {
        std::snprintf(text, sizeof text, "%s past the end", what);
    } else {
        std::snprintf(text, sizeof text, "%s before the start", what);
    }
    Stop(text, address, block);
}

// A guarded run in which the guard took no block tested nothing: its hook
// was lost, or no test loaded the DLL.
class TookBlocks : public ::testing::Environment {
    void TearDown() override {
        if (BlocksTaken() == 0) ADD_FAILURE() << "guard heap: no block of QZ410UI.DLL was guarded";
    }
};

template <typename F>
void Find(F& function, const wchar_t* dll, const char* name) {
    function = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(dll), name)));
}

bool Start() {
    InitializeCriticalSection(&lock);
    Find(realHeapReAlloc, L"kernel32.dll", "HeapReAlloc");
    Find(realHeapFree, L"kernel32.dll", "HeapFree");
    Find(realHeapSize, L"kernel32.dll", "HeapSize");
    Find(realHeapDestroy, L"kernel32.dll", "HeapDestroy");
    Find(realLoadLibraryW, L"kernel32.dll", "LoadLibraryW");
    Find(realRealloc, L"msvcrt.dll", "realloc");
    Find(realFree, L"msvcrt.dll", "free");
    arena = static_cast<uint8_t*>(VirtualAlloc(nullptr, kArenaBytes, MEM_RESERVE, PAGE_NOACCESS));
    owner = static_cast<uint32_t*>(
        VirtualAlloc(nullptr, kArenaPages * sizeof *owner, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    busy = static_cast<uint8_t*>(VirtualAlloc(nullptr, kArenaPages, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    blocks = static_cast<Block*>(
        VirtualAlloc(nullptr, kArenaPages * sizeof *blocks, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (arena == nullptr || owner == nullptr || busy == nullptr || blocks == nullptr) {
        std::fprintf(stderr, "guard heap: cannot reserve %lu MB\n", static_cast<unsigned long>(kArenaBytes >> 20));
        std::exit(2);
    }
    AddVectoredExceptionHandler(1, &OnException);
    Patch(GetModuleHandleW(nullptr), kHostImports);
    InstallLoaderHook();
    const wchar_t* line = GetCommandLineW();
    wholeRun = line != nullptr && std::wcsstr(line, L" --guard-heap") != nullptr;
    enabled = wholeRun;
    if (wholeRun) {
        std::fprintf(stderr, "guard heap: every QZ410UI.DLL this program loads is guarded\n");
        ::testing::AddGlobalTestEnvironment(new TookBlocks);
    }
    return true;
}

const bool started = Start();

}  // namespace

void InstallLoaderHook() {
    void** slot = FindImportSlot(GetModuleHandleW(nullptr), "kernel32.dll", "LoadLibraryW");
    if (slot != nullptr && *slot != reinterpret_cast<void*>(&GuardedLoadLibraryW)) {
        WriteImportSlot(slot, reinterpret_cast<void*>(&GuardedLoadLibraryW));
    }
}

void Enable(bool on) { enabled = on || wholeRun; }
bool Enabled() { return enabled; }
bool EnabledForWholeRun() { return wholeRun; }

size_t LiveBlocks() {
    Locked held;
    return liveBlocks;
}

size_t BlocksTaken() {
    Locked held;
    return blocksTaken;
}

size_t AllocationCalls() {
    Locked held;
    return allocationCalls;
}

void ResetCounts() {
    Locked held;
    allocationCalls = 0;
    failAt = 0;
    injected = false;
}

void FailAllocation(size_t n) {
    Locked held;
    failAt = n == 0 ? 0 : allocationCalls + n;
    injected = false;
}

bool InjectedFailure() {
    Locked held;
    return injected;
}

}  // namespace qz410test::guard
