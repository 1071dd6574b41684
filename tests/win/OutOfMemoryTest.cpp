// A host whose memory is used up must get answers, not lose its process: the
// DLL neither throws nor aborts when an allocation fails. Also not in a host
// that has the toolchain's shared libgcc loaded, with which the DLL's start-up
// code registers its unwind tables, so that any exception inside the DLL
// would find none and abort. Memory is process-wide, so each such host is a
// child process (oom_host.exe, beside this program).
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

namespace {

struct HostRun {
    DWORD exitCode = 0;
    std::string output;
    std::map<std::string, unsigned long long> answers;
};

HostRun RunOutOfMemoryHost(const std::wstring& sharedRuntime) {
    HostRun run;
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder(self, length);
    folder.resize(folder.find_last_of(L'\\') + 1);
    std::wstring commandLine = L"\"" + folder + L"oom_host.exe\"";
    if (!sharedRuntime.empty()) commandLine += L" " + sharedRuntime;

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        ADD_FAILURE() << "CreatePipe failed: " << GetLastError();
        return run;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        folder.c_str(), &startup, &process);
    CloseHandle(writeEnd);
    if (!started) {
        ADD_FAILURE() << "oom_host.exe did not start: " << GetLastError();
        CloseHandle(readEnd);
        return run;
    }
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got != 0) run.output.append(buffer, got);
    CloseHandle(readEnd);
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    std::istringstream lines(run.output);
    std::string name, value;
    while (lines >> name >> value) run.answers[name] = std::stoull(value, nullptr, 16);
    return run;
}

TEST(OutOfMemory, TheHostGetsAnswersWithAndWithoutTheSharedLibgcc) {
    const unsigned long long lpcn = 0x4E43504C;
    const std::pair<const char*, unsigned long long> expected[] = {
        // The host really had no memory left (x64: none that the DLL can get).
        {"heapEmpty", 1},
        {"mallocEmpty", 1},
        // Creation fails as it must; ppv is not touched.
        {"DllGetClassObject", static_cast<ULONG>(E_OUTOFMEMORY)},
        {"DllGetClassObject.ppvUntouched", 1},
        {"CreateInstance", static_cast<ULONG>(E_OUTOFMEMORY)},
        // Objects made before go on working: the device-mode requests need
        // no memory of their own.
        {"DevMode.size", S_OK},
        {"DevMode.size.cbBufSize", 564},
        {"DevMode.default", S_OK},
        {"DevMode.merge", S_OK},
        {"DevMode.header", lpcn},
        {"GetInfo", S_OK},
        {"GetInfo.signature", lpcn},
        // Nothing half-made is left behind.
        {"Release.plugin", 0},
        {"Release.factory", 0},
        {"DllCanUnloadNow", S_OK},
    };
    for (const std::wstring& runtime : {std::wstring(), std::wstring(QZ410_SHARED_LIBGCC)}) {
        SCOPED_TRACE(runtime.empty() ? "plain host" : "host with the shared libgcc loaded");
        const HostRun run = RunOutOfMemoryHost(runtime);
        // 3 is abort(): an exception the DLL could not handle.
        ASSERT_EQ(run.exitCode, 0u) << run.output;
        for (const auto& [name, value] : expected) {
            const auto answer = run.answers.find(name);
            ASSERT_NE(answer, run.answers.end()) << name << " missing in:\n" << run.output;
            EXPECT_EQ(answer->second, value) << name;
        }
    }
}

}  // namespace
