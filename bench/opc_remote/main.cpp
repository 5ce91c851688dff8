// Benchmark of the OPC DA server out of process, under Wine, against the sample server
// (opcsample) through the project's proxy/stub DLL. For one server build, or two compared
// (--baseline FOLDER: a folder holding another build's opcsample.exe), run alternately in
// one run, it measures:
//   - activation: the first CoCreateInstance (COM starts the server) and the median of
//     CoCreateInstance against the running server;
//   - the call floor: medians of 1,000 IOPCServer::GetStatus and IOPCCommon::GetLocaleID;
//   - SyncIO reads of 1, 100 and 1,000 items from the cache and from the device, and
//     AddItems of 1,000 items (medians);
//   - the server's resident memory after activation and with 1,000 items in a group;
//   - one group of 1,000 items, every value changing at every tick, asked for 50 ms and
//     10 ms: the rate granted, values/s delivered and the server's CPU per value less its
//     idle CPU (sample server started with -MinUpdateRate, default 10 ms);
//   - where a call's time goes: the sample server is started with -CallProfile, and for
//     GetStatus, the reads and AddItems the median time inside the server's method is read
//     from its Diagnostics.CallProfile item around each measure; beside it the median of
//     empty calls to an echo object (a process of the benchmark's own) in every repetition;
//   - after the tables, the cost of the single-threaded apartment: empty calls to an echo
//     object in a single-threaded and in the multithreaded apartment of its own process;
// Each build's figure is the median over the repetitions (--repetitions, default 5); the
// table gives the ratio this build / baseline against the targets.
//
//   bench_opc_remote [--baseline FOLDER] [--repetitions N] [--min-update-rate MS]
#include <windows.h>

#include <objbase.h>
#include <tlhelp32.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cwchar>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "echo_server.h"
#include "measures.h"
#include "opc/com/text.h"
#include "opc/idl/opc_interfaces.h"
#include "opc_data_callback.h"
#include "server_process.h"
#include "win/com_ptr.h"
#include "win/registry.h"
#include "win/task_memory.h"
#include "win/variant.h"

namespace {

using namespace porvex::opc;
using namespace porvex::bench;
using Clock = std::chrono::steady_clock;

constexpr wchar_t kSample[] = L"opcsample.SampleServer.1";
constexpr double kValuesTarget10ms = 60000;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The median duration of calls, in seconds, after one call that sets up what the later
// ones reuse.
template <class Call>
double MedianSeconds(int repeats, Call&& call) {
    call();
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(repeats));
    for (int i = 0; i < repeats; ++i) {
        const auto start = Clock::now();
        call();
        times.push_back(SecondsSince(start));
    }
    return Median(times);
}

// CPU per call of a measured call, the server's (less its idle CPU, subtracted when that is
// known) and the client's.
struct TCallCpu {
    TMeasure measure;           // the server's CPU per call
    double server_seconds = 0;  // raw, idle included
    double wall_seconds = 0;    // mean wall time per call, for the idle CPU
};
using TCallCpus = std::vector<TCallCpu>;

// Runs MedianSeconds and records the CPU both processes spent per call.
template <class Call>
double MeasureCall(const TServerProcess& server, TMeasure serverCpu, TMeasure clientCpu,
                   int repeats, TCallCpus& cpus, TMeasures& m, Call&& call) {
    const double server_start = server.CpuSeconds();
    const double client_start = OwnCpuSeconds();
    const auto start = Clock::now();
    const double median = MedianSeconds(repeats, std::forward<Call>(call));
    const double calls = repeats + 1;
    const double wall = SecondsSince(start);
    m[clientCpu] = (OwnCpuSeconds() - client_start) / calls;
    cpus.push_back({serverCpu, (server.CpuSeconds() - server_start) / calls, wall / calls});
    return median;
}

