// servers, status, browse and props: what a server is and what it offers.
#include <comcat.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>

#include "commands.h"
#include "opc/com/text.h"
#include "opc/idl/opc_ae_interfaces.h"
#include "output.h"
#include "value_text.h"
#include "win/com_ptr.h"
#include "win/registry.h"
#include "win/task_memory.h"
#include "win/variant.h"

namespace porvex::opcclient {
namespace {

using win::ComPtr;
using win::UniqueCoTaskMem;

std::vector<std::wstring> Strings(IEnumString* strings) {
    std::vector<std::wstring> out;
    if (!strings) {
        return out;
    }
    for (;;) {
        LPOLESTR batch[64] = {};
        ULONG fetched = 0;
        const HRESULT hr = strings->Next(64, batch, &fetched);
        std::array<UniqueCoTaskMem<wchar_t>, 64> owned;
        for (ULONG i = 0; i < fetched && i < owned.size(); ++i) {
            owned[i].reset(batch[i]);
        }
        for (ULONG i = 0; i < fetched && i < owned.size(); ++i) {
            out.emplace_back(owned[i] ? owned[i].get() : L"");
        }
        if (hr != S_OK || fetched == 0) {
            return out;
        }
    }
}

win::ComPtr<IOPCBrowseServerAddressSpace> Browser(const TSession& session) {
    win::ComPtr<IOPCBrowseServerAddressSpace> browser;
    session.Check(session.Server()->QueryInterface(IID_IOPCBrowseServerAddressSpace,
                                                   reinterpret_cast<void**>(browser.put())),
                  L"the server offers no browsing");
    return browser;
}

std::vector<std::wstring> Browse(const TSession& session, IOPCBrowseServerAddressSpace* browser,
                                 OPCBROWSETYPE type, const std::wstring& filter) {
    win::ComPtr<IEnumString> names;
    const HRESULT hr = browser->BrowseOPCItemIDs(type, filter.c_str(), VT_EMPTY, 0, names.put());
    session.Check(hr, L"browsing failed");
    return Strings(names.get());
}

std::wstring ItemIdOf(IOPCBrowseServerAddressSpace* browser, const std::wstring& name) {
    win::UniqueCoTaskMem<wchar_t> id;
    if (SUCCEEDED(browser->GetItemID(const_cast<LPWSTR>(name.c_str()), id.put())) && id.get()) {
        return id.get();
    }
    return name;
}

void MoveTo(const TSession& session, IOPCBrowseServerAddressSpace* browser,
            const std::wstring& branch) {
    session.Check(browser->ChangeBrowsePosition(OPC_BROWSE_TO, branch.c_str()),
                  L"no branch " + (branch.empty() ? std::wstring(L"(root)") : branch));
}

bool Hierarchical(IOPCBrowseServerAddressSpace* browser) {
    OPCNAMESPACETYPE type = OPC_NS_FLAT;
    return SUCCEEDED(browser->QueryOrganization(&type)) && type == OPC_NS_HIERARCHIAL;
}

void PrintTree(const TSession& session, IOPCBrowseServerAddressSpace* browser,
               const std::wstring& filter, const std::wstring& indent) {
    for (const std::wstring& branch : Browse(session, browser, OPC_BRANCH, L"")) {
        PrintLine(indent + branch + L"/");
        session.Check(browser->ChangeBrowsePosition(OPC_BROWSE_DOWN, branch.c_str()),
                      L"cannot enter branch " + branch);
        PrintTree(session, browser, filter, indent + L"  ");
        session.Check(browser->ChangeBrowsePosition(OPC_BROWSE_UP, L""),
                      L"cannot leave branch " + branch);
    }
    const std::vector<std::wstring> leaves = Browse(session, browser, OPC_LEAF, filter);
    std::size_t width = 0;
    for (const std::wstring& leaf : leaves) {
        width = std::max(width, leaf.size());
    }
    for (const std::wstring& leaf : leaves) {
        PrintLine(indent + leaf + std::wstring(width - leaf.size() + 2, L' ') +
                  ItemIdOf(browser, leaf));
    }
}

const wchar_t* StateName(OPCSERVERSTATE state) {
    switch (state) {
        case OPC_STATUS_RUNNING:
            return L"running";
        case OPC_STATUS_FAILED:
            return L"failed";
        case OPC_STATUS_NOCONFIG:
            return L"no configuration";
        case OPC_STATUS_SUSPENDED:
            return L"suspended";
        case OPC_STATUS_TEST:
            return L"test";
        default:
            return L"unknown";
    }
}

std::wstring RightsText(DWORD rights) {
    const bool read = (rights & OPC_READABLE) != 0;
    const bool write = (rights & OPC_WRITEABLE) != 0;
    return read && write ? L"read/write" : read ? L"read" : write ? L"write" : L"none";
}

}  // namespace

std::wstring Wide(const std::string& text) { return opc::WideFromUtf8(text); }

std::vector<std::wstring> BrowseItemIds(const TSession& session, const std::wstring& branch,
                                        const std::wstring& filter) {
    win::ComPtr<IOPCBrowseServerAddressSpace> browser = Browser(session);
    if (Hierarchical(browser.get())) {
        MoveTo(session, browser.get(), branch);
    } else if (!branch.empty()) {
        throw TClientFailure{kExitUsage, L"the server's namespace is flat: it has no branches"};
    }
    std::vector<std::wstring> ids;
    for (const std::wstring& name : Browse(session, browser.get(), OPC_FLAT, filter)) {
        ids.push_back(ItemIdOf(browser.get(), name));
    }
    return ids;
}

int RunServers(const TOptions&) {
    win::ComPtr<ICatInformation> categories;
    const HRESULT hr =
        CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                         IID_ICatInformation, reinterpret_cast<void**>(categories.put()));
    if (FAILED(hr)) {
        throw TClientFailure{kExitServerFailed, L"the component categories cannot be read: " +
                                                    ResultText(nullptr, hr)};
    }
    // Class text -> the OPC specifications it claims (DA 1.0, DA 2.0, Alarms & Events).
    std::map<std::wstring, std::wstring> servers;
    const std::pair<CATID, const wchar_t*> versions[] = {{CATID_OPCDAServer10, L"DA1"},
                                                         {CATID_OPCDAServer20, L"DA2"},
                                                         {CATID_OPCEventServerCATID, L"AE"}};
    for (const auto& [catid, version] : versions) {
        win::ComPtr<IEnumGUID> classes;
        CATID wanted = catid;
        if (FAILED(categories->EnumClassesOfCategories(1, &wanted, static_cast<ULONG>(-1), nullptr,
                                                       classes.put()))) {
            continue;
        }
        CLSID clsid{};
        ULONG fetched = 0;
        while (classes->Next(1, &clsid, &fetched) == S_OK && fetched == 1) {
            std::wstring& claimed = servers[win::guid_text(clsid)];
            claimed += claimed.empty() ? version : std::wstring(L",") + version;
        }
    }
    for (const auto& [clsid_text, claimed] : servers) {
        CLSID clsid{};
        CLSIDFromString(clsid_text.c_str(), &clsid);
        win::UniqueCoTaskMem<wchar_t> prog_id;
        ProgIDFromCLSID(clsid, prog_id.put());
        const std::wstring description =
            win::read_key_text(HKEY_CLASSES_ROOT, L"CLSID\\" + clsid_text).value_or(L"");
        PrintLine((prog_id.get() ? std::wstring(prog_id.get()) : std::wstring(L"-")) + L"  " +
                  clsid_text + L"  " + claimed + L"  " + description);
    }
    return kExitOk;
}

