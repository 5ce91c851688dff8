#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace porvex::opcclient {
namespace {

struct TCommandName {
    const char* name;
    TCommand command;
};

constexpr TCommandName kCommands[] = {
    {"help", TCommand::Help},     {"servers", TCommand::Servers},     {"status", TCommand::Status},
    {"browse", TCommand::Browse}, {"props", TCommand::Props},         {"read", TCommand::Read},
    {"write", TCommand::Write},   {"subscribe", TCommand::Subscribe}, {"events", TCommand::Events},
    {"ack", TCommand::Ack},
};

// "a,b,c" split at commas (empty parts dropped).
std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = text.find(',', start);
        const std::size_t end = comma == std::string::npos ? text.size() : comma;
        if (end > start) {
            parts.push_back(text.substr(start, end - start));
        }
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    return parts;
}

bool NeedsServer(TCommand c) { return c != TCommand::Help && c != TCommand::Servers; }

bool ParseUnsigned(const std::string& text, unsigned long& out) {
    if (text.empty() || text[0] == '-' || text[0] == '+') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') {
        return false;
    }
    out = value;
    return true;
}

bool ParseNumber(const std::string& text, double& out) {
    if (text.empty()) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(value)) {
        return false;
    }
    out = value;
    return true;
}

class TParser {
  public:
    explicit TParser(const std::vector<std::string>& args) : args_(args) {}

