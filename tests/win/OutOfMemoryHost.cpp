// A host process that has used up its address space: it takes the class
// factory and a plug-in object while memory is there, then reserves every
// free address range and drains the process heap and the C runtime's heap,
// and only then calls into QZ410UI.DLL. What the DLL answers is written to
// standard output, one "name value" line each, once memory is back; the test
// in plugin_tests reads it. A DLL that throws (or aborts) on a failed
// allocation ends this process instead.
//
// A 64-bit address space cannot be used up in any reasonable time (nor, in
// practice, by a host); there every allocation function the DLL imports is
// made to fail instead, through its import table.
//
//   oom_host [SHARED_RUNTIME.DLL]
//
// With an argument, that DLL (the toolchain's shared libgcc) is loaded first,
// as it is in any host built with the shared MinGW runtime.
#include <windows.h>

#include <cstdlib>

#include "plugin/HostContract.h"
#include "tests/win/ImportPatch.h"

namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

// Nothing here may need the heap while it is empty: fixed arrays only.
constexpr size_t kMaxReservations = 1 << 16;
void* reservations[kMaxReservations];
size_t reservationCount = 0;

char output[4096];
size_t outputLength = 0;

void Append(const char* text) {
    while (*text != '\0' && outputLength < sizeof output) output[outputLength++] = *text++;
}

void Report(const char* name, unsigned long long value) {
    Append(name);
    Append(" ");
    char digits[17];
    int n = 0;
    do {
        digits[n++] = "0123456789ABCDEF"[value & 15];
        value >>= 4;
    } while (value != 0);
    while (n > 0) {
        const char digit[2] = {digits[--n], '\0'};
        Append(digit);
    }
    Append("\n");
}

// Every free range of the address space, largest pieces first.
void ReserveAddressSpace() {
    const SIZE_T largest = sizeof(void*) == 4 ? SIZE_T{1} << 31 : SIZE_T{1} << 46;
    for (SIZE_T size = largest; size >= 0x10000; size /= 2) {
        while (reservationCount < kMaxReservations) {
            void* p = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
            if (p == nullptr) break;
            reservations[reservationCount++] = p;
        }
    }
}

void ReleaseAddressSpace() {
    while (reservationCount > 0) VirtualFree(reservations[--reservationCount], 0, MEM_RELEASE);
}

// Where every block taken goes, so that the compiler cannot take an unused
// allocation for one that needs no memory.
void* volatile lastBlock;

bool Took(void* block) {
    lastBlock = block;
    return block != nullptr;
}

// Takes blocks until even the smallest request fails. Every size up to 1 KiB
// is tried on its own, since heaps keep separate lists per block size. The
// blocks are never freed: the process ends soon after.
template <typename Allocate>
void Drain(Allocate allocate) {
    for (size_t size = size_t{1} << 24; size > 1024; size /= 2) {
        while (Took(allocate(size))) {
        }
    }
    for (size_t size = 1024; size > 0; --size) {
        while (Took(allocate(size))) {
        }
    }
}

