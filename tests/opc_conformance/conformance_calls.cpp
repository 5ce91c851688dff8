#include "conformance_calls.h"

#include <algorithm>
#include <optional>

#include "opc/async/stream_formats.h"
#include "opc/com/text.h"
#include "opc/idl/opc_errors.h"

namespace porvex::opc::conformance {
namespace {

// A value outside the enumeration, as a faulty client sends it. Made at run time: a
// constant outside an enumeration's range is not a value of it.
template <class Enum>
Enum OutOfRange(int value) {
    return static_cast<Enum>(value);
}

constexpr OPCHANDLE kBadHandle = 0x0BADBAD0;
constexpr wchar_t kUnknownItem[] = L"No.Such.Item";

std::string Line(const char* call, HRESULT hr) { return std::string(call) + " " + Hex(hr); }

template <class T>
std::string List(const std::vector<T>& values) {
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i) {
        out += (i ? " " : "") + std::to_string(values[i]);
    }
    return out + "]";
}

std::string Names(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    std::string out = "[";
    for (std::size_t i = 0; i < names.size(); ++i) {
        out += (i ? "|" : "") + names[i];
    }
    return out + "]";
}

// Item definitions that point into ids (which must outlive them).
std::vector<OPCITEMDEF> Definitions(const std::vector<std::wstring>& ids, OPCHANDLE firstClient,
                                    BOOL active = TRUE) {
    std::vector<OPCITEMDEF> definitions(ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) {
        definitions[i].szAccessPath = const_cast<LPWSTR>(L"");
        definitions[i].szItemID = const_cast<LPWSTR>(ids[i].c_str());
        definitions[i].bActive = active;
        definitions[i].hClient = firstClient + static_cast<OPCHANDLE>(i);
    }
    return definitions;
}

bool SameDefinitions(const std::vector<OPCITEMDEF>& a, const std::vector<OPCITEMDEF>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].szItemID != b[i].szItemID || a[i].hClient != b[i].hClient ||
            a[i].bActive != b[i].bActive || std::wcscmp(a[i].szItemID, b[i].szItemID) != 0) {
            return false;
        }
    }
    return true;
}

struct TItemResults {
    HRESULT hr = E_FAIL;
    std::vector<OPCHANDLE> handles;
    std::vector<HRESULT> errors;
};

// The results of AddItems or ValidateItems: checked, recorded (types, rights, errors) and
// freed.
TItemResults TakeItemResults(const char* call, HRESULT hr, OPCITEMRESULT* results, HRESULT* errors,
                             std::size_t count, TTranscript& out) {
    TItemResults taken;
    taken.hr = hr;
    if (FAILED(hr)) {
        EXPECT_EQ(results, nullptr) << call;
        EXPECT_EQ(errors, nullptr) << call;
        out.Add(Line(call, hr));
        return taken;
    }
    CheckOutArray(results, count, call);
    taken.errors = Take(errors, count, call);
    std::vector<int> types;
    std::vector<DWORD> rights;
    for (std::size_t i = 0; results && i < count; ++i) {
        taken.handles.push_back(results[i].hServer);
        types.push_back(results[i].vtCanonicalDataType);
        rights.push_back(results[i].dwAccessRights);
        CoTaskMemFree(results[i].pBlob);
    }
    CoTaskMemFree(results);
    out.Add(Line(call, hr) + " errors=" + Errors(taken.errors) + " types=" + List(types) +
            " rights=" + List(rights));
    return taken;
}

TItemResults AddItems(IOPCItemMgt* items, const char* call, const std::vector<std::wstring>& ids,
                      OPCHANDLE firstClient, TTranscript& out) {
    std::vector<OPCITEMDEF> definitions = Definitions(ids, firstClient);
    const std::vector<OPCITEMDEF> before = definitions;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT hr = items->AddItems(static_cast<DWORD>(definitions.size()), definitions.data(),
                                       &results, &errors);
    EXPECT_TRUE(SameDefinitions(definitions, before)) << call << " changed its [in] array";
    return TakeItemResults(call, hr, results, errors, ids.size(), out);
}

struct TGroup {
    win::ComPtr<IOPCItemMgt> items;
    OPCHANDLE handle = 0;
};

TGroup AddGroup(IOPCServer* server, const wchar_t* name, BOOL active, DWORD rate, OPCHANDLE client,
                TTranscript& out) {
    TGroup group;
    LONG bias = 0;
    FLOAT deadband = 0.0f;
    DWORD revised = 0;
    const HRESULT hr = server->AddGroup(name, active, rate, client, &bias, &deadband, 0x409,
                                        &group.handle, &revised, IID_IOPCItemMgt,
                                        reinterpret_cast<IUnknown**>(group.items.put()));
    out.Add(Line("IOPCServer::AddGroup", hr) + " rate=" + std::to_string(revised));
    EXPECT_EQ(SUCCEEDED(hr), group.items.get() != nullptr);
    return group;
}

void RemoveGroup(IOPCServer* server, TGroup& group, TTranscript& out) {
    const OPCHANDLE handle = group.handle;
    group.items.reset();
    out.Add(Line("IOPCServer::RemoveGroup", server->RemoveGroup(handle, FALSE)));
}

// Reads an IEnumString to its end in chunks; every string checked and freed.
std::vector<std::string> ReadStrings(IEnumString* strings, const char* call) {
    std::vector<std::string> names;
    for (;;) {
        LPOLESTR chunk[64] = {};
        ULONG fetched = 0;
        const HRESULT hr = strings->Next(64, chunk, &fetched);
        EXPECT_TRUE(hr == S_OK || hr == S_FALSE) << call << " " << Hex(hr);
        EXPECT_LE(fetched, 64u);
        for (ULONG i = 0; i < fetched && i < 64; ++i) {
            names.push_back(TakeString(chunk[i], call));
        }
        if (hr != S_OK || fetched == 0) {
            return names;
        }
    }
}

// The other methods of an enumerator of strings.
void EnumStringMethods(IEnumString* strings, std::size_t total, TTranscript& out) {
    out.Add(Line("IEnumString::Reset", strings->Reset()));
    out.Add(Line("IEnumString::Skip(1)", strings->Skip(1)));
    LPOLESTR one = nullptr;
    ULONG fetched = 0;
    HRESULT hr = strings->Next(1, &one, &fetched);
    out.Add(Line("IEnumString::Next(1)", hr) + " fetched=" + std::to_string(fetched));
    if (fetched == 1) {
        TakeString(one, "IEnumString::Next");
    }
    win::ComPtr<IEnumString> clone;
    hr = strings->Clone(clone.put());
    out.Add(Line("IEnumString::Clone", hr));
    if (clone) {
        // The clone continues where the original stood.
        const std::size_t left = ReadStrings(clone.get(), "IEnumString::Clone").size();
        EXPECT_EQ(left + std::min<std::size_t>(total, 2), total);
    }
    out.Add(Line("IEnumString::Skip(past the end)", strings->Skip(static_cast<ULONG>(total) + 5)));
}

// ---- IOPCServer and IOPCCommon --------------------------------------------------------------