int RunStatus(const TOptions& options) {
    TSession session(Wide(options.server));
    win::UniqueCoTaskMem<OPCSERVERSTATUS> status;
    session.Check(session.Server()->GetStatus(status.put()), L"GetStatus failed");
    const OPCSERVERSTATUS& s = *status.get();
    const UniqueCoTaskMem<wchar_t> vendor_text(s.szVendorInfo);
    wchar_t version[48];
    std::swprintf(version, 48, L"%u.%u.%u", s.wMajorVersion, s.wMinorVersion, s.wBuildNumber);
    PrintLine(L"server        " + session.Name());
    PrintLine(L"state         " + std::wstring(StateName(s.dwServerState)));
    PrintLine(L"vendor        " + std::wstring(s.szVendorInfo ? s.szVendorInfo : L""));
    PrintLine(L"version       " + std::wstring(version));
    PrintLine(L"start time    " + FileTimeText(s.ftStartTime));
    PrintLine(L"current time  " + FileTimeText(s.ftCurrentTime));
    PrintLine(L"last update   " + FileTimeText(s.ftLastUpdateTime));
    PrintLine(L"groups        " + std::to_wstring(s.dwGroupCount));
    return kExitOk;
}

int RunBrowse(const TOptions& options) {
    TSession session(Wide(options.server));
    const std::wstring branch = Wide(options.branch);
    const std::wstring filter = Wide(options.filter);
    win::ComPtr<IOPCBrowseServerAddressSpace> browser = Browser(session);
    if (options.flat || !Hierarchical(browser.get())) {
        for (const std::wstring& id : BrowseItemIds(session, branch, filter)) {
            PrintLine(id);
        }
        return kExitOk;
    }
    MoveTo(session, browser.get(), branch);
    PrintTree(session, browser.get(), filter, L"");
    return kExitOk;
}