void Pump(double ms) {
    const auto end = Clock::now() + std::chrono::duration<double, std::milli>(ms);
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&msg);
        }
        const double left = std::chrono::duration<double, std::milli>(end - Clock::now()).count();
        if (left <= 0) {
            return;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left) + 1, QS_ALLINPUT);
    }
}

// ---- Set-up ------------------------------------------------------------------------------

std::wstring Folder() {
    std::wstring path = porvex::win::module_path(nullptr);
    return path.erase(path.find_last_of(L"\\/") + 1);
}

bool RunToEnd(const std::wstring& command) {
    std::wstring line = command;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
        return false;
    }
    WaitForSingleObject(pi.hProcess, 30000);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code == 0;
}

bool RegisterProxy() {
    HMODULE dll = LoadLibraryW((Folder() + L"PorvexOpcPS.dll").c_str());
    auto reg = dll ? reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
                         reinterpret_cast<void*>(GetProcAddress(dll, "DllRegisterServer")))
                   : nullptr;
    return reg && SUCCEEDED(reg());
}

// Registers the sample server of a build and has COM start it with the minimum update
// rate (a build that does not know the switch ignores it).
bool RegisterSample(const std::wstring& program, int minRate, CLSID& clsid) {
    if (!RunToEnd(L"\"" + program + L"\" -regserver") || FAILED(CLSIDFromProgID(kSample, &clsid))) {
        std::fwprintf(stderr, L"%ls could not be registered\n", program.c_str());
        return false;
    }
    const std::wstring command =
        L"\"" + program + L"\" -MinUpdateRate " + std::to_wstring(minRate) + L" -CallProfile";
    return porvex::win::write_key_default(
               HKEY_CLASSES_ROOT, L"CLSID\\" + porvex::win::guid_text(clsid) + L"\\LocalServer32",
               command) == ERROR_SUCCESS;
}

bool SampleRunning() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    bool running = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        running = running || EqualNoCase(entry.szExeFile, L"opcsample.exe");
    }
    CloseHandle(snapshot);
    return running;
}

bool WaitForSampleExit() {
    for (int i = 0; i < 200 && SampleRunning(); ++i) {
        Pump(50);
    }
    return !SampleRunning();
}

// ---- Groups ------------------------------------------------------------------------------

struct TGroup {
    IOPCServer* server = nullptr;
    porvex::win::ComPtr<IOPCItemMgt> items;
    OPCHANDLE handle = 0;
    DWORD revised_rate = 0;
    std::vector<OPCHANDLE> handles;

    TGroup() = default;
    TGroup(const TGroup&) = delete;
    TGroup& operator=(const TGroup&) = delete;
    ~TGroup() {
        if (items) {
            items.reset();
            server->RemoveGroup(handle, TRUE);
        }
    }
};

std::vector<OPCITEMDEF> LoadItemDefs(std::vector<std::wstring>& ids, int count) {
    std::vector<OPCITEMDEF> defs(static_cast<std::size_t>(count));
    ids.resize(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < defs.size(); ++i) {
        wchar_t id[32];
        std::swprintf(id, 32, L"Load.Item%04u", static_cast<unsigned>(i));
        ids[i] = id;
        defs[i].szAccessPath = const_cast<LPWSTR>(L"");
        defs[i].szItemID = const_cast<LPWSTR>(ids[i].c_str());
        defs[i].bActive = TRUE;
        defs[i].hClient = static_cast<OPCHANDLE>(i + 1);
    }
    return defs;
}

std::unique_ptr<TGroup> AddGroup(IOPCServer* server, DWORD rate) {
    auto group = std::make_unique<TGroup>();
    group->server = server;
    const HRESULT hr = server->AddGroup(L"", TRUE, rate, 1, nullptr, nullptr, 0, &group->handle,
                                        &group->revised_rate, IID_IOPCItemMgt,
                                        reinterpret_cast<IUnknown**>(group->items.put()));
    if (FAILED(hr)) {
        group->items.reset();
    }
    return group;
}