void ServerCalls(IOPCServer* server, const TTarget&, TTranscript& out) {
    OPCSERVERSTATUS* status = nullptr;
    HRESULT hr = server->GetStatus(&status);
    out.Add(Line("IOPCServer::GetStatus", hr));
    CheckOutArray(status, 1, "GetStatus");
    if (status) {
        out.Add("  state=" + std::to_string(status->dwServerState) +
                " groups=" + std::to_string(status->dwGroupCount));
        TakeString(status->szVendorInfo, "GetStatus vendor");
        CoTaskMemFree(status);
    }

    TGroup named = AddGroup(server, L"conformance", TRUE, 1000, 11, out);
    IUnknown* duplicate = reinterpret_cast<IUnknown*>(1);
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    hr = server->AddGroup(L"conformance", TRUE, 1000, 12, nullptr, nullptr, 0, &handle, &revised,
                          IID_IOPCItemMgt, &duplicate);
    out.Add(Line("IOPCServer::AddGroup(duplicate name)", hr));
    EXPECT_EQ(duplicate, nullptr);
    TGroup unnamed = AddGroup(server, L"", FALSE, 0, 13, out);

    win::ComPtr<IOPCGroupStateMgt> by_name;
    hr = server->GetGroupByName(L"conformance", IID_IOPCGroupStateMgt,
                                reinterpret_cast<IUnknown**>(by_name.put()));
    out.Add(Line("IOPCServer::GetGroupByName", hr));
    win::ComPtr<IUnknown> missing;
    out.Add(Line("IOPCServer::GetGroupByName(unknown)",
                 server->GetGroupByName(L"no such group", IID_IUnknown, missing.put())));
    EXPECT_FALSE(missing);

    // IEnumUnknown and IEnumString over the groups.
    win::ComPtr<IEnumUnknown> groups;
    hr = server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumUnknown,
                                       reinterpret_cast<IUnknown**>(groups.put()));
    out.Add(Line("IOPCServer::CreateGroupEnumerator(IEnumUnknown)", hr));
    if (groups) {
        IUnknown* fetched_groups[8] = {};
        ULONG fetched = 0;
        hr = groups->Next(8, fetched_groups, &fetched);
        out.Add(Line("IEnumUnknown::Next(8)", hr) + " fetched=" + std::to_string(fetched));
        for (ULONG i = 0; i < fetched && i < 8; ++i) {
            EXPECT_NE(fetched_groups[i], nullptr);
            if (fetched_groups[i]) {
                fetched_groups[i]->Release();
            }
        }
        out.Add(Line("IEnumUnknown::Reset", groups->Reset()));
        out.Add(Line("IEnumUnknown::Skip(1)", groups->Skip(1)));
        win::ComPtr<IEnumUnknown> clone;
        out.Add(Line("IEnumUnknown::Clone", groups->Clone(clone.put())));
        if (clone) {
            IUnknown* next = nullptr;
            fetched = 0;
            hr = clone->Next(1, &next, &fetched);
            out.Add(Line("IEnumUnknown::Next(1) on the clone", hr) +
                    " fetched=" + std::to_string(fetched));
            if (next) {
                next->Release();
            }
        }
        out.Add(Line("IEnumUnknown::Skip(past the end)", groups->Skip(10)));
    }
    win::ComPtr<IEnumString> names;
    hr = server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString,
                                       reinterpret_cast<IUnknown**>(names.put()));
    out.Add(Line("IOPCServer::CreateGroupEnumerator(IEnumString)", hr));
    if (names) {
        const std::vector<std::string> listed = ReadStrings(names.get(), "group names");
        out.Add("  groups=" + std::to_string(listed.size()));
        EXPECT_NE(std::find(listed.begin(), listed.end(), "conformance"), listed.end());
        EnumStringMethods(names.get(), listed.size(), out);
    }

    LPWSTR text = nullptr;
    hr = server->GetErrorString(OPC_E_INVALIDHANDLE, 0x409, &text);
    out.Add(Line("IOPCServer::GetErrorString", hr) + " " +
            (SUCCEEDED(hr) ? TakeString(text, "GetErrorString") : "-"));

    // IOPCCommon
    win::ComPtr<IOPCCommon> common;
    ASSERT_EQ(server->QueryInterface(IID_IOPCCommon, reinterpret_cast<void**>(common.put())), S_OK);
    LCID locale = 0;
    hr = common->GetLocaleID(&locale);
    out.Add(Line("IOPCCommon::GetLocaleID", hr) + " " + std::to_string(locale));
    DWORD count = 0;
    LCID* locales = nullptr;
    hr = common->QueryAvailableLocaleIDs(&count, &locales);
    const std::vector<LCID> listed = Take(locales, count, "QueryAvailableLocaleIDs");
    out.Add(Line("IOPCCommon::QueryAvailableLocaleIDs", hr) + " " + List(listed));
    std::vector<LCID> distinct = listed;
    std::sort(distinct.begin(), distinct.end());
    EXPECT_EQ(std::unique(distinct.begin(), distinct.end()), distinct.end())
        << "a locale is listed twice";
    for (LCID each : listed) {
        out.Add(Line("IOPCCommon::SetLocaleID(listed)", common->SetLocaleID(each)));
    }
    if (std::find(listed.begin(), listed.end(), LCID{0x0419}) == listed.end()) {
        out.Add(Line("IOPCCommon::SetLocaleID(not listed)", common->SetLocaleID(0x0419)));
    }
    text = nullptr;
    hr = common->GetErrorString(OPC_E_UNKNOWNITEMID, &text);
    out.Add(Line("IOPCCommon::GetErrorString", hr) + " " +
            (SUCCEEDED(hr) ? TakeString(text, "IOPCCommon::GetErrorString") : "-"));
    out.Add(Line("IOPCCommon::SetClientName", common->SetClientName(L"conformance 客户端")));

    // Released by the client, the groups go at once (OPC_S_INUSE otherwise).
    by_name.reset();
    groups.reset();
    names.reset();
    RemoveGroup(server, unnamed, out);
    RemoveGroup(server, named, out);
    out.Add(Line("IOPCServer::RemoveGroup(unknown)", server->RemoveGroup(kBadHandle, FALSE)));
}

// ---- IOPCBrowseServerAddressSpace and IEnumString -------------------------------------------

