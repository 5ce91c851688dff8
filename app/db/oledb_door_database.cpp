// Kinds 0 and 1 on Windows: SQL Server ("SQLOLEDB.1") and Oracle ("MSDAORA.1") through
// OLE DB, driven by the connection strings of the settings. The data source gets a
// 5-second connection time-out and may never prompt; the command a 5-second time-out.
// Rows are read to the end of the rowset, whatever count the provider announces.
#define DBINITCONSTANTS
#include <msdasc.h>
#include <oledb.h>
#include <oledberr.h>
#include <windows.h>

#include <cstdio>
#include <deque>
#include <vector>

#include "core/utf.h"
#include "db/door_database.h"
#include "win/bstr.h"
#include "win/com_apartment.h"
#include "win/com_ptr.h"
#include "win/unique_any.h"

namespace porvex {

namespace {

using win::ComApartment;
using win::ComPtr;

std::wstring wide(std::string_view utf8) {
    const std::u16string units = utf8_to_utf16(utf8);
    return std::wstring(units.begin(), units.end());
}

// "0x80004005" and the provider's description of the last error, when it left one.
std::string describe(HRESULT hr) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    std::string text = code;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) == S_OK && info.get() != nullptr) {
        win::Bstr description;
        if (SUCCEEDED(info->GetDescription(description.put())) && description) {
            const std::wstring_view view = description.view();
            text += " ";
            text += utf16_to_utf8(std::u16string(view.begin(), view.end()));
        }
    }
    return text;
}

DBPROP int_property(DBPROPID id, VARTYPE type, LONG value) {
    DBPROP p{};
    p.dwPropertyID = id;
    p.dwOptions = DBPROPOPTIONS_OPTIONAL;
    p.colid = DB_NULLID;
    VariantInit(&p.vValue);
    p.vValue.vt = type;
    if (type == VT_I2) {
        p.vValue.iVal = static_cast<SHORT>(value);
    } else {
        p.vValue.lVal = value;
    }
    return p;
}

// Characters kept per column; longer values are refused rather than cut.
constexpr DBLENGTH kColumnChars = 1024;
constexpr DBCOUNTITEM kRowsPerFetch = 64;

struct Slot {
    DBSTATUS status;
    DBLENGTH length;  // bytes, without the NUL
    wchar_t text[kColumnChars + 1];
};

// A row accessor of a rowset, released with its owner.
class RowAccessor {
  public:
    RowAccessor(ComPtr<IAccessor> accessor, HACCESSOR handle)
        : accessor_(std::move(accessor)), handle_(handle) {}
    RowAccessor(const RowAccessor&) = delete;
    RowAccessor& operator=(const RowAccessor&) = delete;
    ~RowAccessor() { accessor_->ReleaseAccessor(handle_, nullptr); }
    HACCESSOR get() const { return handle_; }

  private:
    ComPtr<IAccessor> accessor_;
    HACCESSOR handle_;
};

// The rows one GetNextRows handed out: released to the rowset, and their array freed, when
// the batch goes (also when reading a row throws).
class FetchedRows {
  public:
    explicit FetchedRows(IRowset& rowset) : rowset_(rowset) {}
    FetchedRows(const FetchedRows&) = delete;
    FetchedRows& operator=(const FetchedRows&) = delete;
    ~FetchedRows() {
        if (count_ > 0) {
            rowset_.ReleaseRows(count_, rows_.get(), nullptr, nullptr, nullptr);
        }
    }
    HRESULT fetch(DBROWCOUNT wanted) {
        return rowset_.GetNextRows(DB_NULL_HCHAPTER, 0, wanted, &count_, rows_.put());
    }
    DBCOUNTITEM count() const { return count_; }
    HROW operator[](DBCOUNTITEM i) const { return rows_[i]; }

  private:
    IRowset& rowset_;
    DBCOUNTITEM count_ = 0;
    win::UniqueCoTaskMem<HROW> rows_;
};

class OleDbDoorCursor final : public DoorCursor {
  public:
    OleDbDoorCursor(std::shared_ptr<ComApartment> apartment, ComPtr<IRowset> rowset,
                    std::unique_ptr<RowAccessor> accessor)
        : apartment_(std::move(apartment)),
          rowset_(std::move(rowset)),
          accessor_(std::move(accessor)) {}

    ~OleDbDoorCursor() override {
        // The accessor goes before its rowset, and both before the apartment.
        accessor_.reset();
        rowset_.reset();
    }