bool AddItems(TGroup& group, std::vector<OPCITEMDEF>& defs) {
    porvex::win::UniqueCoTaskMem<OPCITEMRESULT> results;
    porvex::win::UniqueCoTaskMem<HRESULT> errors;
    if (group.items->AddItems(static_cast<DWORD>(defs.size()), defs.data(), results.put(),
                              errors.put()) != S_OK) {
        return false;
    }
    group.handles.clear();
    for (std::size_t i = 0; i < defs.size(); ++i) {
        group.handles.push_back(results[i].hServer);
    }
    return true;
}

void RemoveItems(TGroup& group) {
    porvex::win::UniqueCoTaskMem<HRESULT> errors;
    group.items->RemoveItems(static_cast<DWORD>(group.handles.size()), group.handles.data(),
                             errors.put());
    group.handles.clear();
}

DWORD ServerProcessId(IOPCServer* server) {
    std::unique_ptr<TGroup> diag = AddGroup(server, 600000);
    OPCITEMDEF def{};
    def.szAccessPath = const_cast<LPWSTR>(L"");
    def.szItemID = const_cast<LPWSTR>(L"Diagnostics.ProcessId");
    std::vector<OPCITEMDEF> defs{def};
    porvex::win::ComPtr<IOPCSyncIO> sync;
    if (!diag->items || !AddItems(*diag, defs) || FAILED(diag->items.query(sync))) {
        return 0;
    }
    porvex::win::UniqueCoTaskMem<OPCITEMSTATE> states;
    porvex::win::UniqueCoTaskMem<HRESULT> errors;
    if (sync->Read(OPC_DS_DEVICE, 1, diag->handles.data(), states.put(), errors.put()) != S_OK) {
        return 0;
    }
    return static_cast<DWORD>(states[0].vDataValue.lVal);
}

// The sample server's call profile (Diagnostics.CallProfile): a write restarts it, a read
// returns the median time inside each method since. A build without it reads nothing.
class TCallProfile {
  public:
    explicit TCallProfile(IOPCServer* server) : group_(AddGroup(server, 600000)) {
        OPCITEMDEF def{};
        def.szAccessPath = const_cast<LPWSTR>(L"");
        def.szItemID = const_cast<LPWSTR>(L"Diagnostics.CallProfile");
        std::vector<OPCITEMDEF> defs{def};
        if (!group_->items || !AddItems(*group_, defs) || FAILED(group_->items.query(io_))) {
            io_.reset();
        }
    }

    // Forgets what was timed so far.
    void Restart() {
        if (!io_) {
            return;
        }
        porvex::win::Variant empty = porvex::win::Variant::string(L"");
        porvex::win::UniqueCoTaskMem<HRESULT> errors;
        io_->Write(1, group_->handles.data(), empty.get(), errors.put());
    }

    // The median seconds inside method since the restart, NaN when not timed.
    double MedianSeconds(const char* method) {
        const std::map<std::string, double> medians = Medians();
        const auto found = medians.find(method);
        return found == medians.end() ? NAN : found->second;
    }

  private:
    std::map<std::string, double> Medians() {
        std::map<std::string, double> medians;
        if (!io_) {
            return medians;
        }
        porvex::win::UniqueCoTaskMem<OPCITEMSTATE> states;
        porvex::win::UniqueCoTaskMem<HRESULT> errors;
        if (io_->Read(OPC_DS_DEVICE, 1, group_->handles.data(), states.put(), errors.put()) !=
                S_OK ||
            states[0].vDataValue.vt != VT_BSTR) {
            return medians;
        }
        const std::string text = Utf8FromWide(states[0].vDataValue.bstrVal);
        VariantClear(&states[0].vDataValue);
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            end = end == std::string::npos ? text.size() : end;
            const std::string line = text.substr(start, end - start);
            const std::size_t name_end = line.find(' ');
            const std::size_t median = line.find("median_us=");
            if (name_end != std::string::npos && median != std::string::npos) {
                medians[line.substr(0, name_end)] = std::atof(line.c_str() + median + 10) * 1e-6;
            }
            start = end + 1;
        }
        return medians;
    }

    std::unique_ptr<TGroup> group_;
    porvex::win::ComPtr<IOPCSyncIO> io_;
};

