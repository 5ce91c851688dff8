// opcclient: a command-line OPC DA and Alarms & Events client for checking an installation, for
// scripts and for the project's tests (docs/opcclient.md).
#include <windows.h>

#include <cstdio>

#include "commands.h"
#include "opc/com/client_callbacks.h"
#include "opc/com/errors.h"
#include "opc/com/text.h"
#include "options.h"
#include "output.h"
#include "win/com_apartment.h"
#include "win/rpc_interface_anchor.h"

using namespace porvex::opcclient;

namespace {

int Run(const TOptions& options) {
    switch (options.command) {
        case TCommand::Help:
            std::fputs(UsageText(), stdout);
            return kExitOk;
        case TCommand::Servers:
            return RunServers(options);
        case TCommand::Status:
            return RunStatus(options);
        case TCommand::Browse:
            return RunBrowse(options);
        case TCommand::Props:
            return RunProps(options);
        case TCommand::Read:
            return RunRead(options);
        case TCommand::Write:
            return RunWrite(options);
        case TCommand::Subscribe:
            return RunSubscribe(options);
        case TCommand::Events:
            return RunEvents(options);
        case TCommand::Ack:
            return RunAck(options);
    }
    return kExitUsage;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(porvex::opc::Utf8FromWide(argv[i]));
    }
    const TParsed parsed = ParseOptions(args);
    if (!parsed.options) {
        PrintError(porvex::opc::WideFromUtf8(parsed.error));
        std::fputs(UsageText(), stderr);
        return kExitUsage;
    }
    InstallStopHandler();
    try {
        porvex::win::ComApartment apartment;
        apartment.require();
        porvex::win::AnchorRpcInterfaces(porvex::opc::ClientCallbackInterfaces());
        return Run(*parsed.options);
    } catch (const TClientFailure& failure) {
        PrintError(failure.text);
        return failure.exit_code;
    } catch (...) {
        PrintError(porvex::opc::DescribeException(std::current_exception()));
        return kExitServerFailed;
    }
}
