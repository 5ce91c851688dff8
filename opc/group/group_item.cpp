#include "opc/group/group_item.h"

#include <cmath>

#include "opc/com/errors.h"
#include "opc/com/file_time.h"
#include "opc/group/group_impl.h"
#include "opc/server/item_server.h"
#include "opc/update/value_compare.h"

namespace porvex::opc {

TGroupItemImpl::TGroupItemImpl(TGroupImpl& group, DWORD clientHandle, VARTYPE requestedType)
    : group_(group) {
    client_handle_ = clientHandle;
    requested_type_ = requestedType;
}

TGroupItemImpl::~TGroupItemImpl() = default;

const TServerItemRef& TGroupItemImpl::ServerItem() const { return *server_item_; }

const std::wstring& TGroupItemImpl::ItemId() const { return server_item_->ItemId(); }

TGroupInfo& TGroupItemImpl::Group() const { return group_; }

TOpcItemServer& TGroupItemImpl::Server() const { return group_.Server(); }

DATE TGroupItemImpl::CachedTimeAsDate() const {
    TLock lock(Server().ServerItems().CacheLock());
    return OleDateFromFileTime(cached_time_);
}

win::Variant TGroupItemImpl::CachedValue() const {
    TLock lock(Server().ServerItems().CacheLock());
    return cached_value_;
}

void TGroupItemImpl::CopyCache(win::Variant& value, WORD& quality, FILETIME& time) const {
    TLock lock(Server().ServerItems().CacheLock());
    value = cached_value_;
    quality = cached_quality_;
    time = cached_time_;
}

void TGroupItemImpl::SetActive(bool active) {
    if (active == active_) {
        return;
    }
    active_ = active;
    if (active) {
        ActivationRead();
    }
}

std::uint64_t TGroupItemImpl::PushesSoFar() const {
    TLock lock(Server().ServerItems().CacheLock());
    return server_item_->Pushes();
}

void TGroupItemImpl::ActivationRead() {
    server_item_->CheckReadable();
    const std::uint64_t pushes = PushesSoFar();
    WORD quality = kQualityGood;
    win::Variant value;
    server_item_->ReadDevice(quality, value);
    const FILETIME now = Server().Now();
    {
        TLock lock(Server().ServerItems().CacheLock());
        // A push from another thread while the device was read is at least as new.
        if (server_item_->Pushes() == pushes) {
            cached_value_ = std::move(value);
            cached_quality_ = quality;
            cached_time_ = now;
        }
    }
    MarkChanged();
}

bool TGroupItemImpl::CheckChange(win::Variant& scratch) {
    if (!active_) {
        return false;
    }
    if (changed_.load(std::memory_order_acquire) &&
        changed_.exchange(false, std::memory_order_acq_rel)) {
        return true;
    }
    if (server_item_->Subscribed()) {
        return false;
    }
    server_item_->CheckReadable();
    WORD quality = kQualityGood;
    server_item_->ReadDevice(quality, scratch);
    TLock lock(Server().ServerItems().CacheLock());
    const bool changed = CompareAndStore(scratch.value(), quality, &scratch);
    scratch.clear();
    return changed;
}

bool TGroupItemImpl::WithinDeadband(IEUInfo& eu, const VARIANT& value) const {
    double low = 0.0;
    double high = 0.0;
    AnalogLimits(eu, low, high);
    const double threshold = static_cast<double>(group_.PercentDeadband()) / 100.0 * (high - low);
    double cached = 0.0;
    double incoming = 0.0;
    if (!NumericValue(cached_value_.value(), cached) || !NumericValue(value, incoming)) {
        return false;
    }
    return threshold >= std::fabs(cached - incoming);
}

void TGroupItemImpl::TakePushedValue(const VARIANT& value, WORD quality) {
    if (CompareAndStore(value, quality, nullptr)) {
        MarkChanged();
    }
}

bool TGroupItemImpl::CompareAndStore(const VARIANT& value, WORD quality, win::Variant* movable) {
    TOpcItemServer& server = Server();
    if (quality == cached_quality_) {
        IEUInfo* eu = server_item_->EUInfo();
        if (eu && server_item_->Numeric() && eu->EUType() == 1) {
            if (WithinDeadband(*eu, value)) {
                cached_time_ = server.Now();
                return false;
            }
        } else if (SameValue(value, cached_value_.value())) {
            return false;
        }
    }
    if (movable) {
        cached_value_ = std::move(*movable);
    } else {
        cached_value_ = win::Variant(value);
    }
    cached_quality_ = quality;
    cached_time_ = server.Now();
    try {
        server.GroupItemChanged(*this);
    } catch (...) {
        server.ReportException(std::current_exception());
    }
    return true;
}

TItemReading TGroupItemImpl::Read(OPCDATASOURCE source) {
    TItemReading reading;
    if (source == OPC_DS_DEVICE) {
        server_item_->CheckReadable();
        const std::uint64_t pushes = PushesSoFar();
        server_item_->ReadDevice(reading.quality, reading.value);
        reading.time = Server().Now();
        TLock lock(Server().ServerItems().CacheLock());
        if (server_item_->Pushes() == pushes) {
            cached_value_ = reading.value;
            cached_quality_ = reading.quality;
            cached_time_ = reading.time;
        }
    } else {
        CopyCache(reading.value, reading.quality, reading.time);
    }
    if (requested_type_ != VT_EMPTY && reading.value.type() != requested_type_ &&
        reading.value.type() != VT_EMPTY) {
        win::Variant converted;
        CheckResult(reading.value.convert_to(requested_type_, converted));
        reading.value = std::move(converted);
    }
    return reading;
}

}  // namespace porvex::opc
