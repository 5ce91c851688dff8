// The fixture of the out-of-process tests: one sample server for the whole program (a cold
// activation costs about a second under Wine), registered with the proxy/stub DLL first;
// each test makes its own groups on it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../opc/async_support.h"
#include "../opc/test_support.h"
#include "remote_support.h"

namespace porvex::opc::remote {

// The program's sample server client (activated by the environment).
IOPCServer* Sample();

// A task-allocated error array as a vector (freed).
std::vector<HRESULT> TakeErrors(HRESULT* errors, std::size_t count);

struct TRemoteGroup {
    win::ComPtr<IOPCItemMgt> items;
    win::ComPtr<IOPCGroupStateMgt> state;
    win::ComPtr<IOPCSyncIO> sync;
    win::ComPtr<IOPCAsyncIO2> async2;
    win::ComPtr<IOPCAsyncIO> async1;
    win::ComPtr<IDataObject> data;
    OPCHANDLE handle = 0;
    std::vector<OPCHANDLE> handles;  // of the items, in order
};

class RemoteTest : public ::testing::Test {
  protected:
    ~RemoteTest() override;
    // A group on the sample server with the items (client handles 1, 2, ...).
    TRemoteGroup MakeGroup(const std::vector<std::wstring>& ids, DWORD rateMs, bool active = true,
                           bool itemsActive = true);
    void Remove(TRemoteGroup& group);

    std::vector<OPCHANDLE> removed_;
};

}  // namespace porvex::opc::remote