    TParsed Run() {
        TParsed parsed;
        if (args_.empty()) {
            parsed.error = "no command given";
            return parsed;
        }
        const std::string& name = args_[0];
        bool known = false;
        for (const TCommandName& c : kCommands) {
            if (name == c.name) {
                options_.command = c.command;
                known = true;
            }
        }
        if (!known) {
            if (name == "--help" || name == "-h" || name == "/?") {
                parsed.options = options_;
                return parsed;
            }
            parsed.error = "unknown command '" + name + "'";
            return parsed;
        }
        std::vector<std::string> positional;
        for (std::size_t i = 1; i < args_.size(); ++i) {
            const std::string& arg = args_[i];
            if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
                if (!Option(arg, i)) {
                    parsed.error = error_;
                    return parsed;
                }
            } else {
                positional.push_back(arg);
            }
        }
        if (!Positional(positional)) {
            parsed.error = error_;
            return parsed;
        }
        parsed.options = options_;
        return parsed;
    }

  private:
    // The value of an option: after '=' in the same argument, or the next argument.
    bool Value(const std::string& name, const std::string& inline_value, bool has_inline,
               std::size_t& i, std::string& out) {
        if (has_inline) {
            out = inline_value;
            return true;
        }
        if (i + 1 >= args_.size()) {
            error_ = "option --" + name + " needs a value";
            return false;
        }
        out = args_[++i];
        return true;
    }

    bool Allowed(const std::string& name, std::initializer_list<TCommand> commands) {
        for (TCommand c : commands) {
            if (c == options_.command) {
                return true;
            }
        }
        error_ = "option --" + name + " does not apply to this command";
        return false;
    }

    bool Option(const std::string& arg, std::size_t& i) {
        const std::size_t eq = arg.find('=');
        const std::string name =
            arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
        const bool has_inline = eq != std::string::npos;
        const std::string inline_value = has_inline ? arg.substr(eq + 1) : std::string();
        std::string value;
        if (name == "flat") {
            return Flag(name, {TCommand::Browse}, has_inline, options_.flat);
        }
        if (name == "device") {
            return Flag(name, {TCommand::Read}, has_inline, options_.device);
        }
        if (name == "async") {
            if (!Allowed(name, {TCommand::Read, TCommand::Write}) || !NoValue(name, has_inline)) {
                return false;
            }
            options_.transport = TTransport::Async;
            return true;
        }
        if (name == "da1") {
            if (!Allowed(name, {TCommand::Read, TCommand::Write, TCommand::Subscribe})) {
                return false;
            }
            const std::string format = has_inline ? inline_value : "time";
            if (format == "time") {
                options_.transport = TTransport::StreamTime;
            } else if (format == "data") {
                options_.transport = TTransport::Stream;
            } else {
                error_ = "--da1 takes 'time' or 'data'";
                return false;
            }
            return true;
        }
        if (name == "branch") {
            return Allowed(name, {TCommand::Browse, TCommand::Subscribe}) &&
                   Value(name, inline_value, has_inline, i, options_.branch);
        }
        if (name == "filter" && options_.command == TCommand::Events) {
            return Value(name, inline_value, has_inline, i, value) && EventFilter(value);
        }
        if (name == "filter") {
            return Allowed(name, {TCommand::Browse}) &&
                   Value(name, inline_value, has_inline, i, options_.filter);
        }
        if (name == "rate") {
            if (!Allowed(name, {TCommand::Subscribe}) ||
                !Value(name, inline_value, has_inline, i, value)) {
                return false;
            }
            if (!ParseUnsigned(value, options_.rate_ms) || options_.rate_ms == 0) {
                error_ = "--rate takes a positive number of milliseconds";
                return false;
            }
            return true;
        }
        if (name == "deadband") {
            double percent = 0.0;
            if (!Allowed(name, {TCommand::Subscribe}) ||
                !Value(name, inline_value, has_inline, i, value)) {
                return false;
            }
            if (!ParseNumber(value, percent) || percent < 0.0 || percent > 100.0) {
                error_ = "--deadband takes a percentage from 0 to 100";
                return false;
            }
            options_.deadband = static_cast<float>(percent);
            return true;
        }
        if (name == "count") {
            unsigned long count = 0;
            if (!Allowed(name, {TCommand::Subscribe, TCommand::Events}) ||
                !Value(name, inline_value, has_inline, i, value)) {
                return false;
            }
            if (!ParseUnsigned(value, count) || count == 0) {
                error_ = "--count takes a positive number of values";
                return false;
            }
            options_.count = count;
            return true;
        }
        if (name == "duration") {
            double seconds = 0.0;
            if (!Allowed(name, {TCommand::Subscribe, TCommand::Events}) ||
                !Value(name, inline_value, has_inline, i, value)) {
                return false;
            }
            if (!ParseNumber(value, seconds) || seconds <= 0.0 || seconds > 1e7) {
                error_ = "--duration takes a positive number of seconds";
                return false;
            }
            options_.duration_s = seconds;
            return true;
        }
        if (name == "refresh") {
            return Flag(name, {TCommand::Events}, has_inline, options_.refresh);
        }
        if (name == "actor") {
            return Allowed(name, {TCommand::Ack}) &&
                   Value(name, inline_value, has_inline, i, options_.actor);
        }
        if (name == "comment") {
            return Allowed(name, {TCommand::Ack}) &&
                   Value(name, inline_value, has_inline, i, options_.comment);
        }
        error_ = "unknown option --" + name;
        return false;
    }

    // One KEY=VALUE of --filter: type=simple,tracking,condition  category=1,3
    // severity=LOW-HIGH  area=PATTERN  source=PATTERN (area and source repeatable).
    bool EventFilter(const std::string& text) {
        const std::size_t eq = text.find('=');
        const std::string key = text.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : text.substr(eq + 1);
        TEventFilterOptions& filter = options_.event_filter;
        if (eq == std::string::npos || value.empty()) {
            error_ = "--filter takes KEY=VALUE, not '" + text + "'";
            return false;
        }
        if (key == "type") {
            filter.types = 0;
            for (const std::string& type : SplitList(value)) {
                if (type == "simple") {
                    filter.types |= 1;
                } else if (type == "tracking") {
                    filter.types |= 2;
                } else if (type == "condition") {
                    filter.types |= 4;
                } else {
                    error_ = "--filter type= takes simple, tracking and condition";
                    return false;
                }
            }
            if (filter.types == 0) {
                error_ = "--filter type= names no type";
                return false;
            }
            return true;
        }
        if (key == "category") {
            for (const std::string& part : SplitList(value)) {
                unsigned long id = 0;
                if (!ParseUnsigned(part, id)) {
                    error_ = "--filter category= takes category numbers";
                    return false;
                }
                filter.categories.push_back(id);
            }
            return true;
        }
        if (key == "severity") {
            const std::size_t dash = value.find('-');
            unsigned long low = 0;
            unsigned long high = 0;
            if (dash == std::string::npos || !ParseUnsigned(value.substr(0, dash), low) ||
                !ParseUnsigned(value.substr(dash + 1), high) || low < 1 || high > 1000 ||
                low > high) {
                error_ = "--filter severity= takes LOW-HIGH within 1-1000";
                return false;
            }
            filter.low_severity = low;
            filter.high_severity = high;
            return true;
        }
        if (key == "area") {
            filter.areas.push_back(value);
            return true;
        }
        if (key == "source") {
            filter.sources.push_back(value);
            return true;
        }
        error_ = "--filter knows type, category, severity, area and source, not '" + key + "'";
        return false;
    }

    // A switch without a value that sets flag.
    bool Flag(const std::string& name, std::initializer_list<TCommand> commands, bool has_inline,
              bool& flag) {
        if (!Allowed(name, commands) || !NoValue(name, has_inline)) {
            return false;
        }
        flag = true;
        return true;
    }

    bool NoValue(const std::string& name, bool has_inline) {
        if (has_inline) {
            error_ = "option --" + name + " takes no value";
            return false;
        }
        return true;
    }

    bool Positional(const std::vector<std::string>& positional) {
        std::size_t next = 0;
        if (NeedsServer(options_.command)) {
            if (positional.empty()) {
                error_ = "no server given (a ProgID or a {CLSID})";
                return false;
            }
            options_.server = positional[next++];
        }
        for (; next < positional.size(); ++next) {
            const std::string& arg = positional[next];
            if (options_.command == TCommand::Write) {
                const std::size_t eq = arg.find('=');
                if (eq == std::string::npos || eq == 0) {
                    error_ = "write takes ITEM=VALUE, not '" + arg + "'";
                    return false;
                }
                options_.writes.push_back({arg.substr(0, eq), arg.substr(eq + 1)});
            } else {
                options_.items.push_back(arg);
            }
        }
        switch (options_.command) {
            case TCommand::Help:
            case TCommand::Servers:
            case TCommand::Status:
            case TCommand::Browse:
                if (!options_.items.empty()) {
                    error_ = "unexpected argument '" + options_.items.front() + "'";
                    return false;
                }
                return true;
            case TCommand::Props:
                if (options_.items.size() != 1) {
                    error_ = "props takes one item ID";
                    return false;
                }
                return true;
            case TCommand::Read:
                if (options_.items.empty()) {
                    error_ = "read takes at least one item ID";
                    return false;
                }
                return true;
            case TCommand::Write:
                if (options_.writes.empty()) {
                    error_ = "write takes at least one ITEM=VALUE";
                    return false;
                }
                return true;
            case TCommand::Events:
                if (!options_.items.empty()) {
                    error_ = "unexpected argument '" + options_.items.front() + "'";
                    return false;
                }
                return true;
            case TCommand::Ack:
                if (options_.items.size() != 2) {
                    error_ = "ack takes a SOURCE and a CONDITION";
                    return false;
                }
                if (options_.actor.empty()) {
                    error_ = "ack needs --actor: who acknowledges";
                    return false;
                }
                return true;
            case TCommand::Subscribe:
                if (!options_.items.empty() && !options_.branch.empty()) {
                    error_ = "subscribe takes item IDs or --branch, not both";
                    return false;
                }
                return true;
        }
        return true;
    }

    const std::vector<std::string>& args_;
    TOptions options_;
    std::string error_;
};

}  // namespace

