#include "opc/namespace/namespace_node.h"

#include <algorithm>

#include "opc/com/errors.h"
#include "opc/com/text.h"

namespace porvex::opc {

TNamespaceNode::TNamespaceNode(TItemIdList* parent, std::wstring name, bool branch,
                               const TNamespaceRules& rules)
    : parent_(parent), name_(std::move(name)), branch_(branch), rules_(&rules) {}

TNamespaceNode* TNamespaceNode::ChildAt(int) const { return nullptr; }

int TNamespaceNode::ChildCount() const { return 0; }

std::wstring TNamespaceNode::FullPath() const {
    std::vector<const TNamespaceNode*> chain;
    for (const TNamespaceNode* n = this; n && n->parent_; n = n->parent_) {
        chain.push_back(n);
    }
    std::wstring path;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!path.empty() || it != chain.rbegin()) {
            path += rules_->delimiter;
        }
        path += (*it)->name_;
    }
    return path;
}

TNamespaceItem::TNamespaceItem(TItemIdList& parent, std::wstring name, TAccessRights rights,
                               VARTYPE type)
    : TNamespaceNode(&parent, std::move(name), false, parent.TreeRules()),
      rights_(rights),
      type_(type) {}

TItemIdList::TItemIdList(const TNamespaceRules& rules)
    : TNamespaceNode(nullptr, L"", true, rules) {}

TItemIdList::TItemIdList(TItemIdList& parent, std::wstring name)
    : TNamespaceNode(&parent, std::move(name), true, parent.TreeRules()) {}

TItemIdList::~TItemIdList() = default;

TNamespaceNode* TItemIdList::ChildAt(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= children_.size()) {
        return nullptr;
    }
    return children_[static_cast<std::size_t>(index)].node.get();
}

int TItemIdList::ChildCount() const { return static_cast<int>(children_.size()); }

std::vector<TItemIdList::TEntry>::const_iterator TItemIdList::Position(
    const std::wstring& key) const {
    // Names often arrive in order: check the end before searching.
    if (children_.empty() || children_.back().key < key) {
        return children_.end();
    }
    return std::lower_bound(children_.begin(), children_.end(), key,
                            [](const TEntry& e, const std::wstring& k) { return e.key < k; });
}

TNamespaceNode& TItemIdList::Insert(std::wstring key, std::unique_ptr<TNamespaceNode> node) {
    auto at = Position(key);
    auto placed = children_.insert(children_.begin() + (at - children_.cbegin()),
                                   TEntry{std::move(key), std::move(node)});
    return *placed->node;
}

TNamespaceNode* TItemIdList::Child(std::wstring_view name) const {
    const std::wstring key = FoldCase(name);
    auto at = Position(key);
    if (at == children_.end() || at->key != key) {
        return nullptr;
    }
    return at->node.get();
}

TItemIdList& TItemIdList::NewBranch(std::wstring_view name) {
    if (!Rules().hierarchical) {
        throw EOpcServer(L"Cannot call NewBranch in flat address space");
    }
    if (TNamespaceNode* existing = Child(name)) {
        if (!existing->IsBranch()) {
            throw EOpcServer(std::wstring(name) + L" is an invalid branch name");
        }
        return static_cast<TItemIdList&>(*existing);
    }
    auto branch = std::make_unique<TItemIdList>(*this, std::wstring(name));
    return static_cast<TItemIdList&>(Insert(FoldCase(name), std::move(branch)));
}

TNamespaceItem& TItemIdList::AddItem(std::wstring_view itemId, TAccessRights rights, VARTYPE type) {
    TItemIdList* target = this;
    std::wstring_view leaf = itemId;
    if (Rules().hierarchical) {
        std::size_t start = 0;
        for (std::size_t i = 0; i < itemId.size(); ++i) {
            if (itemId[i] == Rules().delimiter) {
                target = &target->NewBranch(itemId.substr(start, i - start));
                start = i + 1;
            }
        }
        leaf = itemId.substr(start);
    }
    if (TNamespaceNode* existing = target->Child(leaf)) {
        if (Rules().merge && !existing->IsBranch()) {
            return static_cast<TNamespaceItem&>(*existing);
        }
        throw EListError(L"Duplicate Item Id " + std::wstring(leaf));
    }
    auto item = std::make_unique<TNamespaceItem>(*target, std::wstring(leaf), rights, type);
    return static_cast<TNamespaceItem&>(target->Insert(FoldCase(leaf), std::move(item)));
}

TNamespaceNode* TItemIdList::FindNode(std::wstring_view path) const {
    if (!Rules().hierarchical) {
        return Child(path);
    }
    // A name may hold the delimiter itself (a door called "A.1"): the whole rest of the
    // path as one name comes first, then each split point from the left.
    if (TNamespaceNode* whole = Child(path)) {
        return whole;
    }
    for (std::size_t at = path.find(Rules().delimiter); at != std::wstring_view::npos;
         at = path.find(Rules().delimiter, at + 1)) {
        TNamespaceNode* node = Child(path.substr(0, at));
        if (node && node->IsBranch()) {
            if (TNamespaceNode* found =
                    static_cast<const TItemIdList*>(node)->FindNode(path.substr(at + 1))) {
                return found;
            }
        }
    }
    return nullptr;
}

void TItemIdList::Clear() noexcept { children_.clear(); }

}  // namespace porvex::opc
