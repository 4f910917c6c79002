#include "platform/usb_serial_enum.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "platform/port_table.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace tr52 {
namespace {

namespace fs = std::filesystem;

// A miniature sysfs: class/tty/<name>/device → a USB interface under a USB device.
class FakeSysfs {
 public:
  FakeSysfs() {
    fs::create_directories(Sys() + "/class/tty");
    fs::create_directories(Dev());
  }
  std::string Sys() const { return dir_.Path() + "/sys"; }
  std::string Dev() const { return dir_.Path() + "/dev"; }

  // A USB tty: device folder with idVendor/product, interface folder, tty below it.
  void AddUsbTty(const std::string& name, const std::string& product, bool withNode = true) {
    const std::string usbDev = Sys() + "/devices/usb1/1-" + name;
    const std::string intf = usbDev + "/1-" + name + ":1.0";
    fs::create_directories(intf + "/" + name);
    std::ofstream(usbDev + "/idVendor") << "1234\n";
    if (!product.empty()) std::ofstream(usbDev + "/product") << product << "\n";
    std::ofstream(intf + "/bInterfaceNumber") << "00\n";
    fs::create_directories(Sys() + "/class/tty/" + name);
    fs::create_directory_symlink(intf + "/" + name, Sys() + "/class/tty/" + name + "/device");
    if (withNode) std::ofstream(Dev() + "/" + name).put('x');
  }
  // A tty that is not on USB.
  void AddPlainTty(const std::string& name) {
    const std::string platform = Sys() + "/devices/platform/serial8250/" + name;
    fs::create_directories(platform);
    fs::create_directories(Sys() + "/class/tty/" + name);
    fs::create_directory_symlink(platform, Sys() + "/class/tty/" + name + "/device");
    std::ofstream(Dev() + "/" + name).put('x');
  }

 private:
  tr52test::TempDir dir_;
};

TEST(UsbSerialEnum, KernelNamesMapToFixedComNumbers) {
  EXPECT_EQ(ComForKernelName("ttyACM0"), 100);
  EXPECT_EQ(ComForKernelName("ttyACM99"), 199);
  EXPECT_EQ(ComForKernelName("ttyUSB0"), 200);
  EXPECT_EQ(ComForKernelName("ttyUSB55"), 255);
  EXPECT_FALSE(ComForKernelName("ttyUSB56"));
  EXPECT_FALSE(ComForKernelName("ttyACM100"));
  EXPECT_FALSE(ComForKernelName("ttyS0"));
  EXPECT_FALSE(ComForKernelName("ttyUSB"));
  EXPECT_FALSE(ComForKernelName("ttyUSBx"));
}

TEST(UsbSerialEnum, ListsUsbTtysWithProductAsFriendlyName) {
  FakeSysfs sys;
  sys.AddUsbTty("ttyACM1", "ZUM Mobile USB Serial Port");
  sys.AddUsbTty("ttyUSB0", "");
  sys.AddUsbTty("ttyUSB3", "Gone", /*withNode=*/false);
  sys.AddPlainTty("ttyS0");
  const auto ports = ListUsbSerialPorts(sys.Sys(), sys.Dev());
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].com, 101);
  EXPECT_EQ(ports[0].portName, "COM101");
  EXPECT_EQ(ports[0].friendlyName, "ZUM Mobile USB Serial Port (COM101)");
  EXPECT_EQ(ports[0].devicePath, sys.Dev() + "/ttyACM1");
  EXPECT_EQ(ports[0].location.rfind("USB", 0), 0u);
  EXPECT_EQ(ports[1].com, 200);
  EXPECT_EQ(ports[1].friendlyName, "ttyUSB0 (COM200)");  // no product string
}

TEST(UsbSerialEnum, MissingSysfsIsAnEmptyList) {
  EXPECT_TRUE(ListUsbSerialPorts("/nonexistent-sysfs", "/dev").empty());
}

TEST(UsbSerialEnum, DeclaredPortsComeFirstAndWinTheirNumber) {
  tr52test::TempDir dir;
  tr52test::ScopedEnv table("TR52_PORT_TABLE", dir.File("ports"));
  const std::string node = dir.File("node");
  std::ofstream(node).put('x');
  ASSERT_TRUE(DeclarePort(6, node, "ZUM Mobile USB Serial Port (COM6)"));
  EXPECT_EQ(DevicePathForCom(6), node);
  // Below 100 no USB port can answer, so this holds on any machine.
  EXPECT_FALSE(DevicePathForCom(99));
  const auto ports = ListSystemSerialPorts();
  ASSERT_FALSE(ports.empty());
  EXPECT_EQ(ports[0].com, 6);
  EXPECT_EQ(ports[0].location, "PortTable");
}

}  // namespace
}  // namespace tr52