LPVOID WINAPI NoHeapAlloc(HANDLE, DWORD, SIZE_T) { return nullptr; }
void* __cdecl NoMalloc(size_t) { return nullptr; }
void* __cdecl NoCalloc(size_t, size_t) { return nullptr; }
void* __cdecl NoRealloc(void*, size_t) { return nullptr; }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc > 1 && LoadLibraryW(argv[1]) == nullptr) return 10;
    HMODULE module = LoadLibraryW(L"QZ410UI.DLL");
    if (module == nullptr) return 11;
    auto getClassObject =
        reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    auto canUnloadNow =
        reinterpret_cast<CanUnloadNowFn>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    if (getClassObject == nullptr || canUnloadNow == nullptr) return 12;

    IClassFactory* factory = nullptr;
    if (getClassObject(CLSID_QZ410UI, IID_IClassFactory, reinterpret_cast<void**>(&factory)) != S_OK) return 13;
    IPrintOemUI* plugin = nullptr;
    if (factory->CreateInstance(nullptr, IID_IPrintOemUI, reinterpret_cast<void**>(&plugin)) != S_OK) return 14;
    static unsigned char block[564];
    static DEVMODEW publicDevMode;

    // Proof that memory is gone, then the calls.
    bool heapEmpty, mallocEmpty;
    constexpr bool kUseUp = sizeof(void*) == 4;
    HMODULE patched = kUseUp ? nullptr : module;
    qz410test::ImportPatch heapAllocFails(patched, "kernel32.dll", "HeapAlloc", reinterpret_cast<void*>(NoHeapAlloc));
    qz410test::ImportPatch mallocFails(patched, "msvcrt.dll", "malloc", reinterpret_cast<void*>(NoMalloc));
    qz410test::ImportPatch callocFails(patched, "msvcrt.dll", "calloc", reinterpret_cast<void*>(NoCalloc));
    qz410test::ImportPatch reallocFails(patched, "msvcrt.dll", "realloc", reinterpret_cast<void*>(NoRealloc));
    if (kUseUp) {
        ReserveAddressSpace();
        const HANDLE heap = GetProcessHeap();
        Drain([heap](size_t size) { return HeapAlloc(heap, 0, size); });
        Drain([](size_t size) { return std::malloc(size); });
        heapEmpty = !Took(HeapAlloc(heap, 0, 16));
        mallocEmpty = !Took(std::malloc(16));
    } else {
        heapEmpty = static_cast<bool>(heapAllocFails);
        mallocEmpty = mallocFails || callocFails || reallocFails;
    }
    void* const untouched = reinterpret_cast<void*>(0x1234);
    void* factoryOut = untouched;
    const HRESULT getClassObjectResult = getClassObject(CLSID_QZ410UI, IID_IClassFactory, &factoryOut);
    void* objectOut = untouched;
    const HRESULT createInstanceResult = factory->CreateInstance(nullptr, IID_IPrintOemUI, &objectOut);
    OEMDMPARAM size{};
    size.cbSize = sizeof size;
    const HRESULT sizeResult = plugin->DevMode(OEMDM_SIZE, &size);
    OEMDMPARAM defaults{};
    defaults.cbSize = sizeof defaults;
    defaults.pPublicDMIn = &publicDevMode;
    defaults.pOEMDMOut = block;
    defaults.cbBufSize = sizeof block;
    const HRESULT defaultResult = plugin->DevMode(OEMDM_DEFAULT, &defaults);
    OEMDMPARAM merge = defaults;
    merge.pOEMDMIn = block;
    const HRESULT mergeResult = plugin->DevMode(OEMDM_MERGE, &merge);
    DWORD signature = 0, needed = 0;
    const HRESULT getInfoResult = plugin->GetInfo(OEMGI_GETSIGNATURE, &signature, sizeof signature, &needed);

    ReleaseAddressSpace();
    Report("heapEmpty", heapEmpty);
    Report("mallocEmpty", mallocEmpty);
    Report("DllGetClassObject", static_cast<ULONG>(getClassObjectResult));
    Report("DllGetClassObject.ppvUntouched", factoryOut == untouched);
    Report("CreateInstance", static_cast<ULONG>(createInstanceResult));
    Report("DevMode.size", static_cast<ULONG>(sizeResult));
    Report("DevMode.size.cbBufSize", size.cbBufSize);
    Report("DevMode.default", static_cast<ULONG>(defaultResult));
    Report("DevMode.merge", static_cast<ULONG>(mergeResult));
    Report("DevMode.header", *reinterpret_cast<DWORD*>(block + 4));
    Report("GetInfo", static_cast<ULONG>(getInfoResult));
    Report("GetInfo.signature", signature);
    Report("Release.plugin", plugin->Release());
    Report("Release.factory", factory->Release());
    Report("DllCanUnloadNow", static_cast<ULONG>(canUnloadNow()));
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), output, static_cast<DWORD>(outputLength), &written, nullptr);
    return 0;
}
