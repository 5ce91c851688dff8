// The namespace tree and the browse masks.
#include <gtest/gtest.h>

#include "opc/com/errors.h"
#include "opc/idl/opc_interfaces.h"
#include "opc/namespace/mask.h"
#include "opc/namespace/namespace_node.h"

namespace porvex::opc::test {
namespace {

TEST(Mask, StarsQuestionMarksAndSets) {
    EXPECT_TRUE(MatchesMask(L"*", L""));
    EXPECT_TRUE(MatchesMask(L"*", L"anything"));
    EXPECT_TRUE(MatchesMask(L"Door?", L"door7"));
    EXPECT_FALSE(MatchesMask(L"Door?", L"Door"));
    EXPECT_TRUE(MatchesMask(L"*.State", L"Gate 1.state"));
    EXPECT_TRUE(MatchesMask(L"a*b*c", L"aXXbYYbZc"));
    EXPECT_FALSE(MatchesMask(L"a*b*c", L"aXXbYYbZ"));
    EXPECT_TRUE(MatchesMask(L"[a-c]x", L"Bx"));
    EXPECT_FALSE(MatchesMask(L"[a-c]x", L"dx"));
    EXPECT_TRUE(MatchesMask(L"[!0-9]*", L"x1"));
    EXPECT_FALSE(MatchesMask(L"[!0-9]*", L"1x"));
    EXPECT_TRUE(MatchesMask(L"[]]", L"]"));
    EXPECT_TRUE(MatchesMask(L"门*", L"门禁状态"));
    EXPECT_FALSE(MatchesMask(L"", L"x"));
}

TEST(Mask, AnOpenSetIsAnInvalidFilter) {
    for (const wchar_t* mask : {L"[", L"[a", L"x[!", L"*[a-"}) {
        try {
            MatchesMask(mask, L"whatever");
            ADD_FAILURE() << "accepted a malformed mask";
        } catch (const EOpcError& e) {
            EXPECT_EQ(e.Code(), OPC_E_INVALIDFILTER);
        }
    }
}

class NamespaceTest : public ::testing::Test {
  protected:
    TNamespaceRules rules_{true, L'.', false};
    TItemIdList root_{rules_};
};

TEST_F(NamespaceTest, AddItemBuildsBranchesAlongTheId) {
    TNamespaceItem& leaf = root_.AddItem(L"A.B.C", kAccessRead, VT_I2);
    EXPECT_EQ(leaf.Name(), L"C");
    EXPECT_EQ(leaf.FullPath(), L"A.B.C");
    EXPECT_EQ(leaf.AccessRights(), kAccessRead);
    EXPECT_EQ(leaf.DataType(), VT_I2);
    TNamespaceNode* a = root_.FindNode(L"A");
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(a->IsBranch());
    EXPECT_EQ(a->FullPath(), L"A");
    EXPECT_EQ(root_.FindNode(L"A.B.C"), &leaf);
    EXPECT_EQ(static_cast<TItemIdList*>(a)->FindNode(L"B.C"), &leaf);
    EXPECT_EQ(root_.FindNode(L"A.B.C.D"), nullptr);
    EXPECT_EQ(root_.FindNode(L"A.X"), nullptr);
    EXPECT_EQ(root_.FullPath(), L"");
}

TEST_F(NamespaceTest, EmptySegmentsAreNamesToo) {
    TNamespaceItem& leaf = root_.AddItem(L"A..C", kAccessRead, VT_I2);
    EXPECT_EQ(leaf.FullPath(), L"A..C");
    EXPECT_EQ(root_.FindNode(L"A..C"), &leaf);
}

TEST_F(NamespaceTest, DuplicatesFailUnlessMerging) {
    TNamespaceItem& first = root_.AddItem(L"A.B", kAccessRead, VT_I2);
    try {
        root_.AddItem(L"a.b", kAccessRead, VT_I2);
        FAIL() << "a duplicate was added";
    } catch (const EListError& e) {
        EXPECT_EQ(e.Message(), L"Duplicate Item Id b");
    }
    rules_.merge = true;
    EXPECT_EQ(&root_.AddItem(L"A.B", kAccessWrite, VT_BSTR), &first);
}

TEST_F(NamespaceTest, NewBranchReusesBranchesAndRefusesLeaves) {
    TItemIdList& a = root_.NewBranch(L"A");
    EXPECT_EQ(&root_.NewBranch(L"a"), &a);
    root_.AddItem(L"Leaf", kAccessRead, VT_I2);
    try {
        root_.NewBranch(L"Leaf");
        FAIL() << "a leaf became a branch";
    } catch (const EOpcServer& e) {
        EXPECT_EQ(e.Message(), L"Leaf is an invalid branch name");
    }
}

TEST_F(NamespaceTest, ChildrenAreSortedCaseInsensitively) {
    root_.AddItem(L"b", kAccessRead, VT_I2);
    root_.AddItem(L"C", kAccessRead, VT_I2);
    root_.AddItem(L"a", kAccessRead, VT_I2);
    ASSERT_EQ(root_.ChildCount(), 3);
    EXPECT_EQ(root_.ChildAt(0)->Name(), L"a");
    EXPECT_EQ(root_.ChildAt(1)->Name(), L"b");
    EXPECT_EQ(root_.ChildAt(2)->Name(), L"C");
    EXPECT_EQ(root_.ChildAt(3), nullptr);
    EXPECT_EQ(root_.ChildAt(-1), nullptr);
    EXPECT_EQ(root_.Child(L"c"), root_.ChildAt(2));
    root_.Clear();
    EXPECT_EQ(root_.ChildCount(), 0);
}

TEST(FlatNamespace, IdsAreLeafNamesAndBranchesAreRefused) {
    TNamespaceRules rules{false, L'.', false};
    TItemIdList root(rules);
    TNamespaceItem& leaf = root.AddItem(L"A.B.C", kAccessRead, VT_I2);
    EXPECT_EQ(leaf.Name(), L"A.B.C");
    EXPECT_EQ(root.FindNode(L"a.b.c"), &leaf);
    EXPECT_EQ(root.ChildCount(), 1);
    try {
        root.NewBranch(L"X");
        FAIL() << "a flat namespace took a branch";
    } catch (const EOpcServer& e) {
        EXPECT_EQ(e.Message(), L"Cannot call NewBranch in flat address space");
    }
}

}  // namespace
}  // namespace porvex::opc::test
