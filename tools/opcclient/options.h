// The command line of opcclient, parsed without any platform call (tested natively). Texts
// are UTF-8. See docs/opcclient.md for the commands.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace porvex::opcclient {

enum class TCommand { Help, Servers, Status, Browse, Props, Read, Write, Subscribe, Events, Ack };

// How a read, a write or a subscription talks to the server.
enum class TTransport {
    Sync,       // IOPCSyncIO (read, write)
    Async,      // IOPCAsyncIO2 with IOPCDataCallback (read, write, subscribe)
    Stream,     // IOPCAsyncIO and IDataObject: OPC DA 1.0 blocks without time stamps
    StreamTime  // the same with time stamps
};

struct TWriteRequest {
    std::string item;
    std::string value;
};

// The filter of an event subscription (events --filter KEY=VALUE, repeatable): event types
// (bits of OPC_SIMPLE_EVENT 1, OPC_TRACKING_EVENT 2, OPC_CONDITION_EVENT 4), categories, a
// severity range, areas and sources (patterns).
struct TEventFilterOptions {
    unsigned long types = 7;
    std::vector<unsigned long> categories;
    unsigned long low_severity = 1;
    unsigned long high_severity = 1000;
    std::vector<std::string> areas;
    std::vector<std::string> sources;
};

struct TOptions {
    TCommand command = TCommand::Help;
    std::string server;  // ProgID or {CLSID}
    std::vector<std::string> items;
    std::vector<TWriteRequest> writes;
    TTransport transport = TTransport::Sync;
    bool device = false;  // read: from the device instead of the cache
    bool flat = false;    // browse
    std::string branch;   // browse, subscribe: start below this branch
    std::string filter;   // browse: name mask
    unsigned long rate_ms = 1000;
    float deadband = 0.0f;
    std::optional<unsigned long> count;  // subscribe: stop after this many values
    std::optional<double> duration_s;    // subscribe, events: stop after this time
    // events
    TEventFilterOptions event_filter;
    bool refresh = false;  // events: first the active and unacknowledged conditions
    // ack: SOURCE CONDITION (in items), who acknowledges and why
    std::string actor;
    std::string comment;
};

// The options, or the text of what is wrong with the command line (args without the
// program name).
struct TParsed {
    std::optional<TOptions> options;
    std::string error;
};
TParsed ParseOptions(const std::vector<std::string>& args);

// The usage text printed by "opcclient help" and after a usage error.
const char* UsageText();

// Exit codes scripts can test.
enum TExitCode : int {
    kExitOk = 0,
    kExitItemFailed = 1,    // an item failed, or a subscription missed its count
    kExitUsage = 2,         // the command line is wrong
    kExitServerFailed = 3,  // the server could not be reached, or a call failed
    kExitShutdown = 4,      // the server asked the client to disconnect
};

}  // namespace porvex::opcclient
