// IOPCBrowseServerAddressSpace on a server object.
#include <gtest/gtest.h>

#include "opc/com/errors.h"
#include "test_support.h"

namespace porvex::opc::test {
namespace {

// A value outside the enumeration, as a faulty client sends it. Made at run time: a
// constant outside an enumeration's range is not a value of it.
template <class Enum>
Enum OutOfRange(int value) {
    return static_cast<Enum>(value);
}

std::vector<std::wstring> Drain(IEnumString* names) {
    std::vector<std::wstring> out;
    LPOLESTR batch[3];
    ULONG fetched = 0;
    while (SUCCEEDED(names->Next(3, batch, &fetched)) && fetched > 0) {
        for (ULONG i = 0; i < fetched; ++i) {
            out.emplace_back(batch[i]);
            CoTaskMemFree(batch[i]);
        }
    }
    return out;
}

class BrowseTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        server_->options = {soHierarchical};
        server_->build_namespace = [](TItemIdList& root) {
            root.AddItem(L"Gate.North.State", kAccessRead, VT_I2);
            root.AddItem(L"Gate.North.Open", kAccessReadWrite, VT_I2);
            root.AddItem(L"Gate.North.Card", kAccessRead, VT_BSTR);
            root.AddItem(L"Gate.South.State", kAccessRead, VT_I2);
            root.AddItem(L"Hall.State", kAccessRead, VT_I2);
            root.AddItem(L"Top", kAccessRead, VT_R8);
        };
        ASSERT_EQ(client_.query(browse_), S_OK);
    }

    std::vector<std::wstring> Browse(OPCBROWSETYPE type, const wchar_t* filter = L"",
                                     VARTYPE vt = VT_EMPTY, DWORD rights = 0,
                                     HRESULT* result = nullptr) {
        win::ComPtr<IEnumString> names;
        const HRESULT hr = browse_->BrowseOPCItemIDs(type, filter, vt, rights, names.put());
        if (result) {
            *result = hr;
        }
        return names ? Drain(names.get()) : std::vector<std::wstring>{};
    }

    std::wstring ItemId(const wchar_t* name, HRESULT* result) {
        LPWSTR id = nullptr;
        *result = browse_->GetItemID(const_cast<LPWSTR>(name), &id);
        std::wstring out = id ? id : L"(none)";
        CoTaskMemFree(id);
        return out;
    }

    win::ComPtr<IOPCBrowseServerAddressSpace> browse_;
};

TEST_F(BrowseTest, TheNamespaceIsBuiltOnFirstNeed) {
    EXPECT_EQ(server_->Count(L"LoadNamespace"), 0);
    OPCNAMESPACETYPE type{};
    EXPECT_EQ(browse_->QueryOrganization(&type), S_OK);
    EXPECT_EQ(type, OPC_NS_HIERARCHIAL);
    Browse(OPC_BRANCH);
    Browse(OPC_LEAF);
    EXPECT_EQ(server_->Count(L"LoadNamespace"), 1);
}

TEST_F(BrowseTest, BranchesLeavesAndFlatLists) {
    EXPECT_EQ(Browse(OPC_BRANCH), (std::vector<std::wstring>{L"Gate", L"Hall"}));
    EXPECT_EQ(Browse(OPC_LEAF), (std::vector<std::wstring>{L"Top"}));
    EXPECT_EQ(Browse(OPC_FLAT), (std::vector<std::wstring>{L"Gate.North.Card", L"Gate.North.Open",
                                                           L"Gate.North.State", L"Gate.South.State",
                                                           L"Hall.State", L"Top"}));
    ASSERT_EQ(browse_->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"gate.north"), S_OK);
    EXPECT_EQ(Browse(OPC_LEAF), (std::vector<std::wstring>{L"Card", L"Open", L"State"}));
    EXPECT_EQ(Browse(OPC_FLAT), (std::vector<std::wstring>{L"Gate.North.Card", L"Gate.North.Open",
                                                           L"Gate.North.State"}));
    EXPECT_EQ(Browse(OPC_BRANCH), std::vector<std::wstring>{});
}

