// The Session's own behaviour: numbering per thread and the wrappers'
// answers (Configure's are in dialogs_test).
#include <gtest/gtest.h>

#include <thread>

#include "fakes/fake_platform.h"
#include "session/session.h"

namespace ledra::testing {
namespace {

class SessionTest : public PlatformTest {};

TEST_F(SessionTest, InstancesAreNumberedPerThreadFromTheLiveCount) {
  auto first = std::make_unique<Session>();
  Session second;
  EXPECT_EQ(first->instance_no(), 1);
  EXPECT_EQ(second.instance_no(), 2);
  first.reset();
  Session third;  // the count fell to 1, so the next one is 2 again
  EXPECT_EQ(third.instance_no(), 2);
  int16_t other_thread = 0;
  std::thread([&] { other_thread = Session().instance_no(); }).join();
  EXPECT_EQ(other_thread, 1);
  EXPECT_TRUE(sys.Failures().empty());
}

TEST_F(SessionTest, TheCountStopsAtItsLimitWithALoggedOverflow) {
  std::thread([&] {
    Module().session_count = INT16_MAX;
    Session s;
    EXPECT_EQ(s.instance_no(), INT16_MAX);
    EXPECT_EQ(Module().session_count, INT16_MAX);
  }).join();
  EXPECT_EQ(sys.Failures(), std::vector<std::string>{"Overflow @ plugin.Session.Init"});
}

TEST_F(SessionTest, CapabilitiesTakeTheVersionFromTheModule) {
  sys.platform.module.major = 3;
  sys.platform.module.minor = 12;
  sys.platform.module.comments = u"beta";
  EXPECT_EQ(ToUtf8(Session().Capabilities()).substr(0, 60),
            "{Version=3.12}{Name=LedraII}{Description=Kestrin Ledra II}{C");
  EXPECT_NE(ToUtf8(Session().Capabilities()).find("{Comments=beta}"), std::string::npos);
}

}  // namespace
}  // namespace ledra::testing