int RunProps(const TOptions& options) {
    TSession session(Wide(options.server));
    const std::wstring item = Wide(options.items.front());
    win::ComPtr<IOPCItemProperties> properties;
    session.Check(session.Server()->QueryInterface(IID_IOPCItemProperties,
                                                   reinterpret_cast<void**>(properties.put())),
                  L"the server offers no item properties");
    DWORD count = 0;
    win::UniqueCoTaskMem<DWORD> ids;
    win::UniqueCoTaskMem<LPWSTR> descriptions;
    win::UniqueCoTaskMem<VARTYPE> types;
    session.Check(properties->QueryAvailableProperties(const_cast<LPWSTR>(item.c_str()), &count,
                                                       ids.put(), descriptions.put(), types.put()),
                  item);
    const auto owned = win::TaskArray<LPWSTR>::adopt(descriptions.release(), count);
    std::vector<std::wstring> texts(count);
    std::size_t width = 0;
    for (DWORD i = 0; i < count; ++i) {
        texts[i] = owned[i] ? owned[i] : L"";
        width = std::max(width, texts[i].size());
    }
    if (count == 0) {
        return kExitOk;
    }
    win::UniqueCoTaskMem<VARIANT> values;
    win::UniqueCoTaskMem<HRESULT> errors;
    session.Check(properties->GetItemProperties(const_cast<LPWSTR>(item.c_str()), count, ids.get(),
                                                values.put(), errors.put()),
                  item);
    bool failed = false;
    for (DWORD i = 0; i < count; ++i) {
        win::Variant value;
        value.value() = values[i];  // adopted: freed with the holder
        std::wstring shown;
        if (FAILED(errors[i])) {
            shown = L"error " + session.ResultText(errors[i]);
            failed = true;
        } else if (ids[i] == OPC_PROP_CDT && value.type() == VT_I2) {
            shown = TypeName(static_cast<VARTYPE>(value.value().iVal));
        } else if (ids[i] == OPC_PROP_RIGHTS && value.type() == VT_I4) {
            shown = RightsText(static_cast<DWORD>(value.value().lVal));
        } else {
            shown = ValueText(value.value()) + L" (" + TypeName(value.type()) + L")";
        }
        wchar_t id[16];
        std::swprintf(id, 16, L"%5lu  ", static_cast<unsigned long>(ids[i]));
        PrintLine(id + texts[i] + std::wstring(width - texts[i].size() + 2, L' ') + shown);
    }
    return failed ? kExitItemFailed : kExitOk;
}

}  // namespace porvex::opcclient
