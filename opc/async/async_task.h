// Asynchronous transactions of a group. Each is appended to its group's pending list when
// created and posted to the engine window; the posting call returns at once, so a
// transaction always runs after the COM call that created it has returned. When the window
// takes one it leaves the pending list and runs, unless it was cancelled (Cancel, Cancel2)
// or orphaned (its group was removed or destroyed): then it is destroyed without running.
//
//   TAsyncTask         identity, client's transaction ID, the dead flag
//   TRefreshTask       IOPCAsyncIO2::Refresh2 and the data-callback advise: OnDataChange
//   TRefreshTask1      IOPCAsyncIO::Refresh and DAdvise: a data-object change
//   TAsyncIOTask       the item handles of a read or write
//   TAsyncReadTask     IOPCAsyncIO2::Read: OnReadComplete, from the device
//   TAsyncReadTask1    IOPCAsyncIO::Read: a data-object block
//   TAsyncWriteTask    IOPCAsyncIO2::Write: OnWriteComplete (values copied at creation)
//   TAsyncWriteTask1   IOPCAsyncIO::Write: a write-complete block
#pragma once

#include <windows.h>

#include <vector>

#include "opc/idl/opc_interfaces.h"
#include "opc/server/notify_window.h"
#include "win/variant.h"

namespace porvex::opc {

class TGroupAsync;
class TGroupImpl;

class TAsyncTask : public TPostedWork {
  public:
    // Runs the transaction unless it was cancelled or orphaned.
    void Run() final;

    // What the client receives as its cancel ID (version 2) or transaction ID (version 1);
    // never 0. Set when the task is queued.
    DWORD Id() const noexcept { return id_; }
    void SetId(DWORD id) noexcept { id_ = id; }
    // The client's own transaction ID (version 2), 0 for version 1 transactions.
    DWORD ClientTransactionId() const noexcept { return client_transaction_id_; }
    // Cancelled or orphaned: it will be destroyed without running.
    void Kill() noexcept { dead_ = true; }
    bool Dead() const noexcept { return dead_; }

  protected:
    TAsyncTask(TGroupAsync& owner, DWORD clientTransactionId) noexcept
        : owner_(&owner), client_transaction_id_(clientTransactionId) {}
    virtual void Execute() = 0;
    TGroupAsync& Owner() const noexcept { return *owner_; }
    TGroupImpl& Group() const noexcept;

  private:
    TGroupAsync* owner_;
    DWORD id_ = 0;
    DWORD client_transaction_id_;
    bool dead_ = false;
};

class TRefreshTask : public TAsyncTask {
  public:
    // initialReport: the refresh of a data-callback advise, which stands for the first
    // report of its items (the tick does not send them again).
    TRefreshTask(TGroupAsync& owner, DWORD clientTransactionId, OPCDATASOURCE source,
                 std::vector<OPCHANDLE> items, bool initialReport = false) noexcept
        : TAsyncTask(owner, clientTransactionId),
          source_(source),
          items_(std::move(items)),
          initial_report_(initialReport) {}

  protected:
    void Execute() override;
    OPCDATASOURCE source_;
    std::vector<OPCHANDLE> items_;  // the group's active items when the refresh was asked
    bool initial_report_;
};

class TRefreshTask1 final : public TRefreshTask {
  public:
    TRefreshTask1(TGroupAsync& owner, DWORD connection, OPCDATASOURCE source,
                  std::vector<OPCHANDLE> items) noexcept
        : TRefreshTask(owner, 0, source, std::move(items)), connection_(connection) {}

  protected:
    void Execute() override;

  private:
    DWORD connection_;
};

class TAsyncIOTask : public TAsyncTask {
  protected:
    TAsyncIOTask(TGroupAsync& owner, DWORD clientTransactionId,
                 std::vector<OPCHANDLE> handles) noexcept
        : TAsyncTask(owner, clientTransactionId), handles_(std::move(handles)) {}
    std::vector<OPCHANDLE> handles_;
};

class TAsyncReadTask final : public TAsyncIOTask {
  public:
    TAsyncReadTask(TGroupAsync& owner, DWORD clientTransactionId,
                   std::vector<OPCHANDLE> handles) noexcept
        : TAsyncIOTask(owner, clientTransactionId, std::move(handles)) {}

  protected:
    void Execute() override;
};

class TAsyncReadTask1 final : public TAsyncIOTask {
  public:
    TAsyncReadTask1(TGroupAsync& owner, DWORD connection, OPCDATASOURCE source,
                    std::vector<OPCHANDLE> handles) noexcept
        : TAsyncIOTask(owner, 0, std::move(handles)), connection_(connection), source_(source) {}

  protected:
    void Execute() override;

  private:
    DWORD connection_;
    OPCDATASOURCE source_;
};

class TAsyncWriteTask : public TAsyncIOTask {
  public:
    TAsyncWriteTask(TGroupAsync& owner, DWORD clientTransactionId, std::vector<OPCHANDLE> handles,
                    std::vector<win::Variant> values) noexcept
        : TAsyncIOTask(owner, clientTransactionId, std::move(handles)),
          values_(std::move(values)) {}

  protected:
    void Execute() override;
    // Writes every item; the client handles (0 for a bad handle) and the errors.
    void WriteAll(std::vector<OPCHANDLE>& clientHandles, std::vector<HRESULT>& errors);
    std::vector<win::Variant> values_;
};

class TAsyncWriteTask1 final : public TAsyncWriteTask {
  public:
    TAsyncWriteTask1(TGroupAsync& owner, std::vector<OPCHANDLE> handles,
                     std::vector<win::Variant> values) noexcept
        : TAsyncWriteTask(owner, 0, std::move(handles), std::move(values)) {}

  protected:
    void Execute() override;
};

}  // namespace porvex::opc
