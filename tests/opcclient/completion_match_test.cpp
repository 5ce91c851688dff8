// Telling a DA 1.0 request's completion from other blocks when it may arrive before the
// request's call has returned its transaction ID.
#include "completion_match.h"

#include <gtest/gtest.h>

#include <string>

namespace porvex::opcclient {
namespace {

TEST(CompletionMatch, KeepsACompletionThatCameBeforeItsIdWasKnown) {
    TCompletionMatch<std::string> match;
    match.Arrived(7, "advise refresh");
    match.Arrived(8, "our read");  // the callback overtook the reply of Read
    EXPECT_FALSE(match.Done()) << "nothing is ours before the ID is known";
    match.Expect(8);
    ASSERT_TRUE(match.Done());
    EXPECT_EQ(match.Take(), "our read");
}

TEST(CompletionMatch, WaitsForTheExpectedIdAndIgnoresOthers) {
    TCompletionMatch<std::string> match;
    match.Arrived(3, "advise refresh");
    match.Expect(4);
    EXPECT_FALSE(match.Done());
    match.Arrived(5, "someone else's");
    EXPECT_FALSE(match.Done());
    match.Arrived(4, "first");
    match.Arrived(4, "repeated");
    ASSERT_TRUE(match.Done());
    EXPECT_EQ(match.Take(), "first");
    EXPECT_FALSE(match.Done());
}

}  // namespace
}  // namespace porvex::opcclient