// ---- Measures ----------------------------------------------------------------------------

class TCounter final : public TIgnoringDataCallback {
  public:
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD count,
                                           OPCHANDLE*, VARIANT*, WORD*, FILETIME*,
                                           HRESULT*) noexcept override {
        values += count;
        return S_OK;
    }
    unsigned long long values = 0;
};

struct TFlow {
    double granted_ms = NAN;
    double values_per_s = NAN;
    double cpu_per_value = NAN;
    double system_cpu_per_value = NAN;
};

// One group of the 1,000 load items (each changes at every read) at rate, measured for
// seconds once the first reports came; CPU per value less the idle CPU.
TFlow MeasureFlow(IOPCServer* server, const TServerProcess& process, DWORD rate,
                  double idleCpuPerSecond, double idleSystemCpuPerSecond, double seconds) {
    TFlow flow;
    std::unique_ptr<TGroup> group = AddGroup(server, rate);
    std::vector<std::wstring> ids;
    std::vector<OPCITEMDEF> defs = LoadItemDefs(ids, 1000);
    porvex::win::ComPtr<IConnectionPointContainer> container;
    porvex::win::ComPtr<IConnectionPoint> point;
    porvex::win::ComPtr<TCounter> counter(new TCounter());
    DWORD cookie = 0;
    if (!group->items || !AddItems(*group, defs) || FAILED(group->items.query(container)) ||
        FAILED(container->FindConnectionPoint(IID_IOPCDataCallback, point.put())) ||
        FAILED(point->Advise(counter->identity(), &cookie))) {
        return flow;
    }
    flow.granted_ms = group->revised_rate;
    Pump(1000);
    const unsigned long long values = counter->values;
    const double cpu = process.CpuSeconds();
    const double system_cpu = process.CpuSecondsReportedBySystem();
    const auto start = Clock::now();
    Pump(seconds * 1000.0);
    const double elapsed = SecondsSince(start);
    const double delivered = static_cast<double>(counter->values - values);
    const double cpu_used = process.CpuSeconds() - cpu - idleCpuPerSecond * elapsed;
    const double system_used =
        process.CpuSecondsReportedBySystem() - system_cpu - idleSystemCpuPerSecond * elapsed;
    flow.values_per_s = delivered / elapsed;
    flow.cpu_per_value = delivered > 0 ? cpu_used / delivered : NAN;
    flow.system_cpu_per_value = delivered > 0 ? system_used / delivered : NAN;
    point->Unadvise(cookie);
    group.reset();
    Pump(200);
    return flow;
}

