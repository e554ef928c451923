// Port discovery and the receive queue.

#include "port_list.h"
#include "rx_queue.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

TEST(SerialCommEntry, LongNamesGetTheDevicePrefix)
{
    const std::pair<std::string, std::string> table[] = {
        {"COM1", "COM1"},          {"COM9", "COM9"},
        {"COM10", "\\\\.\\COM10"}, {"COM256", "\\\\.\\COM256"},
        {"", ""},                  {"ABCDE", "\\\\.\\ABCDE"},
        {"A", "A"},
    };
    for (const auto& [data, entry] : table)
        EXPECT_EQ(SerialCommEntry(data), entry) << data;
    EXPECT_EQ(SerialCommEntry("COM10").size(), 9u); // two backslashes, a dot, a backslash
}

TEST(ListSerialPorts, AppendsWithoutClearing)
{
    std::vector<std::string> list = {"typed by hand", "typed by hand"};
    ListSerialPorts(list);
    ASSERT_GE(list.size(), 2u);
    EXPECT_EQ(list[0], "typed by hand");
    EXPECT_EQ(list[1], "typed by hand");
    for (size_t i = 2; i < list.size(); ++i)
        EXPECT_EQ(list[i].rfind("/dev/", 0), 0u) << list[i];
}

TEST(ListSerialPorts, ListsDeviceBackedTtysInDirectoryOrder)
{
    const fs::path root = TempDir();
    const fs::path cls = root / "class";
    fs::create_directories(root / "devices/usb1");
    auto tty = [&](const std::string& name, bool device, const char* type) {
        fs::create_directories(cls / name);
        if (device)
            fs::create_directory_symlink(root / "devices/usb1", cls / name / "device");
        if (type)
            std::ofstream(cls / name / "type") << type << "\n";
    };
    tty("ttyUSB0", true, nullptr);
    tty("ttyS0", true, "4");  // a UART
    tty("ttyS3", true, "0");  // reserved by the driver, nothing there
    tty("tty1", false, nullptr);
    tty("ttyACM1", true, nullptr);

    std::vector<std::string> expected = {"first"};
    for (const auto& e : fs::directory_iterator(cls)) {
        const std::string name = e.path().filename();
        if (name == "ttyUSB0" || name == "ttyS0" || name == "ttyACM1")
            expected.push_back("/dev/" + name);
    }
    std::vector<std::string> list = {"first"};
    ListSerialPortsIn(cls.string(), "/dev", list);
    EXPECT_EQ(list, expected);

    std::vector<std::string> none;
    ListSerialPortsIn((root / "missing").string(), "/dev", none);
    EXPECT_TRUE(none.empty());
    fs::remove_all(root);
}

// Only a refusal for want of permission names the device's group (the
// user is told to join it); any other failure, or no device, names nothing.
TEST(PortAccessGroup, NamedOnlyForAPermissionRefusal)
{
    const fs::path device = fs::path(TempDir()) / "ttyDenied";
    std::ofstream(device) << "";
    struct stat st {};
    ASSERT_EQ(::stat(device.c_str(), &st), 0);
    const group* owner = ::getgrgid(st.st_gid);
    ASSERT_NE(owner, nullptr);
    for (int code : {EACCES, EPERM})
        EXPECT_EQ(PortAccessGroup(code, device.string()), owner->gr_name) << code;
    for (int code : {ENOENT, EBUSY, EIO, 0})
        EXPECT_EQ(PortAccessGroup(code, device.string()), "") << code;
    EXPECT_EQ(PortAccessGroup(EACCES, (device.parent_path() / "missing").string()), "");
    fs::remove_all(device.parent_path());
}

TEST(RxQueue, KeepsOrderAcrossTheWrapAndACapacityChange)
{
    TRxQueue q(8);
    char out[16] = {};
    EXPECT_EQ(q.Push("abcdef", 6), 6u);
    EXPECT_EQ(q.Pop(out, 4), 4u);
    EXPECT_EQ(std::string(out, 4), "abcd");
    EXPECT_EQ(q.Push("ghijklmnop", 10), 6u); // only the room left
    EXPECT_EQ(q.Room(), 0u);
    q.SetCapacity(4); // never below what it holds
    EXPECT_EQ(q.Capacity(), 8u);
    q.SetCapacity(12);
    EXPECT_EQ(q.Push("qr", 2), 2u);
    EXPECT_EQ(q.Pop(out, 16), 10u);
    EXPECT_EQ(std::string(out, 10), "efghijklqr");
    EXPECT_EQ(q.Size(), 0u);
}

} // namespace
