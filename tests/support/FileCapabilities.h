#pragma once

// As root, permission bits bind only without CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH. Threads take the
// capabilities they start with: call this before any thread starts. True when the process runs without them now.

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace testsupport {

inline bool dropFileAccessOverride()
{
    if (::geteuid() != 0)
        return true;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    const unsigned dac = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
    data[0].effective &= ~dac;
    data[0].permitted &= ~dac;
    data[0].inheritable &= ~dac;
    return ::syscall(SYS_capset, &header, data) == 0;
}

} // namespace testsupport