void BrowseCalls(IOPCServer* server, const TTarget& target, TTranscript& out) {
    win::ComPtr<IOPCBrowseServerAddressSpace> browse;
    ASSERT_EQ(server->QueryInterface(IID_IOPCBrowseServerAddressSpace,
                                     reinterpret_cast<void**>(browse.put())),
              S_OK);
    OPCNAMESPACETYPE organization = OPC_NS_FLAT;
    HRESULT hr = browse->QueryOrganization(&organization);
    out.Add(Line("QueryOrganization", hr) + " " + std::to_string(organization));

    auto list = [&](OPCBROWSETYPE type, const wchar_t* filter, const char* call) {
        win::ComPtr<IEnumString> strings;
        const HRESULT result = browse->BrowseOPCItemIDs(type, filter, VT_EMPTY, 0, strings.put());
        std::vector<std::string> names;
        if (strings) {
            names = ReadStrings(strings.get(), call);
        }
        out.Add(Line(call, result) + " " + std::to_string(names.size()));
        return std::make_pair(names, strings);
    };
    auto [branches, branch_enum] = list(OPC_BRANCH, L"", "BrowseOPCItemIDs(branches)");
    out.Add("  " + Names(branches));
    if (branch_enum) {
        EnumStringMethods(branch_enum.get(), branches.size(), out);
    }
    out.Add("  flat " + std::to_string(list(OPC_FLAT, L"", "BrowseOPCItemIDs(flat)").first.size()));
    list(OPC_FLAT, L"*No such thing*", "BrowseOPCItemIDs(flat, a filter nothing matches)");

    out.Add(Line("ChangeBrowsePosition(down)",
                 browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, target.branch.c_str())));
    auto [leaves, leaf_enum] = list(OPC_LEAF, L"", "BrowseOPCItemIDs(leaves)");
    out.Add("  " + Names(leaves));
    out.Add("  " + Names(list(OPC_BRANCH, L"", "BrowseOPCItemIDs(branches below)").first));
    if (!leaves.empty()) {
        LPWSTR id = nullptr;
        const std::wstring leaf = WideFromUtf8(leaves.front());
        hr = browse->GetItemID(const_cast<LPWSTR>(leaf.c_str()), &id);
        out.Add(Line("GetItemID", hr) + " " + (SUCCEEDED(hr) ? TakeString(id, "GetItemID") : "-"));
    }
    LPWSTR unknown = reinterpret_cast<LPWSTR>(1);
    hr = browse->GetItemID(const_cast<LPWSTR>(L"no such leaf"), &unknown);
    out.Add(Line("GetItemID(unknown)", hr));
    if (SUCCEEDED(hr)) {
        TakeString(unknown, "GetItemID(unknown)");
    } else {
        EXPECT_EQ(unknown, nullptr);
    }
    out.Add(Line("ChangeBrowsePosition(up)", browse->ChangeBrowsePosition(OPC_BROWSE_UP, L"")));
    out.Add(Line("ChangeBrowsePosition(up at the root)",
                 browse->ChangeBrowsePosition(OPC_BROWSE_UP, L"")));
    out.Add(Line("ChangeBrowsePosition(down, unknown)",
                 browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"no such branch")));
    out.Add(Line("ChangeBrowsePosition(to the root)",
                 browse->ChangeBrowsePosition(OPC_BROWSE_TO, L"")));

    win::ComPtr<IEnumString> paths;
    hr = browse->BrowseAccessPaths(target.items[0].c_str(), paths.put());
    out.Add(Line("BrowseAccessPaths", hr) + " " +
            std::to_string(paths ? ReadStrings(paths.get(), "BrowseAccessPaths").size() : 0));
}

// ---- IOPCItemProperties ---------------------------------------------------------------------

void PropertyCalls(IOPCServer* server, const TTarget& target, TTranscript& out) {
    win::ComPtr<IOPCItemProperties> properties;
    ASSERT_EQ(
        server->QueryInterface(IID_IOPCItemProperties, reinterpret_cast<void**>(properties.put())),
        S_OK);
    LPWSTR item = const_cast<LPWSTR>(target.items[0].c_str());
    DWORD count = 0;
    DWORD* ids = nullptr;
    LPWSTR* descriptions = nullptr;
    VARTYPE* types = nullptr;
    HRESULT hr = properties->QueryAvailableProperties(item, &count, &ids, &descriptions, &types);
    out.Add(Line("QueryAvailableProperties", hr) + " " + std::to_string(count));
    std::vector<DWORD> available = Take(ids, count, "QueryAvailableProperties ids");
    CheckOutArray(descriptions, count, "QueryAvailableProperties descriptions");
    std::vector<std::string> texts;
    for (DWORD i = 0; descriptions && i < count; ++i) {
        texts.push_back(TakeString(descriptions[i], "a property description"));
    }
    CoTaskMemFree(descriptions);
    const std::vector<VARTYPE> available_types =
        Take(types, count, "QueryAvailableProperties types");
    out.Add("  " + List(available) + " " + List(available_types));
    out.Add("  " + Names(texts));
    count = 7;
    ids = reinterpret_cast<DWORD*>(1);
    hr = properties->QueryAvailableProperties(const_cast<LPWSTR>(kUnknownItem), &count, &ids,
                                              &descriptions, &types);
    out.Add(Line("QueryAvailableProperties(unknown)", hr) + " " + std::to_string(count));
    EXPECT_EQ(ids, nullptr);

    auto get = [&](const char* call, std::vector<DWORD> wanted, LPWSTR of) {
        TInArray<DWORD> in(std::move(wanted));
        VARIANT* values = nullptr;
        HRESULT* errors = nullptr;
        const HRESULT result =
            properties->GetItemProperties(of, in.Count(), in.Data(), &values, &errors);
        in.ExpectUnchanged(call);
        std::string line = Line(call, result);
        if (SUCCEEDED(result)) {
            CheckOutArray(values, in.Count(), call);
            line += " errors=" + Errors(Take(errors, in.Count(), call));
            for (DWORD i = 0; values && i < in.Count(); ++i) {
                // The value, quality and time change; their types do not.
                line += " " + (in[i] == OPC_PROP_CDT || in[i] == OPC_PROP_RIGHTS
                                   ? Text(values[i])
                                   : "vt=" + std::to_string(values[i].vt));
                VariantClear(&values[i]);
            }
            CoTaskMemFree(values);
        } else {
            EXPECT_EQ(values, nullptr) << call;
            EXPECT_EQ(errors, nullptr) << call;
        }
        out.Add(line);
    };
    get("GetItemProperties(one)", {OPC_PROP_CDT}, item);
    get("GetItemProperties(mixed)", {OPC_PROP_CDT, 9999, OPC_PROP_RIGHTS, OPC_PROP_VALUE}, item);
    if (!available.empty()) {
        get("GetItemProperties(all)", available, item);
    }
    get("GetItemProperties(unknown item)", {OPC_PROP_CDT}, const_cast<LPWSTR>(kUnknownItem));
    {
        DWORD none = 0;
        VARIANT* values = nullptr;
        HRESULT* errors = nullptr;
        out.Add(Line("GetItemProperties(zero)",
                     properties->GetItemProperties(item, 0, &none, &values, &errors)));
    }

    auto lookup = [&](const char* call, std::vector<DWORD> wanted, LPWSTR of) {
        TInArray<DWORD> in(std::move(wanted));
        LPWSTR* new_ids = nullptr;
        HRESULT* errors = nullptr;
        const HRESULT result =
            properties->LookupItemIDs(of, in.Count(), in.Data(), &new_ids, &errors);
        in.ExpectUnchanged(call);
        std::string line = Line(call, result);
        if (SUCCEEDED(result)) {
            CheckOutArray(new_ids, in.Count(), call);
            line += " errors=" + Errors(Take(errors, in.Count(), call));
            for (DWORD i = 0; new_ids && i < in.Count(); ++i) {
                line += " " + (new_ids[i] ? TakeString(new_ids[i], call) : std::string("-"));
            }
            CoTaskMemFree(new_ids);
        } else {
            EXPECT_EQ(new_ids, nullptr) << call;
            EXPECT_EQ(errors, nullptr) << call;
        }
        out.Add(line);
    };
    lookup("LookupItemIDs(one)", {OPC_PROP_CDT}, item);
    lookup("LookupItemIDs(mixed)", {OPC_PROP_CDT, OPC_PROP_VALUE, 9999}, item);
    std::vector<DWORD> many(64);
    for (DWORD i = 0; i < many.size(); ++i) {
        many[i] = i + 1;
    }
    lookup("LookupItemIDs(many)", many, item);
    lookup("LookupItemIDs(unknown item)", {OPC_PROP_CDT}, const_cast<LPWSTR>(kUnknownItem));
    {
        DWORD none = 0;
        LPWSTR* new_ids = nullptr;
        HRESULT* errors = nullptr;
        out.Add(Line("LookupItemIDs(zero)",
                     properties->LookupItemIDs(item, 0, &none, &new_ids, &errors)));
    }
}

