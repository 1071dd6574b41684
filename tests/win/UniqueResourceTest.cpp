// The resource owner's clean-up must leave the thread's last error as the
// failing call set it, even when the clean-up itself fails.
#include <gtest/gtest.h>

#include "plugin/UniqueResource.h"

namespace {

using qz410::UniqueFile;
using qz410::UniqueHeapBlock;

TEST(UniqueResource, ReleasingKeepsTheLastErrorEvenWhenTheCloseFails) {
    // A handle value that CloseHandle rejects (ERROR_INVALID_HANDLE).
    {
        UniqueFile bogus(reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x7FFC)));
        SetLastError(ERROR_FILE_NOT_FOUND);
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(UniqueResource, ClosesOnEveryWayOutAndHandsOverOwnership) {
    wchar_t path[MAX_PATH];
    ASSERT_NE(GetTempPathW(MAX_PATH, path), 0u);
    wcscat(path, L"qz410-unique-resource.tmp");
    {
        UniqueFile file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file);
        UniqueFile moved(std::move(file));
        EXPECT_FALSE(file);
        EXPECT_TRUE(moved);
        // Opened without sharing: a second open fails while we hold it.
        EXPECT_EQ(CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    }
    // Closed at the end of the scope: the file can be deleted now.
    EXPECT_TRUE(DeleteFileW(path));

    UniqueHeapBlock block(HeapAlloc(GetProcessHeap(), 0, 64));
    ASSERT_TRUE(block);
    void* raw = block.Release();
    EXPECT_FALSE(block);
    EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, raw));
}

}  // namespace
