#include "echo_server.h"

#include <objbase.h>

#include <chrono>
#include <string>
#include <vector>

#include "measures.h"
#include "opc_data_callback.h"
#include "win/com_object.h"
#include "win/com_ptr.h"
#include "win/registry.h"

namespace porvex::bench {
namespace {

using win::ComPtr;

// {9E23AD05-DA44-440C-95D6-D85B376064EB} and {9E23AD06-...}: the echoes of this benchmark.
constexpr CLSID kStaEcho = {
    0x9E23AD05, 0xDA44, 0x440C, {0x95, 0xD6, 0xD8, 0x5B, 0x37, 0x60, 0x64, 0xEB}};
constexpr CLSID kMtaEcho = {
    0x9E23AD06, 0xDA44, 0x440C, {0x95, 0xD6, 0xD8, 0x5B, 0x37, 0x60, 0x64, 0xEB}};

class TEcho final : public TIgnoringDataCallback {};

class TEchoFactory final : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) noexcept override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *object = this;
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return 2; }
    ULONG STDMETHODCALLTYPE Release() noexcept override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid,
                                             void** object) noexcept override {
        *object = nullptr;
        if (outer) {
            return CLASS_E_NOAGGREGATION;
        }
        win::ComPtr<TEcho> echo(new TEcho());
        return echo->QueryInterface(riid, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) noexcept override { return S_OK; }
};

std::wstring Key(const CLSID& clsid) { return L"CLSID\\" + win::guid_text(clsid); }

}  // namespace

const CLSID& EchoClsid(bool sta) { return sta ? kStaEcho : kMtaEcho; }

bool RegisterEchoServers() {
    const std::wstring program = L"\"" + win::module_path(nullptr) + L"\" -Echo ";
    for (bool sta : {true, false}) {
        const std::wstring key = Key(EchoClsid(sta));
        if (win::write_key_default(HKEY_CLASSES_ROOT, key, L"OPC benchmark echo") !=
                ERROR_SUCCESS ||
            win::write_key_default(HKEY_CLASSES_ROOT, key + L"\\LocalServer32",
                                   program + (sta ? L"sta" : L"mta")) != ERROR_SUCCESS) {
            return false;
        }
    }
    return true;
}

void UnregisterEchoServers() {
    for (bool sta : {true, false}) {
        win::delete_key(HKEY_CLASSES_ROOT, Key(EchoClsid(sta)) + L"\\LocalServer32");
        win::delete_key(HKEY_CLASSES_ROOT, Key(EchoClsid(sta)));
    }
}

int ServeEcho(bool sta) {
    CoInitializeEx(nullptr, sta ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED);
    const DWORD thread = GetCurrentThreadId();
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    win::ObjectCount::set_on_last_release([thread, done, sta] {
        if (sta) {
            PostThreadMessageW(thread, WM_QUIT, 0, 0);
        } else {
            SetEvent(done);
        }
    });
    TEchoFactory factory;
    DWORD cookie = 0;
    CoRegisterClassObject(EchoClsid(sta), &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                          &cookie);
    if (sta) {
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            DispatchMessageW(&msg);
        }
    } else {
        WaitForSingleObject(done, INFINITE);
    }
    CoRevokeClassObject(cookie);
    CloseHandle(done);
    CoUninitialize();
    return 0;
}

TApartmentCost MeasureApartmentCost(int calls) {
    TApartmentCost cost;
    win::ComPtr<IOPCDataCallback> echoes[2];
    for (int i = 0; i < 2; ++i) {
        if (FAILED(CoCreateInstance(EchoClsid(i == 0), nullptr, CLSCTX_LOCAL_SERVER,
                                    IID_IOPCDataCallback,
                                    reinterpret_cast<void**>(echoes[i].put())))) {
            return cost;
        }
        echoes[i]->OnCancelComplete(0, 0);
    }
    std::vector<double> times[2];
    constexpr int kBlock = 100;
    for (int done = 0; done < calls; done += kBlock) {
        for (int i = 0; i < 2; ++i) {
            for (int c = 0; c < kBlock; ++c) {
                const auto start = std::chrono::steady_clock::now();
                echoes[i]->OnCancelComplete(0, 0);
                times[i].push_back(
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                        .count());
            }
        }
    }
    cost.sta_seconds = Median(times[0]);
    cost.mta_seconds = Median(times[1]);
    return cost;
}

}  // namespace porvex::bench