    bool next(DoorRowValues& row) override {
        if (buffered_.empty() && !end_) {
            fetch();
        }
        if (buffered_.empty()) {
            return false;
        }
        row = std::move(buffered_.front());
        buffered_.pop_front();
        return true;
    }

  private:
    void fetch() {
        FetchedRows rows(*rowset_.get());
        const HRESULT hr = rows.fetch(static_cast<DBROWCOUNT>(kRowsPerFetch));
        const DBCOUNTITEM obtained = rows.count();
        if (FAILED(hr)) {
            end_ = true;
            throw DatabaseQueryError("reading door rows failed: " + describe(hr));
        }
        if (hr == DB_S_ENDOFROWSET || obtained == 0) {
            end_ = true;
        }
        std::string error;
        for (DBCOUNTITEM i = 0; i < obtained && error.empty(); ++i) {
            std::vector<Slot> slots(kDoorColumns);
            const HRESULT got = rowset_->GetData(rows[i], accessor_->get(), slots.data());
            if (FAILED(got)) {
                error = "reading a door row failed: " + describe(got);
                break;
            }
            DoorRowValues values;
            for (std::size_t c = 0; c < kDoorColumns && error.empty(); ++c) {
                const Slot& s = slots[c];
                if (s.status == DBSTATUS_S_ISNULL) {
                    values[c] = std::monostate{};
                } else if (s.status == DBSTATUS_S_OK) {
                    const std::size_t chars =
                        std::min<std::size_t>(s.length / sizeof(wchar_t), kColumnChars);
                    values[c] = utf16_to_utf8(std::u16string(s.text, s.text + chars));
                } else if (s.status == DBSTATUS_S_TRUNCATED) {
                    error = "column " + std::to_string(c + 1) + " is longer than " +
                            std::to_string(kColumnChars) + " characters";
                } else {
                    error = "column " + std::to_string(c + 1) + " cannot be read as text (status " +
                            std::to_string(s.status) + ")";
                }
            }
            if (error.empty()) {
                buffered_.push_back(std::move(values));
            }
        }
        if (!error.empty()) {
            end_ = true;
            throw DatabaseQueryError(error);
        }
    }

    std::shared_ptr<ComApartment> apartment_;
    ComPtr<IRowset> rowset_;
    std::unique_ptr<RowAccessor> accessor_;
    std::deque<DoorRowValues> buffered_;
    bool end_ = false;
};

class OleDbDoorDatabase final : public DoorDatabase {
  public:
    OleDbDoorDatabase(std::shared_ptr<ComApartment> apartment, ComPtr<IDBInitialize> source,
                      std::string query, const DatabaseTimeouts& timeouts)
        : apartment_(std::move(apartment)),
          source_(std::move(source)),
          query_(std::move(query)),
          timeouts_(timeouts) {}

    ~OleDbDoorDatabase() override {
        source_->Uninitialize();
        source_.reset();
    }

    std::unique_ptr<DoorCursor> query_doors() override {
        auto session = source_.as<IDBCreateSession>(IID_IDBCreateSession);
        if (session.get() == nullptr) {
            throw DatabaseQueryError("the OLE DB provider offers no session");
        }
        ComPtr<IDBCreateCommand> creator;
        HRESULT hr = session->CreateSession(nullptr, IID_IDBCreateCommand, creator.put_unknown());
        if (FAILED(hr)) {
            throw DatabaseQueryError("cannot open an OLE DB session: " + describe(hr));
        }
        ComPtr<ICommandText> command;
        hr = creator->CreateCommand(nullptr, IID_ICommandText, command.put_unknown());
        if (FAILED(hr)) {
            throw DatabaseQueryError("cannot create the door query: " + describe(hr));
        }
        const std::wstring text = wide(query_);
        hr = command->SetCommandText(DBGUID_DEFAULT, text.c_str());
        if (FAILED(hr)) {
            throw DatabaseQueryError("cannot set the door query: " + describe(hr));
        }
        if (auto properties = command.as<ICommandProperties>(IID_ICommandProperties);
            properties.get() != nullptr) {
            DBPROP timeout = int_property(DBPROP_COMMANDTIMEOUT, VT_I4, timeouts_.query_seconds);
            DBPROPSET set{&timeout, 1, DBPROPSET_ROWSET};
            properties->SetProperties(1, &set);  // optional: a provider may ignore it
        }
        ComPtr<IRowset> rowset;
        DBROWCOUNT affected = 0;
        hr = command->Execute(nullptr, IID_IRowset, nullptr, &affected, rowset.put_unknown());
        if (FAILED(hr) || rowset.get() == nullptr) {
            throw DatabaseQueryError("door query failed: " + describe(hr));
        }
        return make_cursor(std::move(rowset));
    }

