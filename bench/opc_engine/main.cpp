// Benchmark of the OPC DA engine at the door server's largest scale: 56,000 items in 8,000
// branches, polled by the engine. It prints the time to build and browse the namespace, to
// add every item to one group, an update tick with nothing changed (and the heap
// allocations it made) and a tick in which 10,000 items changed.
//
// Allocations are counted by replacing the global operator new, which every allocation of
// the engine's own containers and objects goes through.
#include <windows.h>

#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "opc/com/errors.h"
#include "opc/group/group_impl.h"
#include "opc/server/item_server.h"
#include "opc/server_object/server_impl.h"
#include "opc_data_callback.h"
#include "win/com_object.h"
#include "win/com_ptr.h"

namespace {

std::atomic<unsigned long> allocations{0};

}  // namespace

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace porvex::opc;

constexpr int kBranches = 8000;
constexpr int kPointsPerBranch = 7;
constexpr int kItems = kBranches * kPointsPerBranch;
constexpr int kChanged = 10000;

const wchar_t* const kPoints[kPointsPerBranch] = {
    L"门禁状态",   L"遥控开门", L"最后一个刷卡人卡片号码", L"非法刷卡", L"防拆报警",
    L"门开关状态", L"门磁报警"};

std::wstring BranchName(int b) {
    wchar_t name[64];
    std::swprintf(name, 64, L"门%05d(区域%d)", b, b % 40);
    return name;
}

// A synthetic item server: every item is a 32-bit value the engine polls.
class TBenchItemServer final : public TOpcItemServer {
  public:
    TBenchItemServer() {
        ids_.reserve(kItems);
        for (int b = 0; b < kBranches; ++b) {
            const std::wstring branch = BranchName(b);
            for (const wchar_t* point : kPoints) {
                ids_.push_back(branch + L"." + point);
            }
        }
        values_.assign(kItems, 0);
        index_.reserve(kItems);
        for (int i = 0; i < kItems; ++i) {
            index_.emplace(ids_[static_cast<std::size_t>(i)], i);
        }
    }
    ~TBenchItemServer() override { DisconnectClients(); }

    const std::vector<std::wstring>& Ids() const { return ids_; }
    void Change(int item) { ++values_[static_cast<std::size_t>(item)]; }

    TServerOptions Options() override { return {soHierarchical}; }
    TItemHandle GetItemInfo(const std::wstring& itemId, std::wstring&, TAccessRights&) override {
        auto found = index_.find(itemId);
        if (found == index_.end()) {
            throw EOpcError(OPC_E_INVALIDITEMID);
        }
        return found->second;
    }
    void LoadNamespace(TItemIdList& root) override {
        for (int b = 0; b < kBranches; ++b) {
            TItemIdList& branch = root.NewBranch(BranchName(b));
            for (const wchar_t* point : kPoints) {
                branch.AddItem(point, kAccessRead, VT_I4);
            }
        }
    }
    void GetItemValue(TItemHandle handle, WORD&, porvex::win::Variant& value) override {
        VARIANT& v = value.value();
        v.vt = VT_I4;
        v.lVal = values_[static_cast<std::size_t>(handle)];
    }
    void SetItemValue(TItemHandle, const VARIANT&) override {}

  private:
    std::vector<std::wstring> ids_;
    std::vector<LONG> values_;
    std::unordered_map<std::wstring, int> index_;
};

// Counts what it is sent and keeps nothing.
class TCountingCallback final : public porvex::bench::TIgnoringDataCallback {
  public:
    static porvex::win::ComPtr<TCountingCallback> Create() {
        return porvex::win::ComPtr<TCountingCallback>(new TCountingCallback());
    }
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD dwCount,
                                           OPCHANDLE*, VARIANT*, WORD*, FILETIME*,
                                           HRESULT*) noexcept override {
        ++calls;
        values += dwCount;
        return S_OK;
    }
    unsigned long calls = 0;
    unsigned long values = 0;
};

class TStopwatch {
  public:
    TStopwatch() {
        QueryPerformanceFrequency(&frequency_);
        QueryPerformanceCounter(&start_);
    }
    double Milliseconds() const {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return 1000.0 * static_cast<double>(now.QuadPart - start_.QuadPart) /
               static_cast<double>(frequency_.QuadPart);
    }

