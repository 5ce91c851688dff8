#include <gtest/gtest.h>

#include "options.h"

namespace porvex::opcclient {
namespace {

TOptions Parse(std::vector<std::string> args) {
    TParsed parsed = ParseOptions(args);
    EXPECT_TRUE(parsed.options) << parsed.error;
    return parsed.options.value_or(TOptions{});
}

std::string Error(std::vector<std::string> args) {
    TParsed parsed = ParseOptions(args);
    EXPECT_FALSE(parsed.options);
    return parsed.error;
}

TEST(OptionsTest, CommandsTakeTheirServerAndItems) {
    TOptions read = Parse({"read", "Srv.1", "A.B", "C", "--device", "--async"});
    EXPECT_EQ(read.command, TCommand::Read);
    EXPECT_EQ(read.server, "Srv.1");
    EXPECT_EQ(read.items, (std::vector<std::string>{"A.B", "C"}));
    EXPECT_TRUE(read.device);
    EXPECT_EQ(read.transport, TTransport::Async);
    EXPECT_EQ(Parse({"servers"}).command, TCommand::Servers);
    EXPECT_EQ(Parse({"--help"}).command, TCommand::Help);
    TOptions browse = Parse({"browse", "{2BA2546D-BF15-42CC-B885-DD3C29527601}", "--flat",
                             "--branch=Plant.Hall1", "--filter", "P*"});
    EXPECT_TRUE(browse.flat);
    EXPECT_EQ(browse.branch, "Plant.Hall1");
    EXPECT_EQ(browse.filter, "P*");
}

TEST(OptionsTest, WritesSplitAtTheFirstEqualsSign) {
    TOptions write = Parse({"write", "S", "A=1", "B=x=y", "C=", "--da1"});
    ASSERT_EQ(write.writes.size(), 3u);
    EXPECT_EQ(write.writes[1].item, "B");
    EXPECT_EQ(write.writes[1].value, "x=y");
    EXPECT_EQ(write.writes[2].value, "");
    EXPECT_EQ(write.transport, TTransport::StreamTime);
    EXPECT_EQ(Error({"write", "S", "A"}), "write takes ITEM=VALUE, not 'A'");
    EXPECT_EQ(Error({"write", "S", "=1"}), "write takes ITEM=VALUE, not '=1'");
}

TEST(OptionsTest, SubscriptionLimits) {
    TOptions sub = Parse({"subscribe", "S", "--rate", "250", "--count=3", "--duration", "1.5",
                          "--deadband", "2.5", "--da1=data"});
    EXPECT_EQ(sub.rate_ms, 250u);
    EXPECT_EQ(sub.count, 3u);
    EXPECT_DOUBLE_EQ(*sub.duration_s, 1.5);
    EXPECT_FLOAT_EQ(sub.deadband, 2.5f);
    EXPECT_EQ(sub.transport, TTransport::Stream);
    EXPECT_TRUE(sub.items.empty());
    EXPECT_FALSE(Parse({"subscribe", "S"}).count.has_value());
}

TEST(OptionsTest, EventFiltersAndAcknowledgements) {
    TOptions events =
        Parse({"events", "S", "--filter", "type=condition,simple", "--filter=category=1,3",
               "--filter", "severity=500-900", "--filter", "area=Plant.*", "--filter", "area=Yard",
               "--filter", "source=*Door1", "--refresh", "--count", "2", "--duration", "3"});
    EXPECT_EQ(events.command, TCommand::Events);
    EXPECT_EQ(events.event_filter.types, 5u);
    EXPECT_EQ(events.event_filter.categories, (std::vector<unsigned long>{1, 3}));
    EXPECT_EQ(events.event_filter.low_severity, 500u);
    EXPECT_EQ(events.event_filter.high_severity, 900u);
    EXPECT_EQ(events.event_filter.areas, (std::vector<std::string>{"Plant.*", "Yard"}));
    EXPECT_EQ(events.event_filter.sources, std::vector<std::string>{"*Door1"});
    EXPECT_TRUE(events.refresh);
    EXPECT_EQ(events.count, 2u);
    EXPECT_EQ(Parse({"events", "S"}).event_filter.types, 7u);
    EXPECT_EQ(Error({"events", "S", "--filter", "kind=x"}),
              "--filter knows type, category, severity, area and source, not 'kind'");
    EXPECT_EQ(Error({"events", "S", "--filter", "type=alarm"}),
              "--filter type= takes simple, tracking and condition");
    EXPECT_EQ(Error({"events", "S", "--filter", "severity=900-100"}),
              "--filter severity= takes LOW-HIGH within 1-1000");
    EXPECT_EQ(Error({"events", "S", "--filter", "category"}),
              "--filter takes KEY=VALUE, not 'category'");
    EXPECT_EQ(Error({"events", "S", "extra"}), "unexpected argument 'extra'");

    TOptions ack =
        Parse({"ack", "S", "Plant.Hall1.Tank1", "HighLevel", "--actor", "op 7", "--comment=seen"});
    EXPECT_EQ(ack.items, (std::vector<std::string>{"Plant.Hall1.Tank1", "HighLevel"}));
    EXPECT_EQ(ack.actor, "op 7");
    EXPECT_EQ(ack.comment, "seen");
    EXPECT_EQ(Error({"ack", "S", "Src"}), "ack takes a SOURCE and a CONDITION");
    EXPECT_EQ(Error({"ack", "S", "Src", "Cond"}), "ack needs --actor: who acknowledges");
    EXPECT_EQ(Error({"read", "S", "A", "--actor", "x"}),
              "option --actor does not apply to this command");
}

TEST(OptionsTest, MistakesAreNamed) {
    EXPECT_EQ(Error({}), "no command given");
    EXPECT_EQ(Error({"reed", "S"}), "unknown command 'reed'");
    EXPECT_EQ(Error({"read"}), "no server given (a ProgID or a {CLSID})");
    EXPECT_EQ(Error({"read", "S"}), "read takes at least one item ID");
    EXPECT_EQ(Error({"props", "S", "A", "B"}), "props takes one item ID");
    EXPECT_EQ(Error({"status", "S", "extra"}), "unexpected argument 'extra'");
    EXPECT_EQ(Error({"read", "S", "A", "--flat"}), "option --flat does not apply to this command");
    EXPECT_EQ(Error({"subscribe", "S", "--rate"}), "option --rate needs a value");
    EXPECT_EQ(Error({"subscribe", "S", "--rate", "0"}),
              "--rate takes a positive number of milliseconds");
    EXPECT_EQ(Error({"subscribe", "S", "--rate", "-5"}),
              "--rate takes a positive number of milliseconds");
    EXPECT_EQ(Error({"subscribe", "S", "--count", "1x"}),
              "--count takes a positive number of values");
    EXPECT_EQ(Error({"subscribe", "S", "--duration", "nan"}),
              "--duration takes a positive number of seconds");
    EXPECT_EQ(Error({"subscribe", "S", "--deadband", "101"}),
              "--deadband takes a percentage from 0 to 100");
    EXPECT_EQ(Error({"subscribe", "S", "A", "--branch", "B"}),
              "subscribe takes item IDs or --branch, not both");
    EXPECT_EQ(Error({"read", "S", "A", "--da1=xml"}), "--da1 takes 'time' or 'data'");
    EXPECT_EQ(Error({"read", "S", "A", "--async=1"}), "option --async takes no value");
    EXPECT_EQ(Error({"read", "S", "A", "--bogus"}), "unknown option --bogus");
}

}  // namespace
}  // namespace porvex::opcclient
