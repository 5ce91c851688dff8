#include "async_support.h"

#include "opc/server/item_server.h"
#include "win/global_memory.h"

namespace porvex::opc::test {

void TTestAdviseSink::OnDataChange(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) noexcept {
    TReceivedBlock block;
    block.format = *pFormatetc;
    block.tymed = pStgmed->tymed;
    win::GlobalLockScope lock(pStgmed->hGlobal);
    const auto* data = static_cast<const std::uint8_t*>(lock.data());
    if (data) {
        block.bytes.assign(data, data + lock.size());
    }
    blocks.push_back(std::move(block));
}

FORMATETC StreamFormatEtc(int format) {
    FORMATETC description{};
    description.cfFormat = StreamClipFormat(format);
    description.ptd = nullptr;
    description.dwAspect = DVASPECT_CONTENT;
    description.lindex = -1;
    description.tymed = TYMED_HGLOBAL;
    return description;
}

void AsyncTest::SetUp() {
    EngineTest::SetUp();
    InstallAsyncIO(*server_);
    SetSinkProbeInterval(0);
    server_->SetValue(L"Int", win::Variant::i4(7));
    server_->SetValue(L"Text", win::Variant::string(L"abc"));
    server_->SetValue(L"Real", win::Variant::r8(2.5));
    server_->Item(L"ReadOnly").rights = kAccessRead;
    server_->SetValue(L"ReadOnly", win::Variant::i2(3));
    server_->Item(L"WriteOnly").rights = kAccessWrite;
    server_->SetValue(L"WriteOnly", win::Variant::i4(0));
    callback_ = TTestDataCallback::Create();
}

void AsyncTest::MakeGroup(std::vector<TItemEntry> items, bool active, bool advise) {
    // A slow tick: only the transactions under test talk to the callback.
    group_ = AddGroup(L"g", 600000, active);
    ASSERT_EQ(group_.result, S_OK);
    added_ = AddItems(group_.items.get(), items);
    ASSERT_EQ(group_.items.query(async2_), S_OK);
    ASSERT_EQ(group_.items.query(async1_), S_OK);
    ASSERT_EQ(group_.items.query(data_), S_OK);
    if (advise) {
        Advise(group_.items.get(), IID_IOPCDataCallback, callback_->identity());
        Drain();
        callback_->changes.clear();
    }
}

void AsyncTest::Drain() {
    PumpUntil([&] { return server_->Window().PendingWork() == 0; });
}

}  // namespace porvex::opc::test
