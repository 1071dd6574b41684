// How long the Color correction page takes to repaint its preview and to
// follow a slider drag, in the real property sheet of the stand-in host, at
// the slowest settings the sliders allow; and for a camera's JPEG, the first
// repaint (which decodes it) against the system decoder's own time, and the
// most the DLL itself holds on its heaps meanwhile. Not a test: run by hand
// under Wine,
//   tools/wine-run.sh --prefix build/wineprefix build/win32/bin/page_bench.exe
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "imaging/Dib.h"
#include "resources/resource.h"
#include "settings/PrivateDevMode.h"
#include "tests/win/ImportPatch.h"
#include "tools/qz410host/HostSession.h"
#include "tools/qz410host/PictureFiles.h"

namespace {

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    static LARGE_INTEGER frequency{};
    if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// CPU time of this thread in ms: on a busy machine the wall-clock times
// mostly measure waiting for a processor, this does not (Wine reads it in
// scheduler ticks, so only sums over many runs are meaningful).
double ThreadCpuMilliseconds() {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
    auto ms = [](FILETIME t) { return (static_cast<double>(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) / 1e4; };
    return ms(kernel) + ms(user);
}

LARGE_INTEGER Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}

// A 24-bit picture with a busy pattern, written in rows so that a large one
// needs no memory of its size.
bool WritePicture(const std::wstring& path, int width, int height) {
    const int64_t stride = qz410::DibStride(width);
    const uint32_t offBits = 54;
    const uint32_t fileSize = static_cast<uint32_t>(offBits + stride * height);
    std::vector<uint8_t> header(offBits, 0);
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(header.data() + at, &v, 4); };
    header[0] = 'B';
    header[1] = 'M';
    put32(2, fileSize);
    put32(10, offBits);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(width));
    put32(22, static_cast<uint32_t>(height));
    header[26] = 1;
    header[28] = 24;
    std::ofstream out(path.c_str(), std::ios::binary);
    out.write(reinterpret_cast<const char*>(header.data()), offBits);
    std::vector<uint8_t> row(static_cast<size_t>(stride), 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            row[3 * x + 0] = static_cast<uint8_t>(x * 5 + y * 3);
            row[3 * x + 1] = static_cast<uint8_t>((x ^ y) * 7);
            row[3 * x + 2] = static_cast<uint8_t>(x * y >> 4);
        }
        out.write(reinterpret_cast<const char*>(row.data()), stride);
    }
    return static_cast<bool>(out);
}

// A 6000 x 4000 photo-like JPEG (24 megapixels, as a camera's), written
// through the system's encoder.
bool WriteJpeg(const std::wstring& path, UINT width, UINT height) {
    std::vector<uint8_t> rows(size_t{3} * width * height);
    for (UINT y = 0; y < height; ++y) {
        uint8_t* row = &rows[size_t{3} * width * y];
        for (UINT x = 0; x < width; ++x) {
            row[3 * x + 0] = static_cast<uint8_t>(128 + (x / 40 % 2 ? 60 : -60) * (y % 400) / 400);
            row[3 * x + 1] = static_cast<uint8_t>((x * 255 / width + y / 50) & 0xFF);
            row[3 * x + 2] = static_cast<uint8_t>(y * 255 / height);
        }
    }
    return qz410host::EncodePicture(path, GUID_ContainerFormatJpeg, GUID_WICPixelFormat24bppBGR, width, height,
                                    3 * width, rows);
}

// The system decoder's own work for the page's first repaint of a JPEG:
// create it, read the file's header and its centre 192 x 192 as 32-bit BGRA.
double DecoderMilliseconds(const std::wstring& path) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const LARGE_INTEGER start = [] { LARGE_INTEGER n; QueryPerformanceCounter(&n); return n; }();
    IWICImagingFactory* factory = nullptr;
    IWICBitmapDecoder* decoder = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    IWICFormatConverter* converter = nullptr;
    std::vector<uint8_t> crop(4 * 192 * 192);
    UINT width = 0, height = 0;
    bool ok = SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IWICImagingFactory, reinterpret_cast<void**>(&factory))) &&
              SUCCEEDED(CoCreateInstance(CLSID_WICJpegDecoder, nullptr, CLSCTX_INPROC_SERVER, IID_IWICBitmapDecoder,
                                         reinterpret_cast<void**>(&decoder)));
    IWICStream* stream = nullptr;
    ok = ok && SUCCEEDED(factory->CreateStream(&stream)) &&
         SUCCEEDED(stream->InitializeFromFilename(path.c_str(), GENERIC_READ)) &&
         SUCCEEDED(decoder->Initialize(stream, WICDecodeMetadataCacheOnDemand)) &&
         SUCCEEDED(decoder->GetFrame(0, &frame)) && SUCCEEDED(frame->GetSize(&width, &height)) &&
         SUCCEEDED(factory->CreateFormatConverter(&converter)) &&
         SUCCEEDED(converter->Initialize(frame, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                         WICBitmapPaletteTypeCustom));
    const WICRect rect{static_cast<INT>(width / 2 - 96), static_cast<INT>(height / 2 - 96), 192, 192};
    ok = ok && SUCCEEDED(converter->CopyPixels(&rect, 4 * 192, static_cast<UINT>(crop.size()), crop.data()));
    for (IUnknown* object : std::initializer_list<IUnknown*>{converter, frame, decoder, stream, factory}) {
        if (object != nullptr) object->Release();
    }
    LARGE_INTEGER end;
    QueryPerformanceCounter(&end);
    CoUninitialize();
    return ok ? Milliseconds(start, end) : -1;
}