// ---- IConnectionPointContainer, IConnectionPoint and IOPCShutdown ---------------------------

void ConnectionPointCalls(IUnknown* container_object, REFIID iid, IUnknown* sink, REFIID other,
                          TTranscript& out) {
    win::ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(container_object->QueryInterface(IID_IConnectionPointContainer,
                                               reinterpret_cast<void**>(container.put())),
              S_OK);
    win::ComPtr<IEnumConnectionPoints> points;
    HRESULT hr = container->EnumConnectionPoints(points.put());
    out.Add(Line("IConnectionPointContainer::EnumConnectionPoints", hr));
    if (points) {
        IConnectionPoint* fetched[4] = {};
        ULONG count = 0;
        hr = points->Next(4, fetched, &count);
        out.Add(Line("IEnumConnectionPoints::Next(4)", hr) + " fetched=" + std::to_string(count));
        for (ULONG i = 0; i < count && i < 4; ++i) {
            fetched[i]->Release();
        }
    }
    win::ComPtr<IConnectionPoint> wrong;
    out.Add(Line("FindConnectionPoint(another interface)",
                 container->FindConnectionPoint(other, wrong.put())));
    win::ComPtr<IConnectionPoint> point;
    hr = container->FindConnectionPoint(iid, point.put());
    out.Add(Line("FindConnectionPoint", hr));
    ASSERT_TRUE(point);
    IID point_iid{};
    hr = point->GetConnectionInterface(&point_iid);
    out.Add(Line("IConnectionPoint::GetConnectionInterface", hr) + " " +
            (IsEqualIID(point_iid, iid) ? "same" : "other"));
    win::ComPtr<IConnectionPointContainer> back;
    hr = point->GetConnectionPointContainer(back.put());
    win::ComPtr<IUnknown> a;
    win::ComPtr<IUnknown> b;
    container->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(a.put()));
    if (back) {
        back->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(b.put()));
    }
    out.Add(Line("IConnectionPoint::GetConnectionPointContainer", hr) + " " +
            (a.get() == b.get() ? "same object" : "another object"));
    DWORD cookie = 0;
    hr = point->Advise(sink, &cookie);
    out.Add(Line("IConnectionPoint::Advise", hr) + (cookie != 0 ? " cookie" : " no cookie"));
    DWORD second = 0;
    out.Add(Line("IConnectionPoint::Advise(a second sink)", point->Advise(sink, &second)));
    win::ComPtr<IEnumConnections> connections;
    hr = point->EnumConnections(connections.put());
    out.Add(Line("IConnectionPoint::EnumConnections", hr));
    if (connections) {
        CONNECTDATA data[4] = {};
        ULONG count = 0;
        hr = connections->Next(4, data, &count);
        out.Add(Line("IEnumConnections::Next(4)", hr) + " fetched=" + std::to_string(count));
        for (ULONG i = 0; i < count && i < 4; ++i) {
            EXPECT_EQ(data[i].dwCookie, cookie);
            if (data[i].pUnk) {
                data[i].pUnk->Release();
            }
        }
    }
    if (second != 0) {
        point->Unadvise(second);
    }
    out.Add(Line("IConnectionPoint::Unadvise", point->Unadvise(cookie)));
    out.Add(Line("IConnectionPoint::Unadvise(again)", point->Unadvise(cookie)));
}

void ShutdownPointCalls(IOPCServer* server, const TTarget&, TTranscript& out) {
    win::ComPtr<TShutdownSink> sink = TShutdownSink::Create();
    ConnectionPointCalls(server, IID_IOPCShutdown, sink.get(), IID_IOPCDataCallback, out);
}

// ---- The group: IOPCItemMgt, IEnumOPCItemAttributes, IOPCGroupStateMgt ----------------------

