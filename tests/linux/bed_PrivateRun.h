// The program's run lock is one file for the whole machine, in /run. Test processes that
// start the Linux program give themselves and the programs they start a /run of their own
// (an empty tmpfs in a mount namespace of their own, laid out like a real one), so that
// their runs neither wait for runs elsewhere on the machine nor hold them up.
#pragma once

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace bed {

class PrivateRun : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_EQ(unshare(CLONE_NEWNS), 0) << "needs root: " << std::strerror(errno);
        ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0)
            << std::strerror(errno);
        ASSERT_EQ(mount("tmpfs", "/run", "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755"), 0)
            << std::strerror(errno);
        ASSERT_EQ(mkdir("/run/lock", 0), 0) << std::strerror(errno);
        ASSERT_EQ(chmod("/run/lock", 01777), 0) << std::strerror(errno);
    }
};

}  // namespace bed
