// Host information: the hardware model and machine names (the kernel's "hw.model" and
// "hw.machine" of other systems) and the system version, which on Linux is the kernel
// release. Every function may be called from any thread.
#pragma once

#include <string>

namespace hvn::Host {

// The hardware model: /sys/devices/virtual/dmi/id/product_name, else the device-tree
// model (/proc/device-tree/model), trimmed; empty when neither can be read.
std::string hardwareModel();

// The hardware machine name of uname(2) ("x86_64", "aarch64"); empty when unknown.
std::string machine();

struct Version {
    int major = 0;
    int minor = 0;
    int patch = 0;
};

// The leading "major.minor.patch" numbers of a kernel release text such as
// "6.1.0-18-amd64" (missing or unreadable parts are 0).
Version parseRelease(const std::string& release);

// The running kernel's release numbers (uname(2)); all 0 when unknown.
Version systemVersion();

}  // namespace hvn::Host