// What the DLL holds of the process's heaps, through its own imports: the
// most at any time since the last Reset.
namespace heap {
int64_t live = 0, peak = 0;
decltype(&HeapAlloc) realAlloc;
decltype(&HeapFree) realFree;
decltype(&HeapReAlloc) realReAlloc;
decltype(&malloc) realMalloc;
decltype(&free) realFreeC;
decltype(&realloc) realReallocC;
void Add(size_t n) { peak = std::max(peak, live += static_cast<int64_t>(n)); }
LPVOID WINAPI Alloc(HANDLE h, DWORD f, SIZE_T n) {
    LPVOID p = realAlloc(h, f, n);
    if (p != nullptr) Add(HeapSize(h, 0, p));
    return p;
}
BOOL WINAPI Free(HANDLE h, DWORD f, LPVOID p) {
    if (p != nullptr) live -= static_cast<int64_t>(HeapSize(h, 0, p));
    return realFree(h, f, p);
}
LPVOID WINAPI ReAlloc(HANDLE h, DWORD f, LPVOID p, SIZE_T n) {
    const size_t before = p != nullptr ? HeapSize(h, 0, p) : 0;
    LPVOID q = realReAlloc(h, f, p, n);
    if (q != nullptr) {
        live -= static_cast<int64_t>(before);
        Add(HeapSize(h, 0, q));
    }
    return q;
}
// The C runtime's blocks come from the process heap too.
void* Malloc(size_t n) {
    void* p = realMalloc(n);
    if (p != nullptr) Add(_msize(p));
    return p;
}
void FreeC(void* p) {
    if (p != nullptr) live -= static_cast<int64_t>(_msize(p));
    realFreeC(p);
}
void* ReallocC(void* p, size_t n) {
    const size_t before = p != nullptr ? _msize(p) : 0;
    void* q = realReallocC(p, n);
    if (q != nullptr || n == 0) live -= static_cast<int64_t>(before);
    if (q != nullptr) Add(_msize(q));
    return q;
}
}  // namespace heap

struct Figures {
    double median;
    double worst;
};

Figures Summarise(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.back()};
}

}  // namespace