void ItemMgtCalls(IOPCServer* server, const TTarget& target, TTranscript& out) {
    TGroup group = AddGroup(server, L"items", FALSE, 1000, 21, out);
    ASSERT_TRUE(group.items);
    IOPCItemMgt* items = group.items.get();
    {
        OPCITEMDEF none{};
        OPCITEMRESULT* results = nullptr;
        HRESULT* errors = nullptr;
        out.Add(Line("AddItems(zero)", items->AddItems(0, &none, &results, &errors)));
        out.Add(
            Line("ValidateItems(zero)", items->ValidateItems(0, &none, FALSE, &results, &errors)));
    }
    std::vector<std::wstring> mixed = target.items;
    mixed.push_back(kUnknownItem);
    mixed.push_back(L"");
    {
        std::vector<OPCITEMDEF> definitions = Definitions(mixed, 100);
        const std::vector<OPCITEMDEF> before = definitions;
        OPCITEMRESULT* results = nullptr;
        HRESULT* errors = nullptr;
        const HRESULT hr = items->ValidateItems(static_cast<DWORD>(definitions.size()),
                                                definitions.data(), FALSE, &results, &errors);
        EXPECT_TRUE(SameDefinitions(definitions, before));
        TakeItemResults("ValidateItems(mixed)", hr, results, errors, mixed.size(), out);
    }
    const TItemResults one = AddItems(items, "AddItems(one)", {target.items[0]}, 1, out);
    const TItemResults many = AddItems(items, "AddItems(many)", target.many, 1000, out);
    const TItemResults added = AddItems(items, "AddItems(mixed)", mixed, 100, out);
    ASSERT_FALSE(one.handles.empty());
    ASSERT_EQ(added.handles.size(), mixed.size());

    // Valid handles and invalid ones (0, a stranger, one removed below).
    std::vector<OPCHANDLE> handles = {one.handles[0], kBadHandle, added.handles[1], 0};
    auto per_item = [&](const char* call, auto&& invoke) {
        TInArray<OPCHANDLE> in(handles);
        HRESULT* errors = nullptr;
        const HRESULT hr = invoke(in, &errors);
        in.ExpectUnchanged(call);
        out.Add(Line(call, hr) +
                (SUCCEEDED(hr) ? " errors=" + Errors(Take(errors, in.Count(), call)) : ""));
        if (FAILED(hr)) {
            EXPECT_EQ(errors, nullptr) << call;
        }
    };
    per_item("SetActiveState(mixed)", [&](TInArray<OPCHANDLE>& in, HRESULT** errors) {
        return items->SetActiveState(in.Count(), in.Data(), TRUE, errors);
    });
    per_item("SetClientHandles(mixed)", [&](TInArray<OPCHANDLE>& in, HRESULT** errors) {
        TInArray<OPCHANDLE> clients({501, 502, 503, 504});
        const HRESULT hr = items->SetClientHandles(in.Count(), in.Data(), clients.Data(), errors);
        clients.ExpectUnchanged("SetClientHandles client handles");
        return hr;
    });
    per_item("SetDatatypes(mixed)", [&](TInArray<OPCHANDLE>& in, HRESULT** errors) {
        TInArray<VARTYPE> types({VT_BSTR, VT_I4, VT_R8, VT_EMPTY});
        const HRESULT hr = items->SetDatatypes(in.Count(), in.Data(), types.Data(), errors);
        types.ExpectUnchanged("SetDatatypes types");
        return hr;
    });
    {
        OPCHANDLE none = 0;
        HRESULT* errors = nullptr;
        VARTYPE type = VT_I4;
        out.Add(Line("SetActiveState(zero)", items->SetActiveState(0, &none, TRUE, &errors)));
        out.Add(Line("SetClientHandles(zero)", items->SetClientHandles(0, &none, &none, &errors)));
        out.Add(Line("SetDatatypes(zero)", items->SetDatatypes(0, &none, &type, &errors)));
        out.Add(Line("RemoveItems(zero)", items->RemoveItems(0, &none, &errors)));
    }

    // IEnumOPCItemAttributes over every item of the group.
    std::size_t total = 0;
    for (const TItemResults* results : {&one, &many, &added}) {
        total +=
            static_cast<std::size_t>(std::count_if(results->errors.begin(), results->errors.end(),
                                                   [](HRESULT e) { return SUCCEEDED(e); }));
    }
    win::ComPtr<IEnumOPCItemAttributes> attributes;
    HRESULT hr = items->CreateEnumerator(IID_IEnumOPCItemAttributes,
                                         reinterpret_cast<IUnknown**>(attributes.put()));
    out.Add(Line("CreateEnumerator", hr));
    ASSERT_TRUE(attributes);
    auto next = [&](IEnumOPCItemAttributes* from, ULONG wanted, const char* call) {
        OPCITEMATTRIBUTES* array = nullptr;
        ULONG fetched = 0;
        const HRESULT result = from->Next(wanted, &array, &fetched);
        EXPECT_LE(fetched, wanted) << call;
        CheckOutArray(array, fetched, call);
        std::vector<std::string> ids;
        for (ULONG i = 0; array && i < fetched; ++i) {
            ids.push_back(TakeString(array[i].szItemID, call));
            TakeString(array[i].szAccessPath, call);
            CoTaskMemFree(array[i].pBlob);
            VariantClear(&array[i].vEUInfo);
        }
        CoTaskMemFree(array);
        out.Add(Line(call, result) + " fetched=" + std::to_string(fetched));
        return ids;
    };
    const std::vector<std::string> all =
        next(attributes.get(), static_cast<ULONG>(total + 10), "IEnumOPCItemAttributes::Next(all)");
    EXPECT_EQ(all.size(), total);
    out.Add(Line("IEnumOPCItemAttributes::Reset", attributes->Reset()));
    out.Add(Line("IEnumOPCItemAttributes::Skip(1)", attributes->Skip(1)));
    next(attributes.get(), 2, "IEnumOPCItemAttributes::Next(2)");
    win::ComPtr<IEnumOPCItemAttributes> clone;
    out.Add(Line("IEnumOPCItemAttributes::Clone", attributes->Clone(clone.put())));
    if (clone) {
        next(clone.get(), static_cast<ULONG>(total),
             "IEnumOPCItemAttributes::Next(the clone's rest)");
    }
    out.Add(Line("IEnumOPCItemAttributes::Skip(past the end)",
                 attributes->Skip(static_cast<ULONG>(total))));

    per_item("RemoveItems(mixed)", [&](TInArray<OPCHANDLE>& in, HRESULT** errors) {
        return items->RemoveItems(in.Count(), in.Data(), errors);
    });
    per_item("RemoveItems(again)", [&](TInArray<OPCHANDLE>& in, HRESULT** errors) {
        return items->RemoveItems(in.Count(), in.Data(), errors);
    });
    attributes.reset();
    clone.reset();
    RemoveGroup(server, group, out);
}

void GroupStateCalls(IOPCServer* server, const TTarget& target, TTranscript& out) {
    TGroup group = AddGroup(server, L"state", FALSE, 1000, 31, out);
    TGroup other = AddGroup(server, L"other", FALSE, 1000, 32, out);
    ASSERT_TRUE(group.items);
    AddItems(group.items.get(), "AddItems", target.items, 1, out);
    win::ComPtr<IOPCGroupStateMgt> state;
    ASSERT_EQ(group.items.query(state), S_OK);
    auto get = [&](IOPCGroupStateMgt* of, const char* call) {
        DWORD rate = 0;
        BOOL active = TRUE;
        LPWSTR name = nullptr;
        LONG bias = 1;
        FLOAT deadband = 1.0f;
        DWORD lcid = 0;
        OPCHANDLE client = 0;
        OPCHANDLE handle = 0;
        const HRESULT hr =
            of->GetState(&rate, &active, &name, &bias, &deadband, &lcid, &client, &handle);
        out.Add(Line(call, hr) + " rate=" + std::to_string(rate) + " active=" +
                std::to_string(active) + " name=" + (name ? TakeString(name, call) : "-") +
                " bias=" + std::to_string(bias) + " deadband=" + std::to_string(deadband) +
                " lcid=" + std::to_string(lcid) + " client=" + std::to_string(client));
        return handle;
    };
    EXPECT_EQ(get(state.get(), "GetState"), group.handle);
    DWORD rate = 500;
    DWORD revised = 0;
    BOOL active = FALSE;
    LONG bias = 60;
    FLOAT deadband = 5.0f;
    DWORD lcid = 0x409;
    OPCHANDLE client = 33;
    out.Add(Line("SetState",
                 state->SetState(&rate, &revised, &active, &bias, &deadband, &lcid, &client)) +
            " revised=" + std::to_string(revised));
    revised = 0;
    out.Add(Line("SetState(nothing)",
                 state->SetState(nullptr, &revised, nullptr, nullptr, nullptr, nullptr, nullptr)) +
            " revised=" + std::to_string(revised));
    FLOAT bad_deadband = 101.0f;
    out.Add(Line("SetState(deadband 101)", state->SetState(nullptr, &revised, nullptr, nullptr,
                                                           &bad_deadband, nullptr, nullptr)));
    get(state.get(), "GetState(after SetState)");
    out.Add(Line("SetName", state->SetName(L"state renamed")));
    out.Add(Line("SetName(another group's name)", state->SetName(L"other")));
    out.Add(Line("SetName(empty)", state->SetName(L"")));
    get(state.get(), "GetState(after SetName)");

    win::ComPtr<IOPCGroupStateMgt> clone;
    HRESULT hr = state->CloneGroup(L"state clone", IID_IOPCGroupStateMgt,
                                   reinterpret_cast<IUnknown**>(clone.put()));
    out.Add(Line("CloneGroup", hr));
    OPCHANDLE clone_handle = 0;
    if (clone) {
        clone_handle = get(clone.get(), "GetState(the clone)");
        win::ComPtr<IOPCItemMgt> clone_items;
        clone.query(clone_items);
        win::ComPtr<IEnumOPCItemAttributes> attributes;
        if (clone_items) {
            clone_items->CreateEnumerator(IID_IEnumOPCItemAttributes,
                                          reinterpret_cast<IUnknown**>(attributes.put()));
        }
        ULONG fetched = 0;
        OPCITEMATTRIBUTES* array = nullptr;
        if (attributes && SUCCEEDED(attributes->Next(100, &array, &fetched))) {
            for (ULONG i = 0; array && i < fetched; ++i) {
                CoTaskMemFree(array[i].szItemID);
                CoTaskMemFree(array[i].szAccessPath);
                CoTaskMemFree(array[i].pBlob);
                VariantClear(&array[i].vEUInfo);
            }
            CoTaskMemFree(array);
        }
        out.Add("  the clone's items=" + std::to_string(fetched));
    }
    win::ComPtr<IUnknown> duplicate;
    out.Add(Line("CloneGroup(a taken name)",
                 state->CloneGroup(L"other", IID_IUnknown, duplicate.put())));
    clone.reset();
    state.reset();
    if (clone_handle != 0) {
        out.Add(
            Line("IOPCServer::RemoveGroup(the clone)", server->RemoveGroup(clone_handle, FALSE)));
    }
    RemoveGroup(server, other, out);
    RemoveGroup(server, group, out);
}

