// The administrator check on Windows when a thread impersonates: the check must judge the
// thread's own token, and release it, without failing. Natively the end-to-end tests run the
// program as another user.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include "platform/Administrator.h"

namespace {

// Under Wine (and from an elevated console) both the process and an impersonating thread
// pass the check.
TEST(AdministratorTest, ProcessAndImpersonatingThreadPass) {
    EXPECT_TRUE(IsAdministrator());
    ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
    const bool impersonating = IsAdministrator();
    ASSERT_TRUE(RevertToSelf());
    EXPECT_TRUE(impersonating);
}

}  // namespace
#endif