TEST_F(BrowseTest, FiltersOnNameRightsAndType) {
    EXPECT_EQ(Browse(OPC_FLAT, L"*.State"),
              (std::vector<std::wstring>{L"Gate.North.State", L"Gate.South.State", L"Hall.State"}));
    EXPECT_EQ(Browse(OPC_FLAT, L"", VT_EMPTY, OPC_WRITEABLE),
              std::vector<std::wstring>{L"Gate.North.Open"});
    EXPECT_EQ(Browse(OPC_FLAT, L"", VT_BSTR), std::vector<std::wstring>{L"Gate.North.Card"});
    EXPECT_EQ(Browse(OPC_BRANCH, L"H*"), std::vector<std::wstring>{L"Hall"});
    HRESULT hr = E_FAIL;
    EXPECT_TRUE(Browse(OPC_FLAT, L"nothing*", VT_EMPTY, 0, &hr).empty());
    EXPECT_EQ(hr, S_FALSE);
    Browse(OPC_FLAT, L"[oops", VT_EMPTY, 0, &hr);
    EXPECT_EQ(hr, OPC_E_INVALIDFILTER);
    Browse(OutOfRange<OPCBROWSETYPE>(4), L"", VT_EMPTY, 0, &hr);
    EXPECT_EQ(hr, E_INVALIDARG);
    Browse(OPC_FLAT, L"", VT_EMPTY, 4, &hr);
    EXPECT_EQ(hr, E_INVALIDARG);
    EXPECT_EQ(browse_->BrowseOPCItemIDs(OPC_FLAT, L"", VT_EMPTY, 0, nullptr), E_INVALIDARG);
}

TEST_F(BrowseTest, PositionsMoveUpDownAndTo) {
    EXPECT_EQ(browse_->ChangeBrowsePosition(OPC_BROWSE_UP, L""), E_FAIL);
    EXPECT_EQ(browse_->ChangeBrowsePosition(OPC_BROWSE_DOWN, L""), E_INVALIDARG);
    EXPECT_EQ(browse_->ChangeBrowsePosition(OPC_BROWSE_DOWN, nullptr), E_INVALIDARG);
    EXPECT_EQ(browse_->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"Top"), E_INVALIDARG);
    EXPECT_EQ(browse_->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"Nowhere"), E_INVALIDARG);
    EXPECT_EQ(browse_->ChangeBrowsePosition(OutOfRange<OPCBROWSEDIRECTION>(9), L"Gate"),
              E_INVALIDARG);
    ASSERT_EQ(browse_->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"Gate"), S_OK);
    ASSERT_EQ(browse_->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"SOUTH"), S_OK);
    EXPECT_EQ(Browse(OPC_LEAF), std::vector<std::wstring>{L"State"});
    ASSERT_EQ(browse_->ChangeBrowsePosition(OPC_BROWSE_UP, L""), S_OK);
    EXPECT_EQ(Browse(OPC_BRANCH), (std::vector<std::wstring>{L"North", L"South"}));
    ASSERT_EQ(browse_->ChangeBrowsePosition(OPC_BROWSE_TO, L"Hall"), S_OK);
    EXPECT_EQ(Browse(OPC_LEAF), std::vector<std::wstring>{L"State"});
    EXPECT_EQ(browse_->ChangeBrowsePosition(OPC_BROWSE_TO, L"Hall.State"), E_INVALIDARG);
    ASSERT_EQ(browse_->ChangeBrowsePosition(OPC_BROWSE_TO, L""), S_OK);
    EXPECT_EQ(Browse(OPC_LEAF), std::vector<std::wstring>{L"Top"});
}

TEST_F(BrowseTest, GetItemIdQualifiesFromThePositionOrTheRoot) {
    HRESULT hr = E_FAIL;
    ASSERT_EQ(browse_->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"Gate"), S_OK);
    EXPECT_EQ(ItemId(L"North.State", &hr), L"Gate.North.State");
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(ItemId(L"North", &hr), L"Gate.North");
    EXPECT_EQ(ItemId(L"Hall.State", &hr), L"Hall.State");
    EXPECT_EQ(ItemId(L"Nowhere", &hr), L"(none)");
    EXPECT_EQ(hr, E_INVALIDARG);
    EXPECT_EQ(ItemId(L"", &hr), L"");
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(ItemId(nullptr, &hr), L"(none)");
    EXPECT_EQ(hr, S_OK);
    LPWSTR none = nullptr;
    EXPECT_EQ(browse_->BrowseAccessPaths(L"Top", nullptr), E_NOTIMPL);
    EXPECT_EQ(browse_->GetItemID(const_cast<LPWSTR>(L"Top"), nullptr), E_INVALIDARG);
    (void)none;
}

