// How long the Color correction page takes to repaint its preview and to
// follow a slider drag, in the real property sheet of the stand-in host, at
// the slowest settings the sliders allow. Not a test: run by hand under Wine,
//   tools/wine-run.sh --prefix build/wineprefix build/win32/bin/page_bench.exe
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "imaging/Dib.h"
#include "resources/resource.h"
#include "settings/PrivateDevMode.h"
#include "tools/qz410host/HostSession.h"

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
    if (!WritePicture(small, 192, 192) || !WritePicture(large, 6000, 4000)) {
        std::printf("cannot write the pictures\n");
        return 1;
    }

    struct Case {
        const char* name;
        const std::wstring* path;
    } cases[] = {{"192 x 192 file", &small}, {"6000 x 4000 file", &large}, {"built-in picture", nullptr}};

    std::printf("Color correction page, worst-case settings (unsharp mask radius 30, amount 12, threshold 0;\n"
                "sharpness 7; every tone field non-zero); wall-clock ms, median / worst of the runs, and the\n"
                "page thread's CPU ms per run (without the Wine and X servers' share)\n");
    for (const Case& c : cases) {
        qz410host::HostSession session;
        if (!session.Load(L"QZ410UI.DLL")) return 1;
        auto* live = reinterpret_cast<qz410::PrivateDevMode*>(session.PrivateDevMode());
        live->settings = qz410::ColorSettings{5, 4, 6, 3, -3, 2, 7, 0, 1, 12, 30, 0, 0};
        std::memset(live->previewImagePath, 0, sizeof live->previewImagePath);
        if (c.path != nullptr) std::memcpy(live->previewImagePath, c.path->c_str(), c.path->size() * 2);
        if (session.OpenModeless(qz410host::HostSession::Sheet::Document, session.FirstPluginPageIndex()) ==
            nullptr) {
            return 1;
        }
        HWND page = session.ShowPage(session.FirstPluginPageIndex());
        session.Pump();
        UpdateWindow(page);

        const RECT preview{5, 5, 197, 197};
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
        session.Press(PSBTN_CANCEL);
    }
    DeleteFileW(small.c_str());
    DeleteFileW(large.c_str());
    return 0;
}