void MeasureReads(IOPCServer* server, const TServerProcess& process, TCallProfile& profile,
                  TCallCpus& cpus, TMeasures& m) {
    std::unique_ptr<TGroup> group = AddGroup(server, 600000);
    std::vector<std::wstring> ids;
    std::vector<OPCITEMDEF> defs = LoadItemDefs(ids, 1000);
    porvex::win::ComPtr<IOPCSyncIO> io;
    if (!group->items || !AddItems(*group, defs) || FAILED(group->items.query(io))) {
        std::fprintf(stderr, "the read group could not be made\n");
        return;
    }
    const TMeasure cache[] = {kReadCache1, kReadCache100, kReadCache1000};
    const TMeasure device[] = {kReadDevice1, kReadDevice100, kReadDevice1000};
    const TMeasure cache_inside[] = {kInServerReadCache1, kInServerReadCache100,
                                     kInServerReadCache1000};
    const TMeasure device_inside[] = {kInServerReadDevice1, kInServerReadDevice100,
                                      kInServerReadDevice1000};
    const TMeasure server_cpu[] = {kServerCpuReadCache1,    kServerCpuReadCache100,
                                   kServerCpuReadCache1000, kServerCpuReadDevice1,
                                   kServerCpuReadDevice100, kServerCpuReadDevice1000};
    const TMeasure client_cpu[] = {kClientCpuReadCache1,    kClientCpuReadCache100,
                                   kClientCpuReadCache1000, kClientCpuReadDevice1,
                                   kClientCpuReadDevice100, kClientCpuReadDevice1000};
    const int counts[] = {1, 100, 1000};
    for (int source = 0; source < 2; ++source) {
        for (int i = 0; i < 3; ++i) {
            const int n = counts[i];
            profile.Restart();
            const int k = source * 3 + i;
            m[source == 0 ? cache[i] : device[i]] = MeasureCall(
                process, server_cpu[k], client_cpu[k], n == 1000 ? 200 : 500, cpus, m, [&] {
                    porvex::win::UniqueCoTaskMem<OPCITEMSTATE> states;
                    porvex::win::UniqueCoTaskMem<HRESULT> errors;
                    io->Read(source == 0 ? OPC_DS_CACHE : OPC_DS_DEVICE, static_cast<DWORD>(n),
                             group->handles.data(), states.put(), errors.put());
                });
            m[source == 0 ? cache_inside[i] : device_inside[i]] =
                profile.MedianSeconds("IOPCSyncIO::Read");
        }
    }
}

void MeasureAddItems(IOPCServer* server, const TServerProcess& process, TCallProfile& profile,
                     TCallCpus& cpus, TMeasures& m) {
    std::unique_ptr<TGroup> group = AddGroup(server, 600000);
    std::vector<std::wstring> ids;
    std::vector<OPCITEMDEF> defs = LoadItemDefs(ids, 1000);
    if (!group->items) {
        return;
    }
    std::vector<double> times;
    double server_cpu = 0;
    double client_cpu = 0;
    profile.Restart();
    for (int i = 0; i < 31; ++i) {
        const double server_start = process.CpuSeconds();
        const double client_start = OwnCpuSeconds();
        const auto start = Clock::now();
        const bool added = AddItems(*group, defs);
        times.push_back(SecondsSince(start));
        if (i > 0) {
            client_cpu += OwnCpuSeconds() - client_start;
            server_cpu += process.CpuSeconds() - server_start;
        }
        if (!added) {
            std::fprintf(stderr, "AddItems failed\n");
            return;
        }
        if (i == 0) {
            Pump(100);
            m[kResident1000Items] = process.ResidentBytes();
        }
        RemoveItems(*group);
    }
    times.erase(times.begin());  // the first sets up what the later ones reuse
    m[kAddItems1000] = Median(times);
    double wall = 0;
    for (double t : times) {
        wall += t;
    }
    const double calls = static_cast<double>(times.size());
    m[kClientCpuAddItems1000] = client_cpu / calls;
    cpus.push_back({kServerCpuAddItems1000, server_cpu / calls, wall / calls});
    m[kInServerAddItems1000] = profile.MedianSeconds("IOPCItemMgt::AddItems");
}

