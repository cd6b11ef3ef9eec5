#pragma once
// The serial devices present, as names that TSerialPortNG::SetCommPort takes.
#include <string>
#include <vector>

// The extra ports (virtual ports, the simulator) first, then the real serial
// ports in natural order (ttyS2 before ttyS10), so that a saved index keeps
// finding the same port.
std::vector<std::string> ListCommPorts(const std::vector<std::string>& extraPorts);

// The same over another copy of /sys/class/tty.
std::vector<std::string> ListCommPortsIn(const std::string& sysClassTty, const std::vector<std::string>& extraPorts);

// "ttyS2" < "ttyS10": digit runs compare by value.
bool NaturalLess(const std::string& a, const std::string& b);

// What a port is, when the system says: the name of its link under
// /dev/serial/by-id (USB serial adapters), else empty. port is a list entry.
std::string DescribeCommPort(const std::string& port);
// The same over another copy of /dev and its by-id folder.
std::string DescribeCommPortIn(const std::string& devDirectory, const std::string& byIdDirectory,
                               const std::string& port);