// ---- IOPCSyncIO -----------------------------------------------------------------------------

void SyncIoCalls(IOPCServer* server, const TTarget& target, TTranscript& out) {
    TGroup group = AddGroup(server, L"sync", TRUE, 1000, 41, out);
    ASSERT_TRUE(group.items);
    std::vector<std::wstring> ids = target.items;
    ids.push_back(target.writable);
    const TItemResults added = AddItems(group.items.get(), "AddItems", ids, 1, out);
    const TItemResults many = AddItems(group.items.get(), "AddItems(many)", target.many, 1000, out);
    ASSERT_EQ(added.handles.size(), ids.size());
    win::ComPtr<IOPCSyncIO> io;
    ASSERT_EQ(group.items.query(io), S_OK);

    auto read = [&](const char* call, OPCDATASOURCE source, std::vector<OPCHANDLE> handles,
                    bool values) {
        TInArray<OPCHANDLE> in(std::move(handles));
        OPCITEMSTATE* states = nullptr;
        HRESULT* errors = nullptr;
        const HRESULT hr = io->Read(source, in.Count(), in.Data(), &states, &errors);
        in.ExpectUnchanged(call);
        std::string line = Line(call, hr);
        if (SUCCEEDED(hr)) {
            CheckOutArray(states, in.Count(), call);
            const std::vector<HRESULT> item_errors = Take(errors, in.Count(), call);
            line += " errors=" + Errors(item_errors);
            for (DWORD i = 0; states && i < in.Count(); ++i) {
                if (values) {
                    line += " [" + std::to_string(states[i].hClient) + " " +
                            std::to_string(states[i].wQuality) + " " + Text(states[i].vDataValue) +
                            "]";
                }
                VariantClear(&states[i].vDataValue);
            }
            CoTaskMemFree(states);
        } else {
            EXPECT_EQ(states, nullptr) << call;
            EXPECT_EQ(errors, nullptr) << call;
        }
        out.Add(line);
    };
    {
        OPCHANDLE none = 0;
        OPCITEMSTATE* states = nullptr;
        HRESULT* errors = nullptr;
        VARIANT value;
        VariantInit(&value);
        out.Add(Line("IOPCSyncIO::Read(zero)", io->Read(OPC_DS_CACHE, 0, &none, &states, &errors)));
        out.Add(Line("IOPCSyncIO::Write(zero)", io->Write(0, &none, &value, &errors)));
    }
    read("IOPCSyncIO::Read(device, one)", OPC_DS_DEVICE, {added.handles[0]}, true);
    // The values of the items that stay put; the writable one's depends on earlier writes.
    read("IOPCSyncIO::Read(device)", OPC_DS_DEVICE,
         std::vector<OPCHANDLE>(added.handles.begin(), added.handles.end() - 1), true);
    read("IOPCSyncIO::Read(device, with the writable one)", OPC_DS_DEVICE, added.handles, false);
    read("IOPCSyncIO::Read(cache, mixed)", OPC_DS_CACHE,
         {added.handles[0], kBadHandle, 0, added.handles[1]}, false);
    read("IOPCSyncIO::Read(device, many)", OPC_DS_DEVICE, many.handles, false);

    auto write = [&](const char* call, std::vector<OPCHANDLE> handles) {
        TInArray<OPCHANDLE> in(std::move(handles));
        std::vector<win::Variant> values(in.Count(), target.write_value);
        std::vector<std::string> before;
        for (const win::Variant& value : values) {
            before.push_back(Text(value.value()));
        }
        HRESULT* errors = nullptr;
        const HRESULT hr =
            io->Write(in.Count(), in.Data(), reinterpret_cast<VARIANT*>(values.data()), &errors);
        in.ExpectUnchanged(call);
        for (std::size_t i = 0; i < values.size(); ++i) {
            EXPECT_EQ(Text(values[i].value()), before[i]) << call << " changed a value";
        }
        out.Add(Line(call, hr) +
                (SUCCEEDED(hr) ? " errors=" + Errors(Take(errors, in.Count(), call)) : ""));
    };
    const OPCHANDLE writable = added.handles.back();
    write("IOPCSyncIO::Write(one)", {writable});
    read("IOPCSyncIO::Read(the written item)", OPC_DS_DEVICE, {writable}, true);
    write("IOPCSyncIO::Write(mixed)", {writable, kBadHandle, added.handles[0]});
    io.reset();
    RemoveGroup(server, group, out);
}

// ---- IOPCAsyncIO2 and IOPCDataCallback ------------------------------------------------------

std::vector<OPCHANDLE> Sorted(std::vector<OPCHANDLE> handles) {
    std::sort(handles.begin(), handles.end());
    return handles;
}