// Every measure of one build, its server started by COM at the beginning and gone at the
// end.
bool MeasureBuild(const std::wstring& program, int minRate, IOPCDataCallback* echo, TMeasures& m) {
    CLSID clsid{};
    if (!WaitForSampleExit() || !RegisterSample(program, minRate, clsid)) {
        std::fprintf(stderr, "a sample server still runs or cannot be registered\n");
        return false;
    }
    auto create = [&](porvex::win::ComPtr<IOPCServer>& out) {
        return CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                reinterpret_cast<void**>(out.put()));
    };
    porvex::win::ComPtr<IOPCServer> server;
    const auto start = Clock::now();
    if (FAILED(create(server))) {
        std::fprintf(stderr, "the sample server could not be started\n");
        return false;
    }
    m[kColdActivation] = SecondsSince(start);
    Pump(500);
    // Resident memory once activated, before the client used any other interface (each
    // connection costs the server a thread of the RPC run-time).
    TServerProcess process(program);
    m[kResidentActivated] = process.ResidentBytes();
    process.SetWindowsPid(ServerProcessId(server.get()));
    m[kWarmActivation] = MedianSeconds(50, [&] {
        porvex::win::ComPtr<IOPCServer> other;
        create(other);
    });
    auto profile = std::make_unique<TCallProfile>(server.get());
    profile->Restart();
    TCallCpus cpus;
    m[kGetStatus] =
        MeasureCall(process, kServerCpuGetStatus, kClientCpuGetStatus, 1000, cpus, m, [&] {
            OPCSERVERSTATUS* status = nullptr;
            if (SUCCEEDED(server->GetStatus(&status)) && status) {
                CoTaskMemFree(status->szVendorInfo);
                CoTaskMemFree(status);
            }
        });
    m[kInServerGetStatus] = profile->MedianSeconds("IOPCServer::GetStatus");
    if (echo) {
        m[kEmptyCall] = MedianSeconds(1000, [&] { echo->OnCancelComplete(0, 0); });
    }
    porvex::win::ComPtr<IOPCCommon> common;
    server.query(common);
    m[kGetLocaleId] = MedianSeconds(1000, [&] {
        LCID lcid = 0;
        common->GetLocaleID(&lcid);
    });
    MeasureReads(server.get(), process, *profile, cpus, m);
    MeasureAddItems(server.get(), process, *profile, cpus, m);
    profile.reset();

    Pump(300);
    const double cpu_before_idle = process.CpuSeconds();
    const double system_cpu = process.CpuSecondsReportedBySystem();
    const auto idle_start = Clock::now();
    Pump(2000);
    const double idle_s = SecondsSince(idle_start);
    const double idle = (process.CpuSeconds() - cpu_before_idle) / idle_s;
    const double system_idle = (process.CpuSecondsReportedBySystem() - system_cpu) / idle_s;
    m[kIdleCpu] = idle;
    for (const TCallCpu& cpu : cpus) {
        m[cpu.measure] = cpu.server_seconds - idle * cpu.wall_seconds;
    }
    const TFlow at50 = MeasureFlow(server.get(), process, 50, idle, system_idle, 4.0);
    m[kGranted50] = at50.granted_ms;
    m[kValues50] = at50.values_per_s;
    m[kCpuPerValue50] = at50.cpu_per_value;
    m[kSystemCpuPerValue50] = at50.system_cpu_per_value;
    const TFlow at10 = MeasureFlow(server.get(), process, 10, idle, system_idle, 4.0);
    m[kGranted10] = at10.granted_ms;
    m[kValues10] = at10.values_per_s;
    m[kCpuPerValue10] = at10.cpu_per_value;
    m[kSystemCpuPerValue10] = at10.system_cpu_per_value;
    if (!process.LinuxPid() && UnderWine()) {
        std::fprintf(stderr, "the server's Wine process was not found in /proc\n");
    }
    common.reset();
    server.reset();
    Pump(200);
    return true;
}

void PrintRun(const char* label, int repetition, const TMeasures& m) {
    std::printf("%-9s #%d:", label, repetition + 1);
    for (int i = 0; i < kMeasureCount; ++i) {
        std::printf(" %.4g", m[static_cast<std::size_t>(i)] * Info(static_cast<TMeasure>(i)).scale);
    }
    std::printf("\n");
    std::fflush(stdout);
}

double LoadAverage() {
    std::FILE* file = _wfopen(L"Z:\\proc\\loadavg", L"rb");
    double load = NAN;
    if (file) {
        if (std::fscanf(file, "%lf", &load) != 1) {
            load = NAN;
        }
        std::fclose(file);
    }
    return load;
}

