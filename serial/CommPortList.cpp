#include "serial/CommPortList.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// A legacy 8250 UART that the kernel registered but found no hardware for
// reports type 0 (PORT_UNKNOWN); opening it fails or hangs.
bool IsPhantomUart(const fs::path& entry)
{
    std::ifstream in(entry / "type");
    int type = -1;
    return in >> type && type == 0;
}

bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

}  // namespace

bool NaturalLess(const std::string& a, const std::string& b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            size_t i2 = i, j2 = j;
            while (i2 < a.size() && a[i2] == '0')
                ++i2;
            while (j2 < b.size() && b[j2] == '0')
                ++j2;
            size_t ie = i2, je = j2;
            while (ie < a.size() && IsDigit(a[ie]))
                ++ie;
            while (je < b.size() && IsDigit(b[je]))
                ++je;
            if (ie - i2 != je - j2)
                return ie - i2 < je - j2;
            int c = a.compare(i2, ie - i2, b, j2, je - j2);
            if (c != 0)
                return c < 0;
            i = ie;
            j = je;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

std::vector<std::string> ListCommPortsIn(const std::string& sysClassTty, const std::vector<std::string>& extraPorts)
{
    std::vector<std::string> real;
    std::error_code ec;
    for (fs::directory_iterator it(sysClassTty, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path entry = it->path();
        // Only ttys with a device behind them; virtual consoles and ptys have none.
        std::error_code linkError;
        if (!fs::exists(entry / "device", linkError))
            continue;
        if (IsPhantomUart(entry))
            continue;
        real.push_back(entry.filename().string());
    }
    std::sort(real.begin(), real.end(), NaturalLess);
    std::vector<std::string> ports = extraPorts;
    ports.insert(ports.end(), real.begin(), real.end());
    return ports;
}

std::vector<std::string> ListCommPorts(const std::vector<std::string>& extraPorts)
{
    return ListCommPortsIn("/sys/class/tty", extraPorts);
}

std::string DescribeCommPortIn(const std::string& devDirectory, const std::string& byIdDirectory,
                               const std::string& port)
{
    std::error_code ec;
    const fs::path device = port.find('/') == std::string::npos ? fs::path(devDirectory) / port : fs::path(port);
    const fs::path target = fs::weakly_canonical(device, ec);
    if (ec)
        return {};
    for (fs::directory_iterator it(byIdDirectory, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code linkError;
        if (fs::weakly_canonical(it->path(), linkError) == target && !linkError)
            return it->path().filename().string();
    }
    return {};
}

std::string DescribeCommPort(const std::string& port) { return DescribeCommPortIn("/dev", "/dev/serial/by-id", port); }