TParsed ParseOptions(const std::vector<std::string>& args) { return TParser(args).Run(); }

const char* UsageText() {
    return "usage: opcclient COMMAND [arguments] [options]\n"
           "\n"
           "  servers                         OPC DA servers registered on this computer\n"
           "  status    SERVER                the server's status\n"
           "  browse    SERVER                the item tree  [--flat] [--branch PATH]\n"
           "                                  [--filter MASK]\n"
           "  props     SERVER ITEM           the item's properties\n"
           "  read      SERVER ITEM...        values  [--device] [--async | --da1[=data|time]]\n"
           "  write     SERVER ITEM=VALUE...  write values  [--async | --da1]\n"
           "  subscribe SERVER [ITEM...]      print changes as they come (every item when\n"
           "                                  none is named)  [--branch PATH] [--rate MS]\n"
           "                                  [--deadband PCT] [--count N] [--duration S]\n"
           "                                  [--da1[=data|time]]\n"
           "  events    SERVER                print alarms and events as they come (an OPC\n"
           "                                  Alarms & Events server)  [--filter KEY=VALUE]...\n"
           "                                  [--refresh] [--count N] [--duration S]\n"
           "                                  KEY: type=simple,tracking,condition\n"
           "                                  category=N,N  severity=LOW-HIGH  area=PATTERN\n"
           "                                  source=PATTERN\n"
           "  ack       SERVER SOURCE CONDITION  acknowledge the condition's latest activation\n"
           "                                  --actor ID [--comment TEXT]\n"
           "  help                            this text\n"
           "\n"
           "SERVER is a ProgID (opcsample.SampleServer.1, opcsample.SampleEvents.1) or a\n"
           "class ID in braces.\n"
           "Exit codes: 0 done, 1 an item failed or --count was not reached, 2 usage,\n"
           "3 the server failed or could not be reached, 4 the server asked to disconnect.\n";
}

}  // namespace porvex::opcclient
