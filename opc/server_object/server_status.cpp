// IOPCServer::GetStatus, with the program's version from its version resource.
#include <memory>
#include <vector>

#include "opc/com/boundary.h"
#include "opc/com/call_args.h"
#include "opc/server/item_server.h"
#include "opc/server_object/server_impl.h"
#include "win/task_memory.h"

namespace porvex::opc {
namespace {

struct TProgramVersion {
    WORD major = 0;
    WORD minor = 0;
    WORD build = 0;
};

// Major and minor from the most significant file-version word, the build from the low
// half of the least significant one; all 0 without a version resource.
TProgramVersion ReadProgramVersion() {
    TProgramVersion version;
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return version;
        }
        if (length < path.size()) {
            break;
        }
        path.resize(path.size() * 2);
    }
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.data(), &ignored);
    if (size == 0) {
        return version;
    }
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(path.data(), 0, size, block.data())) {
        return version;
    }
    VS_FIXEDFILEINFO* info = nullptr;
    UINT info_size = 0;
    if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &info_size) ||
        !info || info_size < sizeof(VS_FIXEDFILEINFO)) {
        return version;
    }
    version.major = HIWORD(info->dwFileVersionMS);
    version.minor = LOWORD(info->dwFileVersionMS);
    version.build = LOWORD(info->dwFileVersionLS);
    return version;
}

const TProgramVersion& ProgramVersion() {
    static const TProgramVersion version = ReadProgramVersion();
    return version;
}

}  // namespace

HRESULT TServerImpl::GetStatus(OPCSERVERSTATUS** ppServerStatus) noexcept {
    if (ppServerStatus) {
        *ppServerStatus = nullptr;
    }
    return OpcBoundary("IOPCServer::GetStatus", [&]() -> HRESULT {
        CheckOut(ppServerStatus);
        TOpcItemServer& server = Server();
        win::TaskArray<OPCSERVERSTATUS> status(1);
        auto vendor = win::task_string(server.VendorInfo());
        const TProgramVersion& version = ProgramVersion();
        OPCSERVERSTATUS& s = status[0];
        s.ftStartTime = server.StartTime();
        s.ftCurrentTime = server.Now();
        s.ftLastUpdateTime = last_update_;
        s.dwServerState = static_cast<OPCSERVERSTATE>(server_state_);
        s.dwGroupCount = static_cast<DWORD>(groups_.size());
        s.dwBandWidth = 0xFFFFFFFF;
        s.wMajorVersion = version.major;
        s.wMinorVersion = version.minor;
        s.wBuildNumber = version.build;
        s.wReserved = 0;
        s.szVendorInfo = vendor.release();
        *ppServerStatus = status.detach();
        return S_OK;
    });
}

}  // namespace porvex::opc