// Waits for the callback of kind with the transaction and returns it.
std::optional<TCallbackRecord> WaitCallback(TDataSink& sink, const std::string& kind,
                                            DWORD transaction) {
    std::optional<TCallbackRecord> found;
    WaitFor([&] {
        for (const TCallbackRecord& record : sink.Records()) {
            if (record.kind == kind && record.transaction == transaction) {
                found = record;
                return true;
            }
        }
        return false;
    });
    return found;
}

void AsyncIo2Calls(IOPCServer* server, const TTarget& target, TTranscript& out) {
    TGroup group = AddGroup(server, L"async2", TRUE, 100, 51, out);
    ASSERT_TRUE(group.items);
    std::vector<std::wstring> ids = target.items;
    ids.push_back(target.writable);
    const TItemResults added = AddItems(group.items.get(), "AddItems", ids, 1, out);
    ASSERT_EQ(added.handles.size(), ids.size());
    win::ComPtr<IOPCAsyncIO2> io;
    ASSERT_EQ(group.items.query(io), S_OK);
    DWORD cancel_id = 0;
    HRESULT* errors = nullptr;
    OPCHANDLE none = 0;
    out.Add(Line("IOPCAsyncIO2::Read(no callback)", io->Read(1, &none, 1, &cancel_id, &errors)));

    win::ComPtr<TDataSink> sink = TDataSink::Create();
    win::ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(group.items.query(container), S_OK);
    win::ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(IID_IOPCDataCallback, point.put()), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(sink.get(), &cookie), S_OK);
    // The advise brings each active item once; no tick repeats a value that did not change.
    ASSERT_TRUE(WaitFor([&] { return sink->Count("change") > 0; }));
    WaitFor([] { return false; }, 500);
    std::vector<OPCHANDLE> reported;
    for (const TCallbackRecord& record : sink->Records()) {
        reported.insert(reported.end(), record.handles.begin(), record.handles.end());
    }
    std::vector<OPCHANDLE> expected(ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) {
        expected[i] = static_cast<OPCHANDLE>(i + 1);
    }
    EXPECT_EQ(Sorted(reported), expected) << "the advise reported an item twice";
    out.Add("  advise reported " + List(Sorted(reported)));

    auto request = [&](const char* call, DWORD transaction, std::vector<OPCHANDLE> handles,
                       bool write) {
        TInArray<OPCHANDLE> in(std::move(handles));
        std::vector<win::Variant> values(in.Count(), target.write_value);
        DWORD id = 0;
        HRESULT* item_errors = nullptr;
        const HRESULT hr =
            write ? io->Write(in.Count(), in.Data(), reinterpret_cast<VARIANT*>(values.data()),
                              transaction, &id, &item_errors)
                  : io->Read(in.Count(), in.Data(), transaction, &id, &item_errors);
        in.ExpectUnchanged(call);
        std::string line = Line(call, hr);
        if (hr == S_OK || hr == S_FALSE) {
            // Issue of the past: S_OK with no error array crashed clients.
            line += " errors=" + Errors(Take(item_errors, in.Count(), call));
            EXPECT_NE(id, 0u) << call;
            const std::optional<TCallbackRecord> done =
                WaitCallback(*sink, write ? "write" : "read", transaction);
            EXPECT_TRUE(done.has_value()) << call << ": no completion";
            if (done) {
                line += " completion " + Hex(done->master_error) + " " + List(done->handles) + " " +
                        Errors(done->errors);
            }
        } else {
            EXPECT_EQ(item_errors, nullptr) << call;
        }
        out.Add(line);
    };
    out.Add(Line("IOPCAsyncIO2::Read(zero)", io->Read(0, &none, 100, &cancel_id, &errors)));
    request("IOPCAsyncIO2::Read(one)", 101, {added.handles[0]}, false);
    request("IOPCAsyncIO2::Read", 102, added.handles, false);
    request("IOPCAsyncIO2::Read(mixed)", 103, {added.handles[1], kBadHandle}, false);
    request("IOPCAsyncIO2::Write(one)", 104, {added.handles.back()}, true);
    request("IOPCAsyncIO2::Write(mixed)", 105, {kBadHandle, added.handles.back()}, true);

    HRESULT hr = io->Refresh2(OPC_DS_CACHE, 106, &cancel_id);
    out.Add(Line("IOPCAsyncIO2::Refresh2", hr));
    if (SUCCEEDED(hr)) {
        const std::optional<TCallbackRecord> done = WaitCallback(*sink, "change", 106);
        out.Add("  refresh " + (done ? List(Sorted(done->handles)) : std::string("none")));
    }
    out.Add(Line("IOPCAsyncIO2::Refresh2(bad source)",
                 io->Refresh2(OutOfRange<OPCDATASOURCE>(7), 107, &cancel_id)));
    out.Add(Line("IOPCAsyncIO2::Cancel2(unknown)", io->Cancel2(0x7FFFFFF0)));
    // Whether a cancel arrives before the read ran is up to the processes; a cancelled
    // read never completes.
    errors = nullptr;
    OPCHANDLE first = added.handles[0];
    if (SUCCEEDED(io->Read(1, &first, 108, &cancel_id, &errors))) {
        CoTaskMemFree(errors);
        if (io->Cancel2(cancel_id) == S_OK) {
            WaitFor([] { return false; }, 300);
            for (const TCallbackRecord& record : sink->Records()) {
                EXPECT_FALSE(record.kind == "read" && record.transaction == 108)
                    << "a cancelled read completed";
            }
        }
    }
    out.Add(Line("IOPCAsyncIO2::SetEnable(false)", io->SetEnable(FALSE)));
    BOOL enabled = TRUE;
    hr = io->GetEnable(&enabled);
    out.Add(Line("IOPCAsyncIO2::GetEnable", hr) + " " + std::to_string(enabled));
    out.Add(Line("IOPCAsyncIO2::SetEnable(true)", io->SetEnable(TRUE)));
    out.Add(Line("IConnectionPoint::Unadvise", point->Unadvise(cookie)));
    out.Add(
        Line("IOPCAsyncIO2::Refresh2(no callback)", io->Refresh2(OPC_DS_CACHE, 109, &cancel_id)));
    io.reset();
    point.reset();
    container.reset();
    RemoveGroup(server, group, out);
}

void DataCallbackPointCalls(IOPCServer* server, const TTarget&, TTranscript& out) {
    TGroup group = AddGroup(server, L"point", FALSE, 1000, 61, out);
    ASSERT_TRUE(group.items);
    win::ComPtr<TDataSink> sink = TDataSink::Create();
    ConnectionPointCalls(group.items.get(), IID_IOPCDataCallback, sink.get(), IID_IOPCShutdown,
                         out);
    RemoveGroup(server, group, out);
}

// ---- IOPCAsyncIO and IDataObject ------------------------------------------------------------

FORMATETC Format(int stream) {
    FORMATETC format{};
    format.cfFormat = StreamClipFormat(stream);
    format.dwAspect = DVASPECT_CONTENT;
    format.lindex = -1;
    format.tymed = TYMED_HGLOBAL;
    return format;
}

