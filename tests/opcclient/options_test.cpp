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