  private:
    std::unique_ptr<DoorCursor> make_cursor(ComPtr<IRowset> rowset) {
        auto info = rowset.as<IColumnsInfo>(IID_IColumnsInfo);
        DBORDINAL count = 0;
        win::UniqueCoTaskMem<DBCOLUMNINFO> columns;
        win::UniqueCoTaskMem<OLECHAR> names;
        if (info.get() == nullptr ||
            FAILED(info->GetColumnInfo(&count, columns.put(), names.put()))) {
            throw DatabaseQueryError("the door query's columns cannot be described");
        }
        std::vector<DBORDINAL> ordinals;
        for (DBORDINAL i = 0; i < count; ++i) {
            if (columns[i].iOrdinal != 0) {  // 0 is a bookmark column
                ordinals.push_back(columns[i].iOrdinal);
            }
        }
        if (ordinals.size() < kDoorColumns) {
            throw DatabaseQueryError("door query returned fewer than six columns");
        }
        std::vector<DBBINDING> bindings(kDoorColumns);
        for (std::size_t c = 0; c < kDoorColumns; ++c) {
            DBBINDING& b = bindings[c];
            b = DBBINDING{};
            b.iOrdinal = ordinals[c];
            b.obStatus = c * sizeof(Slot) + offsetof(Slot, status);
            b.obLength = c * sizeof(Slot) + offsetof(Slot, length);
            b.obValue = c * sizeof(Slot) + offsetof(Slot, text);
            b.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
            b.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
            b.eParamIO = DBPARAMIO_NOTPARAM;
            b.cbMaxLen = sizeof(Slot::text);
            b.wType = DBTYPE_WSTR;
        }
        auto accessor = rowset.as<IAccessor>(IID_IAccessor);
        if (accessor.get() == nullptr) {
            throw DatabaseQueryError("the door rows offer no accessor");
        }
        HACCESSOR handle = 0;
        std::vector<DBBINDSTATUS> status(kDoorColumns);
        const HRESULT hr =
            accessor->CreateAccessor(DBACCESSOR_ROWDATA, kDoorColumns, bindings.data(),
                                     kDoorColumns * sizeof(Slot), &handle, status.data());
        if (FAILED(hr)) {
            throw DatabaseQueryError("cannot bind the door columns: " + describe(hr));
        }
        auto row_accessor = std::make_unique<RowAccessor>(std::move(accessor), handle);
        return std::make_unique<OleDbDoorCursor>(apartment_, std::move(rowset),
                                                 std::move(row_accessor));
    }

    std::shared_ptr<ComApartment> apartment_;
    ComPtr<IDBInitialize> source_;
    std::string query_;
    DatabaseTimeouts timeouts_;
};

}  // namespace

std::unique_ptr<DoorDatabase> open_oledb_door_database(const std::string& connection_string,
                                                       std::string query,
                                                       const DatabaseTimeouts& timeouts) {
    auto apartment = std::make_shared<ComApartment>();
    ComPtr<IDataInitialize> services;
    HRESULT hr = CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IDataInitialize, services.put_void());
    if (FAILED(hr)) {
        throw DatabaseConnectError("OLE DB services are not available: " + describe(hr));
    }
    std::wstring text = wide(connection_string);
    ComPtr<IDBInitialize> source;
    hr = services->GetDataSource(nullptr, CLSCTX_INPROC_SERVER, text.data(), IID_IDBInitialize,
                                 source.put_unknown());
    if (FAILED(hr) || source.get() == nullptr) {
        throw DatabaseConnectError("the OLE DB provider cannot be loaded: " + describe(hr));
    }
    if (auto properties = source.as<IDBProperties>(IID_IDBProperties);
        properties.get() != nullptr) {
        DBPROP values[2] = {int_property(DBPROP_INIT_TIMEOUT, VT_I4, timeouts.connect_seconds),
                            int_property(DBPROP_INIT_PROMPT, VT_I2, DBPROMPT_NOPROMPT)};
        DBPROPSET set{values, 2, DBPROPSET_DBINIT};
        properties->SetProperties(1, &set);
    }
    hr = source->Initialize();
    if (FAILED(hr)) {
        throw DatabaseConnectError("cannot connect to the database: " + describe(hr));
    }
    return std::make_unique<OleDbDoorDatabase>(std::move(apartment), std::move(source),
                                               std::move(query), timeouts);
}

}  // namespace porvex
