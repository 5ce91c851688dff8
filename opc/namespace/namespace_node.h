// The browse namespace: a tree of branches (TItemIdList, the root among them) and leaves
// (TNamespaceItem) that the item server fills in LoadNamespace. It is only a catalogue for
// browsing; resolving item IDs always goes to the item server.
//
// Names are unique per branch and compared case-insensitively (opc/com/text.h FoldCase);
// children are kept sorted by that key. Whether the tree is hierarchical, which character
// joins path segments, and whether adding an existing ID merges are the rules of the tree,
// set by the item server each time it rebuilds it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "opc/items/item_types.h"

namespace porvex::opc {

class TItemIdList;
class TNamespaceItem;

struct TNamespaceRules {
    bool hierarchical = false;
    wchar_t delimiter = L'.';
    bool merge = false;
};

class TNamespaceNode {
  public:
    TNamespaceNode(const TNamespaceNode&) = delete;
    TNamespaceNode& operator=(const TNamespaceNode&) = delete;
    virtual ~TNamespaceNode() = default;

    // Child at index in sorted order (none in a leaf) and the number of children.
    virtual TNamespaceNode* ChildAt(int index) const;
    virtual int ChildCount() const;

    TItemIdList* Parent() const noexcept { return parent_; }
    const std::wstring& Name() const noexcept { return name_; }
    bool IsBranch() const noexcept { return branch_; }
    // The names from the first level below the root down to this node, joined by the
    // delimiter (empty for the root).
    std::wstring FullPath() const;

  protected:
    TNamespaceNode(TItemIdList* parent, std::wstring name, bool branch,
                   const TNamespaceRules& rules);
    const TNamespaceRules& Rules() const noexcept { return *rules_; }

  private:
    TItemIdList* parent_;
    std::wstring name_;
    bool branch_;
    const TNamespaceRules* rules_;
};

class TNamespaceItem final : public TNamespaceNode {
  public:
    TNamespaceItem(TItemIdList& parent, std::wstring name, TAccessRights rights, VARTYPE type);

    TAccessRights AccessRights() const noexcept { return rights_; }
    VARTYPE DataType() const noexcept { return static_cast<VARTYPE>(type_); }

  private:
    TAccessRights rights_;
    std::uint32_t type_;
};

class TItemIdList final : public TNamespaceNode {
  public:
    // The root of a tree, following rules (which outlive the tree).
    explicit TItemIdList(const TNamespaceRules& rules);
    // A branch called name inside parent.
    TItemIdList(TItemIdList& parent, std::wstring name);
    ~TItemIdList() override;

    TNamespaceNode* ChildAt(int index) const override;
    int ChildCount() const override;

    // Adds the leaf itemId with its rights and type; in a hierarchical tree the ID's
    // leading segments become branches below this one. An existing leaf is returned when
    // the tree merges, otherwise EListError "Duplicate Item Id %s".
    TNamespaceItem& AddItem(std::wstring_view itemId, TAccessRights rights, VARTYPE type);
    // The child branch called name, created when missing. EOpcServer in a flat tree and
    // when a leaf holds the name.
    TItemIdList& NewBranch(std::wstring_view name);
    // The node at path below this branch (several segments in a hierarchical tree), or null.
    TNamespaceNode* FindNode(std::wstring_view path) const;
    // The direct child called name, or null.
    TNamespaceNode* Child(std::wstring_view name) const;
    void Clear() noexcept;

    const TNamespaceRules& TreeRules() const noexcept { return Rules(); }

  private:
    struct TEntry {
        std::wstring key;
        std::unique_ptr<TNamespaceNode> node;
    };

    // Position of key in children_ (first entry not less than it).
    std::vector<TEntry>::const_iterator Position(const std::wstring& key) const;
    TNamespaceNode& Insert(std::wstring key, std::unique_ptr<TNamespaceNode> node);

    std::vector<TEntry> children_;
};

}  // namespace porvex::opc
