// The "Smear Control" option as the host meets it: the count request, the
// fill request into an array of that many items from the host's heap, and
// the callback installed in the host's record.
#include <cstring>
#include <set>
#include <string>

#include "TestHost.h"
#include "settings/PrivateDevMode.h"
#include "tests/win/ImportPatch.h"

namespace qz410test {
namespace {

constexpr DWORD kSentinelError = 0xC0DE;
constexpr unsigned char kGarbage = 0xCD;

LONG APIENTRY HostsOwnCallback(PCPSUICBPARAM, POEMCUIPPARAM) { return 77; }

// Watches the host heap through the DLL's imports: which blocks of it are
// alive, and failing the allocation or shrink the test names.
struct HostHeapWatch {
    static inline HANDLE heap = nullptr;
    static inline int allocations = 0;
    static inline int failAllocation = 0;  // 1-based; 0 none
    static inline bool failShrink = false;
    static inline std::set<void*> live;

    static LPVOID WINAPI Alloc(HANDLE h, DWORD flags, SIZE_T bytes) {
        if (h != heap) return HeapAlloc(h, flags, bytes);
        if (++allocations == failAllocation) return nullptr;
        void* p = HeapAlloc(h, flags, bytes);
        live.insert(p);
        return p;
    }
    static LPVOID WINAPI ReAlloc(HANDLE h, DWORD flags, LPVOID p, SIZE_T bytes) {
        if (h != heap) return HeapReAlloc(h, flags, p, bytes);
        if (failShrink) return nullptr;
        void* q = HeapReAlloc(h, flags, p, bytes);
        if (q != nullptr) {
            live.erase(p);
            live.insert(q);
        }
        return q;
    }
    static BOOL WINAPI Free(HANDLE h, DWORD flags, LPVOID p) {
        if (h == heap) live.erase(p);
        return HeapFree(h, flags, p);
    }
};

class SmearControlHost : public PluginHost {
protected:
    void SetUp() override {
        PluginHost::SetUp();
        plugin = CreatePlugin();
        ASSERT_NE(plugin, nullptr);
        heap = HeapCreate(0, 0, 0);
        ASSERT_NE(heap, nullptr);
        dm.header = {564, qz410::kPluginSignature, 1};
        dm.smearControl = 2;
    }
    void TearDown() override {
        if (heap != nullptr) HeapDestroy(heap);
        if (plugin != nullptr) plugin->Release();
        PluginHost::TearDown();
    }
    OEMCUIPPARAM Record(POPTITEM items, DWORD count) {
        OEMCUIPPARAM p{};
        p.cbSize = sizeof p;
        p.hModule = module;
        p.hOEMHeap = heap;
        p.pOEMDM = &dm;
        p.pOEMOptItems = items;
        p.cOEMOptItems = count;
        p.OEMCUIPCallback = HostsOwnCallback;
        return p;
    }
    // The host's array: from its heap, holding whatever the heap held.
    POPTITEM HostArray(DWORD count) {
        auto* items = static_cast<POPTITEM>(HeapAlloc(heap, 0, count * sizeof(OPTITEM) + 1));
        std::memset(items, kGarbage, count * sizeof(OPTITEM) + 1);
        return items;
    }
    // Count request, then fill request into an array of the count asked.
    OEMCUIPPARAM CountThenFill() {
        OEMCUIPPARAM p = Record(nullptr, 12345);
        EXPECT_EQ(plugin->CommonUIProp(OEMCUIP_DOCPROP, &p), S_OK);
        EXPECT_EQ(p.OEMCUIPCallback, HostsOwnCallback);
        p.pOEMOptItems = HostArray(p.cOEMOptItems);
        EXPECT_EQ(plugin->CommonUIProp(OEMCUIP_DOCPROP, &p), S_OK);
        return p;
    }