TEST_F(BrowseTest, PositionsSurviveARebuildWhenTheirBranchDoes) {
    win::ComPtr<IOPCServer> other = Connect();
    win::ComPtr<IOPCBrowseServerAddressSpace> other_browse;
    ASSERT_EQ(other.query(other_browse), S_OK);
    ASSERT_EQ(browse_->ChangeBrowsePosition(OPC_BROWSE_TO, L"Gate.South"), S_OK);
    ASSERT_EQ(other_browse->ChangeBrowsePosition(OPC_BROWSE_TO, L"Hall"), S_OK);
    server_->build_namespace = [](TItemIdList& root) {
        root.AddItem(L"Gate.South.Other", kAccessRead, VT_I2);
    };
    server_->ReloadNamespace(false);
    EXPECT_EQ(Browse(OPC_LEAF), std::vector<std::wstring>{L"Other"});
    win::ComPtr<IEnumString> names;
    ASSERT_EQ(other_browse->BrowseOPCItemIDs(OPC_BRANCH, L"", VT_EMPTY, 0, names.put()), S_OK);
    EXPECT_EQ(Drain(names.get()), std::vector<std::wstring>{L"Gate"});  // back at the root
}

TEST_F(BrowseTest, MergingKeepsWhatIsThere) {
    Browse(OPC_FLAT);
    server_->build_namespace = [](TItemIdList& root) {
        root.AddItem(L"Top", kAccessRead, VT_R8);
        root.AddItem(L"New", kAccessRead, VT_R8);
    };
    server_->ReloadNamespace(true);
    EXPECT_EQ(Browse(OPC_LEAF), (std::vector<std::wstring>{L"New", L"Top"}));
    EXPECT_EQ(Browse(OPC_BRANCH), (std::vector<std::wstring>{L"Gate", L"Hall"}));
}

TEST_F(BrowseTest, AFailingLoadPropagatesAndKeepsWhatWasAdded) {
    server_->build_namespace = [](TItemIdList& root) {
        root.AddItem(L"A", kAccessRead, VT_I2);
        root.AddItem(L"A", kAccessRead, VT_I2);
        root.AddItem(L"B", kAccessRead, VT_I2);
    };
    EXPECT_THROW(server_->ReloadNamespace(false), EListError);
    EXPECT_EQ(Browse(OPC_LEAF), std::vector<std::wstring>{L"A"});
}

TEST_F(BrowseTest, AFlatNamespaceHasNoPositions) {
    server_->options = {};
    server_->build_namespace = [](TItemIdList& root) {
        root.AddItem(L"a.b", kAccessRead, VT_I2);
        root.AddItem(L"c", kAccessRead, VT_I2);
    };
    OPCNAMESPACETYPE type{};
    EXPECT_EQ(browse_->QueryOrganization(&type), S_OK);
    EXPECT_EQ(type, OPC_NS_FLAT);
    EXPECT_EQ(browse_->ChangeBrowsePosition(OPC_BROWSE_TO, L""), E_FAIL);
    EXPECT_EQ(browse_->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"a"), E_FAIL);
    EXPECT_EQ(Browse(OPC_FLAT), (std::vector<std::wstring>{L"a.b", L"c"}));
    EXPECT_EQ(Browse(OPC_LEAF), (std::vector<std::wstring>{L"a.b", L"c"}));
    HRESULT hr = E_FAIL;
    EXPECT_EQ(ItemId(L"a.b", &hr), L"a.b");
    EXPECT_EQ(ItemId(L"a", &hr), L"(none)");
    EXPECT_EQ(hr, E_INVALIDARG);
}

TEST_F(BrowseTest, NoBrowseRefusesTheInterface) {
    server_->options = {soNoBrowse};
    win::ComPtr<IOPCBrowseServerAddressSpace> refused;
    EXPECT_EQ(client_.query(refused), E_NOINTERFACE);
    EXPECT_FALSE(refused);
}

TEST_F(BrowseTest, TheStringEnumeratorSkipsResetsAndClones) {
    win::ComPtr<IEnumString> names;
    ASSERT_EQ(browse_->BrowseOPCItemIDs(OPC_FLAT, L"", VT_EMPTY, 0, names.put()), S_OK);
    EXPECT_EQ(names->Skip(2), S_OK);
    win::ComPtr<IEnumString> clone;
    ASSERT_EQ(names->Clone(clone.put()), S_OK);
    EXPECT_EQ(Drain(clone.get()).front(), L"Gate.North.State");
    EXPECT_EQ(names->Skip(10), S_FALSE);
    LPOLESTR one = nullptr;
    ULONG fetched = 7;
    EXPECT_EQ(names->Next(1, &one, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(names->Reset(), S_OK);
    EXPECT_EQ(names->Next(1, &one, &fetched), S_OK);
    EXPECT_STREQ(one, L"Gate.North.Card");
    CoTaskMemFree(one);
    EXPECT_EQ(names->Next(1, nullptr, &fetched), E_INVALIDARG);
    EXPECT_EQ(names->Clone(nullptr), E_INVALIDARG);
}

}  // namespace
}  // namespace porvex::opc::test
