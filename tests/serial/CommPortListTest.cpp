#include "serial/CommPortList.h"

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {
void AddTty(const fs::path& root, const std::string& name, bool device, const char* type = nullptr)
{
    fs::create_directories(root / name);
    if (device) {
        fs::create_directories(root / "devices" / name);
        fs::create_directory_symlink(root / "devices" / name, root / name / "device");
    }
    if (type)
        std::ofstream(root / name / "type") << type << "\n";
}
}  // namespace

TEST(CommPortList, RealPortsInNaturalOrderAfterTheExtraPorts)
{
    const fs::path root = fs::temp_directory_path() / ("morvel-sysfs-" + std::to_string(::getpid()));
    fs::remove_all(root);
    AddTty(root, "ttyS10", true, "4");
    AddTty(root, "ttyUSB0", true);
    AddTty(root, "ttyS2", true, "4");
    AddTty(root, "ttyS0", true, "4");
    AddTty(root, "ttyS1", true, "0");  // legacy UART with no hardware behind it
    AddTty(root, "tty0", false);       // virtual console
    AddTty(root, "ptmx", false);
    AddTty(root, "ttyACM0", true);
    const auto ports = ListCommPortsIn(root.string(), {"/tmp/pbx", "/dev/pts/7"});
    EXPECT_EQ(ports,
              (std::vector<std::string>{"/tmp/pbx", "/dev/pts/7", "ttyACM0", "ttyS0", "ttyS2", "ttyS10", "ttyUSB0"}));
    fs::remove_all(root);
}

TEST(CommPortList, MissingTreeGivesOnlyTheExtraPorts)
{
    EXPECT_EQ(ListCommPortsIn("/nonexistent/sys/class/tty", {"/tmp/x"}), std::vector<std::string>{"/tmp/x"});
    EXPECT_TRUE(ListCommPortsIn("/nonexistent", {}).empty());
}

TEST(CommPortList, NaturalLess)
{
    EXPECT_TRUE(NaturalLess("ttyS2", "ttyS10"));
    EXPECT_FALSE(NaturalLess("ttyS10", "ttyS2"));
    EXPECT_TRUE(NaturalLess("ttyS9", "ttyUSB0"));
    EXPECT_TRUE(NaturalLess("ttyS", "ttyS0"));
    EXPECT_FALSE(NaturalLess("ttyS1", "ttyS1"));
}

TEST(CommPortList, AUsbAdapterIsDescribedByItsByIdName)
{
    const fs::path root = fs::temp_directory_path() / ("morvel-dev-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "serial" / "by-id");
    std::ofstream(root / "ttyUSB0").put('x');
    std::ofstream(root / "ttyS0").put('x');
    fs::create_symlink("../../ttyUSB0", root / "serial" / "by-id" / "usb-FTDI_FT232R_USB_UART_A5-if00-port0");
    const std::string dev = root.string(), byId = (root / "serial" / "by-id").string();
    EXPECT_EQ(DescribeCommPortIn(dev, byId, "ttyUSB0"), "usb-FTDI_FT232R_USB_UART_A5-if00-port0");
    EXPECT_EQ(DescribeCommPortIn(dev, byId, (root / "ttyUSB0").string()), "usb-FTDI_FT232R_USB_UART_A5-if00-port0");
    EXPECT_EQ(DescribeCommPortIn(dev, byId, "ttyS0"), "");
    EXPECT_EQ(DescribeCommPortIn(dev, (root / "none").string(), "ttyUSB0"), "");
    fs::remove_all(root);
}