  private:
    LARGE_INTEGER frequency_;
    LARGE_INTEGER start_;
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int Run() {
    TBenchItemServer server;
    porvex::win::ComPtr<IOPCServer> client;
    if (FAILED(CreateServerObject(IID_IOPCServer, reinterpret_cast<void**>(client.put())))) {
        std::printf("no server object\n");
        return 1;
    }
    porvex::win::ComPtr<IOPCBrowseServerAddressSpace> browse;
    client.query(browse);

    // The namespace, built on the first browse, then listed flat.
    TStopwatch build;
    server.ReloadNamespace(false);
    const double build_ms = build.Milliseconds();
    TStopwatch flat;
    porvex::win::ComPtr<IEnumString> names;
    browse->BrowseOPCItemIDs(OPC_FLAT, L"", VT_EMPTY, 0, names.put());
    std::size_t listed = 0;
    std::vector<LPOLESTR> batch(1000);
    ULONG fetched = 0;
    while (names->Next(static_cast<ULONG>(batch.size()), batch.data(), &fetched) == S_OK ||
           fetched > 0) {
        for (ULONG i = 0; i < fetched; ++i) {
            CoTaskMemFree(batch[i]);
        }
        listed += fetched;
        if (fetched < batch.size()) {
            break;
        }
    }
    const double flat_ms = flat.Milliseconds();

    // One group, its timer far away: the ticks below are run one at a time.
    OPCHANDLE group_handle = 0;
    DWORD revised = 0;
    porvex::win::ComPtr<IOPCItemMgt> items;
    client->AddGroup(L"all", TRUE, 3600000, 1, nullptr, nullptr, 0, &group_handle, &revised,
                     IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(items.put()));
    std::vector<OPCITEMDEF> defs(kItems);
    for (int i = 0; i < kItems; ++i) {
        defs[static_cast<std::size_t>(i)] = OPCITEMDEF{};
        defs[static_cast<std::size_t>(i)].szItemID =
            const_cast<LPWSTR>(server.Ids()[static_cast<std::size_t>(i)].c_str());
        defs[static_cast<std::size_t>(i)].bActive = TRUE;
        defs[static_cast<std::size_t>(i)].hClient = static_cast<OPCHANDLE>(i + 1);
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    TStopwatch add;
    const HRESULT added = items->AddItems(kItems, defs.data(), &results, &errors);
    const double add_ms = add.Milliseconds();
    CoTaskMemFree(results);
    CoTaskMemFree(errors);

    auto callback = TCountingCallback::Create();
    porvex::win::ComPtr<IConnectionPointContainer> container;
    items.query(container);
    porvex::win::ComPtr<IConnectionPoint> point;
    container->FindConnectionPoint(IID_IOPCDataCallback, point.put());
    DWORD cookie = 0;
    point->Advise(callback->identity(), &cookie);

    TGroupImpl* group = TGroupImpl::Find(server, group_handle);
    TStopwatch first;
    group->Tick();  // reports every newly added item
    const double first_ms = first.Milliseconds();
    const unsigned long first_values = callback->values;

    std::vector<double> unchanged_ms;
    unchanged_ms.reserve(21);
    unsigned long most_allocations = 0;
    const unsigned long calls_before = callback->calls;
    for (int run = 0; run < 21; ++run) {
        const unsigned long before = allocations.load();
        TStopwatch tick;
        group->Tick();
        unchanged_ms.push_back(tick.Milliseconds());
        most_allocations = std::max(most_allocations, allocations.load() - before);
    }
    const unsigned long unchanged_calls = callback->calls - calls_before;

    for (int i = 0; i < kChanged; ++i) {
        server.Change((i * 5) % kItems);
    }
    callback->calls = 0;
    callback->values = 0;
    TStopwatch changed;
    group->Tick();
    const double changed_ms = changed.Milliseconds();

    std::printf("OPC DA engine, %d items in %d branches, in-process\n", kItems, kBranches);
    std::printf("  namespace build            %8.1f ms\n", build_ms);
    std::printf("  flat browse of %zu IDs   %8.1f ms\n", listed, flat_ms);
    std::printf("  AddItems of %d (active)  %8.1f ms   result 0x%08lX   goal < 1000 ms\n", kItems,
                add_ms, static_cast<unsigned long>(added));
    std::printf("  first tick (all reported)  %8.1f ms   %lu values in one call\n", first_ms,
                first_values);
    std::printf(
        "  unchanged tick (21 runs)   %8.2f ms median, %.2f min, %.2f max   %lu "
        "allocations   %lu calls   goal < 10 ms, 0 allocations\n",
        Median(unchanged_ms), *std::min_element(unchanged_ms.begin(), unchanged_ms.end()),
        *std::max_element(unchanged_ms.begin(), unchanged_ms.end()), most_allocations,
        unchanged_calls);
    std::printf(
        "  tick with %d changed    %8.1f ms   %lu OnDataChange call(s), %lu values   "
        "goal: one call\n",
        kChanged, changed_ms, callback->calls, callback->values);
    point->Unadvise(cookie);
    return 0;
}

}  // namespace

int main() {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return 2;
    }
    const int result = Run();
    CoUninitialize();
    return result;
}