void AsyncIo1Calls(IOPCServer* server, const TTarget& target, TTranscript& out) {
    TGroup group = AddGroup(server, L"async1", TRUE, 100, 71, out);
    ASSERT_TRUE(group.items);
    std::vector<std::wstring> ids = target.items;
    ids.push_back(target.writable);
    const TItemResults added = AddItems(group.items.get(), "AddItems", ids, 1, out);
    ASSERT_EQ(added.handles.size(), ids.size());
    win::ComPtr<IDataObject> data;
    win::ComPtr<IOPCAsyncIO> io;
    ASSERT_EQ(group.items.query(data), S_OK);
    ASSERT_EQ(group.items.query(io), S_OK);

    FORMATETC format = Format(sfData);
    FORMATETC write_format = Format(sfWriteComplete);
    out.Add(Line("IDataObject::QueryGetData", data->QueryGetData(&format)));
    STGMEDIUM medium{};
    out.Add(Line("IDataObject::GetData", data->GetData(&format, &medium)));
    ReleaseStgMedium(&medium);
    medium = STGMEDIUM{};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = GlobalAlloc(GMEM_MOVEABLE, 16);
    out.Add(Line("IDataObject::GetDataHere", data->GetDataHere(&format, &medium)));
    FORMATETC canonical{};
    out.Add(Line("IDataObject::GetCanonicalFormatEtc",
                 data->GetCanonicalFormatEtc(&format, &canonical)));
    out.Add(Line("IDataObject::SetData", data->SetData(&format, &medium, FALSE)));
    ReleaseStgMedium(&medium);
    win::ComPtr<IEnumFORMATETC> formats;
    out.Add(Line("IDataObject::EnumFormatEtc", data->EnumFormatEtc(DATADIR_GET, formats.put())));
    win::ComPtr<IEnumSTATDATA> advises;
    out.Add(Line("IDataObject::EnumDAdvise", data->EnumDAdvise(advises.put())));

    win::ComPtr<TStreamSink> values = TStreamSink::Create();
    win::ComPtr<TStreamSink> writes = TStreamSink::Create();
    DWORD connection = 0;
    DWORD write_connection = 0;
    HRESULT hr = data->DAdvise(&format, ADVF_PRIMEFIRST, values.get(), &connection);
    out.Add(Line("IDataObject::DAdvise", hr) + " " + std::to_string(connection));
    hr = data->DAdvise(&write_format, 0, writes.get(), &write_connection);
    out.Add(Line("IDataObject::DAdvise(write complete)", hr) + " " +
            std::to_string(write_connection));
    FORMATETC unknown_format = format;
    unknown_format.cfFormat = CF_TEXT;
    DWORD unknown_connection = 0;
    out.Add(Line("IDataObject::DAdvise(unknown format)",
                 data->DAdvise(&unknown_format, 0, values.get(), &unknown_connection)));
    // The advise brings the values once.
    ASSERT_TRUE(WaitFor([&] { return values->Count() > 0; }));

    auto request = [&](const char* call, std::vector<OPCHANDLE> handles, bool write) {
        TInArray<OPCHANDLE> in(std::move(handles));
        std::vector<win::Variant> items_values(in.Count(), target.write_value);
        DWORD transaction = 0;
        HRESULT* errors = nullptr;
        const HRESULT result =
            write
                ? io->Write(write_connection, in.Count(), in.Data(),
                            reinterpret_cast<VARIANT*>(items_values.data()), &transaction, &errors)
                : io->Read(connection, OPC_DS_CACHE, in.Count(), in.Data(), &transaction, &errors);
        in.ExpectUnchanged(call);
        std::string line = Line(call, result);
        if (result == S_OK || result == S_FALSE) {
            line += " errors=" + Errors(Take(errors, in.Count(), call));
        } else {
            EXPECT_EQ(errors, nullptr) << call;
        }
        if (result == S_OK) {
            EXPECT_NE(transaction, 0u) << call;
            TStreamSink& sink = write ? *writes.get() : *values.get();
            const std::size_t offset = write ? 8 : 12;
            const bool arrived = WaitFor([&] {
                const std::vector<DWORD> done = sink.Transactions(offset);
                return std::find(done.begin(), done.end(), transaction) != done.end();
            });
            EXPECT_TRUE(arrived) << call << ": no block";
            line += arrived ? " block" : " no block";
        }
        out.Add(line);
    };
    {
        OPCHANDLE none = 0;
        DWORD transaction = 0;
        HRESULT* errors = nullptr;
        out.Add(Line("IOPCAsyncIO::Read(zero)",
                     io->Read(connection, OPC_DS_CACHE, 0, &none, &transaction, &errors)));
    }
    request("IOPCAsyncIO::Read(one)", {added.handles[0]}, false);
    request("IOPCAsyncIO::Read", added.handles, false);
    request("IOPCAsyncIO::Read(mixed)", {added.handles[0], kBadHandle}, false);
    request("IOPCAsyncIO::Write(one)", {added.handles.back()}, true);
    request("IOPCAsyncIO::Write(mixed)", {kBadHandle, added.handles.back()}, true);
    DWORD transaction = 0;
    hr = io->Refresh(connection, OPC_DS_DEVICE, &transaction);
    out.Add(Line("IOPCAsyncIO::Refresh", hr));
    if (SUCCEEDED(hr)) {
        EXPECT_TRUE(WaitFor([&] {
            const std::vector<DWORD> done = values->Transactions(12);
            return std::find(done.begin(), done.end(), transaction) != done.end();
        }));
    }
    out.Add(Line("IOPCAsyncIO::Refresh(unknown connection)",
                 io->Refresh(7, OPC_DS_CACHE, &transaction)));
    out.Add(Line("IOPCAsyncIO::Cancel(unknown)", io->Cancel(0x7FFFFFF0)));
    out.Add(Line("IDataObject::DUnadvise", data->DUnadvise(connection)));
    out.Add(Line("IDataObject::DUnadvise(again)", data->DUnadvise(connection)));
    out.Add(Line("IDataObject::DUnadvise(write complete)", data->DUnadvise(write_connection)));
    data.reset();
    io.reset();
    formats.reset();
    advises.reset();
    RemoveGroup(server, group, out);
}

}  // namespace

const std::vector<TScenario>& Scenarios() {
    static const std::vector<TScenario> scenarios = {
        {"IOPCServer, IOPCCommon, IEnumUnknown, IEnumString", ServerCalls},
        {"IOPCBrowseServerAddressSpace, IEnumString", BrowseCalls},
        {"IOPCItemProperties", PropertyCalls},
        {"IConnectionPointContainer, IConnectionPoint (IOPCShutdown)", ShutdownPointCalls},
        {"IOPCItemMgt, IEnumOPCItemAttributes", ItemMgtCalls},
        {"IOPCGroupStateMgt", GroupStateCalls},
        {"IOPCSyncIO", SyncIoCalls},
        {"IConnectionPointContainer, IConnectionPoint (IOPCDataCallback)", DataCallbackPointCalls},
        {"IOPCAsyncIO2, IOPCDataCallback", AsyncIo2Calls},
        {"IOPCAsyncIO, IDataObject", AsyncIo1Calls},
    };
    return scenarios;
}

}  // namespace porvex::opc::conformance
