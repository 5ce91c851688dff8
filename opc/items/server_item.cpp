#include "opc/items/server_item.h"

#include <algorithm>

#include "opc/com/errors.h"
#include "opc/com/text.h"
#include "opc/idl/opc_interfaces.h"

namespace porvex::opc {

// ---- TOnChange -----------------------------------------------------------------------------

void TOnChange::operator()(const VARIANT& value, WORD quality) const {
    if (!link_) {
        return;
    }
    TLock lock(*link_->lock);
    if (link_->item) {
        link_->item->Push(value, quality);
    }
}

bool TOnChange::Connected() const {
    if (!link_) {
        return false;
    }
    TLock lock(*link_->lock);
    return link_->item != nullptr;
}

// ---- TServerItemRef ------------------------------------------------------------------------

TServerItemRef::TServerItemRef(TItemSource& server, std::wstring_view itemId)
    : server_(server), item_id_(itemId) {
    std::wstring access_path;
    TAccessRights rights = kAccessReadWrite;
    handle_ = server_.GetItemInfoEx(item_id_, access_path, rights, eu_info_, item_properties_);
    rights_ = rights;
    try {
        WORD quality = kQualityGood;
        win::Variant probe;
        server_.GetItemValue(handle_, quality, probe);
        canonical_type_ = probe.type();
        numeric_ = (canonical_type_ & VT_ARRAY) == 0 && IsNumericType(canonical_type_);
    } catch (...) {
        if (handle_ != kUnresolvedHandle) {
            server_.ReleaseHandle(handle_);
        }
        throw;
    }
}

TServerItemRef::~TServerItemRef() {
    if (handle_ == kUnresolvedHandle) {
        return;
    }
    try {
        server_.ReleaseHandle(handle_);
    } catch (...) {
        server_.ReportException(std::current_exception());
    }
}

void TServerItemRef::ReadDevice(WORD& quality, win::Variant& value) const {
    quality = kQualityGood;
    value.clear();
    server_.GetItemValue(handle_, quality, value);
}

void TServerItemRef::CheckReadable() const {
    if (!Readable()) {
        throw EOpcError(OPC_E_BADRIGHTS);
    }
}

void TServerItemRef::CheckWriteable() const {
    if (!Writeable()) {
        throw EOpcError(OPC_E_BADRIGHTS);
    }
}

// ---- TServerItem ---------------------------------------------------------------------------

TServerItem::TServerItem(TServerItemList& table, std::wstring_view itemId)
    : TServerItemRef(table.Server(), itemId), table_(table) {}

TServerItem::~TServerItem() {
    if (link_) {
        TLock lock(*link_->lock);
        link_->item = nullptr;
    }
    if (subscribed_) {
        try {
            server_.UnsubscribeItem(Handle());
        } catch (...) {
            server_.ReportException(std::current_exception());
        }
    }
}

void TServerItem::Subscribe() {
    link_ = std::make_shared<TOnChange::TLink>();
    link_->lock = table_.cache_lock_;
    {
        TLock lock(*link_->lock);
        link_->item = this;
    }
    subscribed_ = server_.SubscribeItem(Handle(), TOnChange(link_));
}

void TServerItem::Push(const VARIANT& value, WORD quality) {
    ++pushes_;
    for (TServerItemUser* user : users_) {
        user->TakePushedValue(value, quality);
    }
}

// ---- TServerItemList -----------------------------------------------------------------------

TServerItemList::TServerItemList(TItemSource& server)
    : server_(server), cache_lock_(std::make_shared<TCriticalSection>()) {}

TServerItemList::~TServerItemList() {
    TLock lock(table_lock_);
    items_.clear();
}

TServerItem& TServerItemList::AddUser(std::wstring_view itemId, TServerItemUser& user) {
    TLock lock(table_lock_);
    std::wstring key = FoldCase(itemId);
    auto found = items_.find(key);
    if (found == items_.end()) {
        auto item = std::make_unique<TServerItem>(*this, itemId);
        item->Subscribe();
        found = items_.emplace(std::move(key), std::move(item)).first;
        // The node keeps its key where it is for the item's life: no copy of it per item.
        found->second->key_ = &found->first;
    }
    TServerItem& item = *found->second;
    try {
        AddUser(item, user);
    } catch (...) {
        if (item.users_.empty()) {
            items_.erase(found);
        }
        throw;
    }
    return item;
}

void TServerItemList::AddUser(TServerItem& item, TServerItemUser& user) {
    TLock lock(*cache_lock_);
    item.users_.push_back(&user);
}

void TServerItemList::RemoveUser(TServerItem& item, TServerItemUser& user) noexcept {
    TLock lock(table_lock_);
    bool last = false;
    {
        TLock cache_lock(*cache_lock_);
        std::erase(item.users_, &user);
        last = item.users_.empty();
    }
    if (last) {
        // Found first: the key lives in the node that the erase destroys.
        auto found = items_.find(*item.key_);
        if (found != items_.end()) {
            items_.erase(found);
        }
    }
}

TResolvedItem TServerItemList::Resolve(std::wstring_view itemId) {
    TLock lock(table_lock_);
    TResolvedItem out;
    if (TServerItem* shared = Find(itemId)) {
        out.ref_ = shared;
        return out;
    }
    out.temporary_ = std::make_unique<TServerItemRef>(server_, itemId);
    out.ref_ = out.temporary_.get();
    return out;
}

TServerItem* TServerItemList::Find(std::wstring_view itemId) const {
    TLock lock(table_lock_);
    auto found = items_.find(FoldCase(itemId));
    return found == items_.end() ? nullptr : found->second.get();
}

std::size_t TServerItemList::Count() const {
    TLock lock(table_lock_);
    return items_.size();
}

}  // namespace porvex::opc