    IPrintOemUI* plugin = nullptr;
    HANDLE heap = nullptr;
    qz410::PrivateDevMode dm{};
};

OPTITEM Blank() {
    OPTITEM item;
    std::memset(&item, 0, sizeof item);
    item.cbSize = sizeof(OPTITEM);
    item.DMPubID = DMPUB_NONE;
    return item;
}

struct Member {
    const char* name;
    ULONG_PTR got;
    ULONG_PTR expected;
};

void ExpectMembers(std::initializer_list<Member> members) {
    for (const Member& m : members) EXPECT_EQ(m.got, m.expected) << m.name;
}

TEST_F(SmearControlHost, DocumentTreeGetsTheItemAndSixBlankOnes) {
    if (sizeof(void*) == 4) {
        EXPECT_EQ(sizeof(OPTITEM), 52u);
        EXPECT_EQ(sizeof(OPTTYPE), 32u);
        EXPECT_EQ(sizeof(OPTPARAM), 24u);
    }
    for (uint16_t stored : {uint16_t{2}, uint16_t{0xFFFF}}) {
        dm.smearControl = stored;
        const OEMCUIPPARAM p = CountThenFill();
        ASSERT_EQ(p.cOEMOptItems, 7u);
        ASSERT_NE(p.OEMCUIPCallback, HostsOwnCallback);
        ASSERT_NE(p.OEMCUIPCallback, nullptr);
        const OPTITEM& item = p.pOEMOptItems[0];
        ExpectMembers({
            {"cbSize", item.cbSize, sizeof(OPTITEM)},
            {"Level", item.Level, 1},
            {"DlgPageIdx", item.DlgPageIdx, 0},
            {"Flags", item.Flags, OPTIF_COLLAPSE},
            {"UserData", item.UserData, 0},
            {"Sel", static_cast<ULONG_PTR>(item.Sel), stored},
            {"pExtChkBox", reinterpret_cast<ULONG_PTR>(item.pExtChkBox), 0},
            {"HelpIndex", item.HelpIndex, 1},
            {"DMPubID", item.DMPubID, DMPUB_NONE},
            {"UserItemID", item.UserItemID, 0},
            {"wReserved", item.wReserved, 0},
            {"pOIExt", reinterpret_cast<ULONG_PTR>(item.pOIExt), 0},
            {"dwReserved[0]", item.dwReserved[0], 0},
            {"dwReserved[1]", item.dwReserved[1], 0},
            {"dwReserved[2]", item.dwReserved[2], 0},
        });
        ASSERT_NE(item.pName, nullptr);
        EXPECT_EQ(std::wstring(item.pName), L"Smear Control");
        EXPECT_EQ(HeapSize(heap, 0, item.pName), sizeof L"Smear Control");

        const OPTTYPE* type = item.pOptType;
        ASSERT_NE(type, nullptr);
        EXPECT_EQ(HeapSize(heap, 0, type), sizeof(OPTTYPE));
        ExpectMembers({
            {"type cbSize", type->cbSize, sizeof(OPTTYPE)},
            {"Type", type->Type, TVOT_COMBOBOX},
            {"type Flags", type->Flags, 0},
            {"Count", type->Count, 3},
            {"BegCtrlID", type->BegCtrlID, 0},
            {"Style", type->Style, 0},
            {"type wReserved", ULONG_PTR{type->wReserved[0]} | type->wReserved[1] | type->wReserved[2], 0},
            {"type dwReserved", type->dwReserved[0] | type->dwReserved[1] | type->dwReserved[2], 0},
        });
        ASSERT_NE(type->pOptParam, nullptr);
        EXPECT_EQ(HeapSize(heap, 0, type->pOptParam), 3 * sizeof(OPTPARAM));
        const wchar_t* names[] = {L"Off", L"Picture", L"Graphics"};
        for (int i = 0; i < 3; ++i) {
            const OPTPARAM& param = type->pOptParam[i];
            SCOPED_TRACE(i);
            ExpectMembers({
                {"param cbSize", param.cbSize, sizeof(OPTPARAM)},
                {"param Flags", param.Flags, 0},
                {"param Style", param.Style, 0},
                {"IconID", param.IconID, 0},
                {"lParam", static_cast<ULONG_PTR>(param.lParam), 0},
                {"param dwReserved", param.dwReserved[0] | param.dwReserved[1], 0},
            });
            EXPECT_EQ(std::wstring(param.pData), names[i]);
            // The module's own texts, not copies in the host's heap.
            MEMORY_BASIC_INFORMATION where{};
            VirtualQuery(param.pData, &where, sizeof where);
            EXPECT_EQ(where.AllocationBase, static_cast<void*>(module));
        }
        const OPTITEM blank = Blank();
        for (DWORD i = 1; i < p.cOEMOptItems; ++i)
            EXPECT_EQ(std::memcmp(&p.pOEMOptItems[i], &blank, sizeof blank), 0) << "item " << i;
        // Nothing behind the array the host handed over.
        EXPECT_EQ(reinterpret_cast<const unsigned char*>(p.pOEMOptItems + p.cOEMOptItems)[0], kGarbage);
    }
}

TEST_F(SmearControlHost, PrinterTreeRefusedModesAndEmptyArray) {
    struct Case {
        DWORD mode;
        bool fill;
        DWORD count;
        HRESULT result;
        DWORD lastError;        // 0: left as it was
        DWORD countAfter;
        bool ignoreCallback;    // the printer tree's callback installed
    };
    const Case cases[] = {
        {OEMCUIP_PRNPROP, false, 9, S_OK, 0, 0, false},
        {OEMCUIP_PRNPROP, true, 4, S_OK, 0, 4, true},
        {OEMCUIP_DOCPROP, true, 0, S_OK, 0, 0, false},
        {0, false, 9, E_FAIL, ERROR_INVALID_PARAMETER, 9, false},
        {0, true, 4, E_FAIL, ERROR_INVALID_PARAMETER, 4, false},
        {3, false, 9, E_FAIL, ERROR_INVALID_PARAMETER, 9, false},
        {3, true, 4, E_FAIL, ERROR_INVALID_PARAMETER, 4, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << (c.fill ? " fill " : " count ") << c.count);
        POPTITEM items = HostArray(4);
        OEMCUIPPARAM p = Record(c.fill ? items : nullptr, c.count);
        const OEMCUIPPARAM before = p;
        SetLastError(kSentinelError);
        EXPECT_EQ(plugin->CommonUIProp(c.mode, &p), c.result);
        EXPECT_EQ(GetLastError(), c.lastError != 0 ? c.lastError : kSentinelError);
        EXPECT_EQ(p.cOEMOptItems, c.countAfter);
        if (c.ignoreCallback) {
            ASSERT_NE(p.OEMCUIPCallback, HostsOwnCallback);
            for (WORD reason = 0; reason <= 12; ++reason) {
                CPSUICBPARAM cb{};
                cb.cbSize = sizeof cb;
                cb.Reason = reason;
                EXPECT_EQ(p.OEMCUIPCallback(&cb, &p), CPSUICB_ACTION_NONE);
            }
            p.OEMCUIPCallback = before.OEMCUIPCallback;
        }
        p.cOEMOptItems = before.cOEMOptItems;
        EXPECT_EQ(std::memcmp(&p, &before, sizeof p), 0) << "other members of the record changed";
        for (size_t i = 0; i < 4 * sizeof(OPTITEM); ++i)
            ASSERT_EQ(reinterpret_cast<unsigned char*>(items)[i], kGarbage) << "item byte " << i;
        EXPECT_EQ(dm.smearControl, 2);
    }
    SetLastError(kSentinelError);
    EXPECT_EQ(plugin->CommonUIProp(OEMCUIP_DOCPROP, nullptr), E_FAIL);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(SmearControlHost, CallbackCarriesTheChoiceOnlyOnApplyAndSetsTheListOnActivation) {
    struct Case {
        WORD reason;
        uint16_t stored;
        LONG sel;
        DWORD flags;
        LONG result;
        uint16_t storedAfter;
        LONG selAfter;
        DWORD flagsAfter;
    };
    const DWORD collapse = OPTIF_COLLAPSE, changed = OPTIF_CHANGED;
    const Case cases[] = {
        {CPSUICB_REASON_SETACTIVE, 0, 2, collapse, CPSUICB_ACTION_OPTIF_CHANGED, 0, 0, collapse | changed},
        {CPSUICB_REASON_SETACTIVE, 0xFFFF, 1, 0x40, CPSUICB_ACTION_OPTIF_CHANGED, 0xFFFF, 65535, 0x40 | changed},
        {CPSUICB_REASON_APPLYNOW, 0, 2, collapse, CPSUICB_ACTION_NONE, 2, 2, collapse},
        {CPSUICB_REASON_APPLYNOW, 0, 65537, collapse, CPSUICB_ACTION_NONE, 1, 65537, collapse},
        {CPSUICB_REASON_APPLYNOW, 1, 7, collapse, CPSUICB_ACTION_NONE, 7, 7, collapse},
        {CPSUICB_REASON_SEL_CHANGED, 1, 2, collapse, CPSUICB_ACTION_NONE, 1, 2, collapse},
        {CPSUICB_REASON_KILLACTIVE, 1, 2, collapse, CPSUICB_ACTION_NONE, 1, 2, collapse},
        {CPSUICB_REASON_OPTITEM_SETFOCUS, 1, 2, collapse, CPSUICB_ACTION_NONE, 1, 2, collapse},
        {99, 1, 2, collapse, CPSUICB_ACTION_NONE, 1, 2, collapse},
    };
    OEMCUIPPARAM p = CountThenFill();
    ASSERT_NE(p.OEMCUIPCallback, HostsOwnCallback);
    OPTITEM& first = p.pOEMOptItems[0];
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "reason " << c.reason << " stored " << c.stored << " Sel " << c.sel);
        dm.smearControl = c.stored;
        first.Sel = c.sel;
        first.Flags = c.flags;
        p.pOEMOptItems[1].Sel = 5;
        CPSUICBPARAM cb{};
        cb.cbSize = sizeof cb;
        cb.Reason = c.reason;
        cb.pOptItem = p.pOEMOptItems;
        cb.cOptItem = static_cast<WORD>(p.cOEMOptItems);
        cb.pCurItem = &p.pOEMOptItems[1];  // the first item is used whatever the host names
        EXPECT_EQ(p.OEMCUIPCallback(&cb, &p), c.result);
        EXPECT_EQ(dm.smearControl, c.storedAfter);
        EXPECT_EQ(first.Sel, c.selAfter);
        EXPECT_EQ(first.Flags, c.flagsAfter);
        EXPECT_EQ(p.pOEMOptItems[1].Sel, 5);
    }
    // A record without items gives the callback nothing to work on.
    dm.smearControl = 1;
    OEMCUIPPARAM empty = Record(nullptr, 0);
    CPSUICBPARAM cb{};
    cb.cbSize = sizeof cb;
    cb.Reason = CPSUICB_REASON_APPLYNOW;
    EXPECT_EQ(p.OEMCUIPCallback(&cb, &empty), CPSUICB_ACTION_NONE);
    EXPECT_EQ(dm.smearControl, 1);
}

TEST_F(SmearControlHost, AnItemStillComesWhenTheHostHeapRunsDry) {
    HostHeapWatch::heap = heap;
    ImportPatch alloc(module, "kernel32.dll", "HeapAlloc", reinterpret_cast<void*>(HostHeapWatch::Alloc));
    ImportPatch reAlloc(module, "kernel32.dll", "HeapReAlloc", reinterpret_cast<void*>(HostHeapWatch::ReAlloc));
    ImportPatch free(module, "kernel32.dll", "HeapFree", reinterpret_cast<void*>(HostHeapWatch::Free));
    ASSERT_TRUE(alloc && reAlloc && free);
    struct Case {
        int failAllocation;  // 1 the name, 2 the option type, 3 its entries
        bool failShrink;
        bool ownModule;      // false: a module without the string
        const wchar_t* name;
        SIZE_T nameBlock;
        bool typed;
    };
    const Case cases[] = {
        {0, false, true, L"Smear Control", 28, true},
        {0, true, true, L"Smear Control", 520, true},
        {1, false, true, nullptr, 0, true},
        {2, false, true, L"Smear Control", 28, false},
        {3, false, true, L"Smear Control", 28, false},
        {0, false, false, nullptr, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "failing allocation " << c.failAllocation << " shrink " << c.failShrink
                                        << " own module " << c.ownModule);
        HostHeapWatch::allocations = 0;
        HostHeapWatch::failAllocation = c.failAllocation;
        HostHeapWatch::failShrink = c.failShrink;
        HostHeapWatch::live.clear();
        POPTITEM items = HostArray(7);
        OEMCUIPPARAM p = Record(items, 7);
        if (!c.ownModule) p.hModule = GetModuleHandleW(nullptr);
        EXPECT_EQ(plugin->CommonUIProp(OEMCUIP_DOCPROP, &p), S_OK);
        std::set<void*> handedOver;
        if (c.name == nullptr) {
            EXPECT_EQ(items[0].pName, nullptr);
        } else {
            ASSERT_NE(items[0].pName, nullptr);
            EXPECT_EQ(std::wstring(items[0].pName), c.name);
            EXPECT_EQ(HeapSize(heap, 0, items[0].pName), c.nameBlock);
            handedOver.insert(items[0].pName);
        }
        EXPECT_EQ(items[0].pOptType != nullptr, c.typed);
        if (items[0].pOptType != nullptr) {
            handedOver.insert(items[0].pOptType);
            handedOver.insert(items[0].pOptType->pOptParam);
        }
        // Whatever was taken from the host's heap is in the item, nothing more.
        EXPECT_EQ(HostHeapWatch::live, handedOver);
        EXPECT_EQ(items[0].Sel, 2);
        EXPECT_EQ(items[0].Level, 1);
    }
    HostHeapWatch::heap = nullptr;
}

}  // namespace
}  // namespace qz410test