int wmain() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring small = std::wstring(temp) + L"qz410bench192.bmp";
    const std::wstring large = std::wstring(temp) + L"qz410bench6000.bmp";
    const std::wstring photo = std::wstring(temp) + L"qz410bench6000.jpg";
    const std::wstring photoCopy = std::wstring(temp) + L"qz410bench6000b.jpg";
    if (!WritePicture(small, 192, 192) || !WritePicture(large, 6000, 4000) || !WriteJpeg(photo, 6000, 4000) ||
        !CopyFileW(photo.c_str(), photoCopy.c_str(), FALSE)) {
        std::printf("cannot write the pictures\n");
        return 1;
    }

    struct Case {
        const char* name;
        const std::wstring* path;
    } cases[] = {{"192 x 192 file", &small},
                 {"6000 x 4000 file", &large},
                 {"6000 x 4000 JPEG", &photo},
                 {"built-in picture", nullptr}};

    std::printf("Color correction page, worst-case settings (unsharp mask radius 30, amount 12, threshold 0;\n"
                "sharpness 7; every tone field non-zero); wall-clock ms, median / worst of the runs, and the\n"
                "page thread's CPU ms per run (without the Wine and X servers' share)\n");
    // The codec libraries load once per process: not the page's cost.
    DecoderMilliseconds(photo);
    double smallRepaint = 0;
    for (const Case& c : cases) {
        qz410host::HostSession session;
        if (!session.Load(L"QZ410UI.DLL")) return 1;
        std::vector<std::unique_ptr<qz410test::ImportPatch>> patches;
        auto patch = [&](const char* dll, const char* name, void* replacement) {
            patches.emplace_back(new qz410test::ImportPatch(session.Module(), dll, name, replacement));
            return patches.back()->Original<void*>();
        };
        heap::realAlloc = reinterpret_cast<decltype(heap::realAlloc)>(patch("kernel32.dll", "HeapAlloc", reinterpret_cast<void*>(&heap::Alloc)));
        heap::realFree = reinterpret_cast<decltype(heap::realFree)>(patch("kernel32.dll", "HeapFree", reinterpret_cast<void*>(&heap::Free)));
        heap::realReAlloc = reinterpret_cast<decltype(heap::realReAlloc)>(patch("kernel32.dll", "HeapReAlloc", reinterpret_cast<void*>(&heap::ReAlloc)));
        heap::realMalloc = reinterpret_cast<decltype(heap::realMalloc)>(patch("msvcrt.dll", "malloc", reinterpret_cast<void*>(&heap::Malloc)));
        heap::realFreeC = reinterpret_cast<decltype(heap::realFreeC)>(patch("msvcrt.dll", "free", reinterpret_cast<void*>(&heap::FreeC)));
        heap::realReallocC = reinterpret_cast<decltype(heap::realReallocC)>(patch("msvcrt.dll", "realloc", reinterpret_cast<void*>(&heap::ReallocC)));
        heap::live = heap::peak = 0;

        auto* live = reinterpret_cast<qz410::PrivateDevMode*>(session.PrivateDevMode());
        live->settings = qz410::ColorSettings{5, 4, 6, 3, -3, 2, 7, 0, 1, 12, 30, 0, 0};
        std::memset(live->previewImagePath, 0, sizeof live->previewImagePath);
        if (session.OpenModeless(qz410host::HostSession::Sheet::Document, session.FirstPluginPageIndex()) ==
            nullptr) {
            return 1;
        }
        HWND page = session.ShowPage(session.FirstPluginPageIndex());
        session.Pump();
        UpdateWindow(page);

        // The first repaint with the picture: for a JPEG, the one that
        // decodes it. The fastest of five, between two copies of the file,
        // each of which the page decodes anew.
        const RECT preview{5, 5, 197, 197};
        // Most printing applications have COM on their window thread
        // already (OLE's clipboard and drag and drop need it); without it the
        // page sets it up and takes it down again around each decoding.
        double first[2] = {1e9, 1e9};
        int64_t firstPeak = 0;
        int decodings = 0;
        for (int withCom = 0; withCom < 2; ++withCom) {
            if (withCom) CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            for (int run = 0; run < (c.path == &photo ? 5 : 1); ++run) {
                const std::wstring& path = decodings++ % 2 == 0 || c.path != &photo ? *c.path : photoCopy;
                std::memset(live->previewImagePath, 0, sizeof live->previewImagePath);
                if (c.path != nullptr) std::memcpy(live->previewImagePath, path.c_str(), path.size() * 2);
                const int64_t before = heap::peak = heap::live;
                InvalidateRect(page, &preview, FALSE);
                const LARGE_INTEGER firstStart = Now();
                UpdateWindow(page);
                first[withCom] = std::min(first[withCom], Milliseconds(firstStart, Now()));
                firstPeak = std::max(firstPeak, heap::peak - before);
            }
            if (withCom) CoUninitialize();
        }

        std::vector<double> paints;
        const int paintRuns = 200;
        const double paintCpuStart = ThreadCpuMilliseconds();
        for (int run = 0; run < paintRuns; ++run) {
            InvalidateRect(page, &preview, FALSE);
            const LARGE_INTEGER start = Now();
            UpdateWindow(page);  // one WM_PAINT: file read, corrections, drawing
            paints.push_back(Milliseconds(start, Now()));
        }

        const double paintCpu = (ThreadCpuMilliseconds() - paintCpuStart) / paintRuns;

        HWND slider = GetDlgItem(page, IDC_BRIGHTNESS);
        std::vector<double> drags;
        const int dragRuns = 20;
        const double dragCpuStart = ThreadCpuMilliseconds();
        for (int run = 0; run < dragRuns; ++run) {
            const LARGE_INTEGER start = Now();
            for (int step = 0; step < 30; ++step) {
                const int position = (run & 1) ? 10 - (step * 20) / 29 : -10 + (step * 20) / 29;
                SendMessageW(slider, TBM_SETPOS, TRUE, position);
                SendMessageW(page, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, position), reinterpret_cast<LPARAM>(slider));
                UpdateWindow(page);
            }
            drags.push_back(Milliseconds(start, Now()));
        }
        const double dragCpu = (ThreadCpuMilliseconds() - dragCpuStart) / dragRuns;
        const Figures paint = Summarise(paints);
        const Figures drag = Summarise(drags);
        std::printf("%-17s  repaint %7.3f / %7.3f (cpu %6.3f)   30-step drag %8.2f / %8.2f (cpu %7.2f)\n", c.name,
                    paint.median, paint.worst, paintCpu, drag.median, drag.worst, dragCpu);
        if (c.path == &small) smallRepaint = paint.median;
        if (c.path == &photo) {
            double decoder = 1e9;
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            for (int run = 0; run < 5; ++run) decoder = std::min(decoder, DecoderMilliseconds(photo));
            CoUninitialize();
            std::printf("%-17s  first repaint %.1f ms, the system decoder alone %.1f ms (the DLL's share %.1f ms);\n"
                        "%-17s  on a thread without COM %.1f ms; later repaints %.2f x the 192 x 192 file's;\n"
                        "%-17s  the DLL's heap peak while decoding %lld bytes\n",
                        "", first[1], decoder, first[1] - decoder, "", first[0], paint.median / smallRepaint, "",
                        static_cast<long long>(firstPeak));
        }
        session.Press(PSBTN_CANCEL);
    }
    DeleteFileW(small.c_str());
    DeleteFileW(large.c_str());
    DeleteFileW(photo.c_str());
    DeleteFileW(photoCopy.c_str());
    return 0;
}
