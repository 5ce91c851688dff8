// What the tests of asynchronous I/O and DA 1.0 streams share: an advise sink that keeps a
// copy of every block it receives, and a fixture whose groups answer the asynchronous
// interfaces.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "opc/async/group_async.h"
#include "opc/async/stream_formats.h"
#include "test_support.h"

namespace porvex::opc::test {

struct TReceivedBlock {
    FORMATETC format{};
    DWORD tymed = 0;
    std::vector<std::uint8_t> bytes;

    template <class T>
    T At(std::size_t offset) const {
        T value{};
        EXPECT_LE(offset + sizeof(T), bytes.size());
        if (offset + sizeof(T) <= bytes.size()) {
            std::memcpy(&value, bytes.data() + offset, sizeof(T));
        }
        return value;
    }
};

class TTestAdviseSink final : public win::ComObject<IAdviseSink> {
  public:
    static win::ComPtr<TTestAdviseSink> Create() {
        return win::ComPtr<TTestAdviseSink>(new TTestAdviseSink());
    }
    void STDMETHODCALLTYPE OnDataChange(FORMATETC* pFormatetc,
                                        STGMEDIUM* pStgmed) noexcept override;
    void STDMETHODCALLTYPE OnViewChange(DWORD, LONG) noexcept override {}
    void STDMETHODCALLTYPE OnRename(IMoniker*) noexcept override {}
    void STDMETHODCALLTYPE OnSave() noexcept override {}
    void STDMETHODCALLTYPE OnClose() noexcept override {}

    std::vector<TReceivedBlock> blocks;

  private:
    TTestAdviseSink() = default;
};

// A format description for DAdvise: stream format index, content aspect, lindex -1, global
// memory.
FORMATETC StreamFormatEtc(int format);

class AsyncTest : public EngineTest {
  protected:
    void SetUp() override;

    // A group "g" with the items, its interfaces, and the data callback advised (the
    // advise-time refresh already received and cleared) when advise is set.
    void MakeGroup(std::vector<TItemEntry> items, bool active = true, bool advise = true);
    // Pumps until the window's queue is empty.
    void Drain();

    win::ComPtr<TTestDataCallback> callback_;
    TTestGroup group_;
    TAdded added_;
    win::ComPtr<IOPCAsyncIO2> async2_;
    win::ComPtr<IOPCAsyncIO> async1_;
    win::ComPtr<IDataObject> data_;
};

}  // namespace porvex::opc::test
