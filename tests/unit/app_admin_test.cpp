// The administrator check under Wine or an elevated console: the process passes, and so does a
// thread that impersonates (its own token is the one checked). Natively the end-to-end tests
// run the program as another user to see the refusal.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include "platform/Administrator.h"

namespace {

TEST(AdministratorTest, ProcessAndImpersonatingThreadPass) {
    EXPECT_TRUE(IsAdministrator());
    ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
    const bool impersonating = IsAdministrator();
    ASSERT_TRUE(RevertToSelf());
    EXPECT_TRUE(impersonating);
}

}  // namespace
#endif