int Bench(const std::wstring& baseline, int repetitions, int minRate) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) || !RegisterProxy()) {
        std::fprintf(stderr, "COM or the proxy/stub DLL could not be set up\n");
        return 1;
    }
    const std::wstring current = Folder() + L"opcsample.exe";
    const std::wstring previous =
        baseline.empty()
            ? std::wstring()
            : baseline + (baseline.back() == L'\\' || baseline.back() == L'/' ? L"" : L"\\") +
                  L"opcsample.exe";
    std::printf("this build: %ls\n", current.c_str());
    if (!previous.empty()) {
        std::printf("baseline:   %ls\n", previous.c_str());
    }
    std::printf(
        "sample server started with -MinUpdateRate %d; %d repetitions; CPU and memory "
        "from %s\n",
        minRate, repetitions, UnderWine() ? "/proc of the Wine process" : "the system");
    std::printf("load average at the start: %.2f\n", LoadAverage());
    std::printf("per run, the measures in the table's order and units:\n");
    // The floor of a call in every repetition: an empty call to an object in a process of
    // the benchmark's own, in a single-threaded apartment as the engine's.
    porvex::win::ComPtr<IOPCDataCallback> echo;
    if (!RegisterEchoServers() ||
        FAILED(CoCreateInstance(EchoClsid(true), nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCDataCallback,
                                reinterpret_cast<void**>(echo.put())))) {
        std::fprintf(stderr, "the echo object could not be started; no floor measured\n");
        echo.reset();
    }
    std::vector<TMeasures> now_runs;
    std::vector<TMeasures> before_runs;
    for (int r = 0; r < repetitions; ++r) {
        // Alternate which build goes first, so that neither always meets the same moment.
        for (int turn = 0; turn < 2; ++turn) {
            const bool baseline_turn = (turn == 0) == (r % 2 == 1);
            if (baseline_turn && previous.empty()) {
                continue;
            }
            TMeasures m = NewMeasures();
            if (!MeasureBuild(baseline_turn ? previous : current, minRate, echo.get(), m)) {
                return 1;
            }
            PrintRun(baseline_turn ? "baseline" : "this", r, m);
            (baseline_turn ? before_runs : now_runs).push_back(std::move(m));
        }
    }
    std::printf("load average at the end: %.2f\n", LoadAverage());
    PrintTable(now_runs, before_runs, kValuesTarget10ms);
    PrintBreakdown(now_runs, before_runs);
    echo.reset();
    Pump(300);
    if (RegisterEchoServers()) {
        const TApartmentCost cost = MeasureApartmentCost(2000);
        std::printf(
            "\nan empty call to an object in its own process (medians of 2,000, alternating):\n"
            "  in a single-threaded apartment %.3f ms, in the multithreaded apartment %.3f ms\n",
            cost.sta_seconds * 1e3, cost.mta_seconds * 1e3);
        Pump(500);
        UnregisterEchoServers();
    }
    WaitForSampleExit();
    // Leave this build's sample server registered, as the tests expect.
    CLSID clsid{};
    RegisterSample(current, minRate, clsid);
    RunToEnd(L"\"" + current + L"\" -regserver");
    CoUninitialize();
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::wstring(argv[i]) == L"-Echo") {
            return ServeEcho(std::wstring(argv[i + 1]) == L"sta");
        }
    }
    std::wstring baseline;
    int repetitions = 5;
    int min_rate = 10;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == L"--baseline" && has_value) {
            baseline = argv[++i];
        } else if (arg == L"--repetitions" && has_value) {
            repetitions = std::max(1, _wtoi(argv[++i]));
        } else if (arg == L"--min-update-rate" && has_value) {
            min_rate = std::max(1, _wtoi(argv[++i]));
        } else {
            std::fprintf(stderr,
                         "usage: bench_opc_remote [--baseline FOLDER] [--repetitions N] "
                         "[--min-update-rate MS]\n");
            return 2;
        }
    }
    return Bench(baseline, repetitions, min_rate);
}
