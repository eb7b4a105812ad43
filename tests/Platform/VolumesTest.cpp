#include "Platform/Volumes.h"

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Support/TestRoots.h"

namespace fs = std::filesystem;
using hvn::test::RootsTest;
namespace Volumes = hvn::Volumes;

namespace {

// A mount table with one line of each kind that matters (device numbers match the sysfs
// tree made by makeSysfs).
const char* kMountInfo =
    "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw,errors=remount-ro\n"
    "30 22 0:25 / /proc rw,nosuid - proc proc rw\n"
    "40 22 8:17 / /media/user/My\\040Stick rw,nosuid shared:5 master:2 - vfat /dev/sdb1 rw,uid=1000\n"
    "41 22 8:33 / /mnt/card rw - exfat /dev/sdc1 rw\n"
    "42 22 259:1 / /mnt/nvme\\134x rw - ext4 /dev/nvme1n1p1 rw\n"
    "43 22 0:50 / /run/media/user/scratch rw - tmpfs tmpfs rw\n"
    "44 22 8:2 /srv /media/user/bind rw - ext4 /dev/sda2 rw\n"
    "45 22 0:60 / /home/user/phone rw - fuse.jmtpfs jmtpfs rw\n"
    "46 22 8:2 / /home rw - ext4 /dev/sda2 rw\n"
    "this line is not a mount\n"
    "47 22 8:2 / /no-separator rw ext4 /dev/sda2 rw\n"
    "48 22 8:17 / /media/user/My\\040Stick rw - vfat /dev/sdb1 rw\n";

class VolumesTest : public RootsTest {
protected:
    std::string sys() const { return roots.root() + "/sys"; }

    void device(const std::string& devPath, const std::string& majMin, const std::string& removable,
                bool partition) {
        std::string full = sys() + "/devices/" + devPath;
        roots.makeDir(full);
        std::string disk = partition ? fs::path(full).parent_path().string() : full;
        roots.writeFile(disk + "/removable", removable + "\n");
        if (partition) roots.writeFile(full + "/partition", "1\n");
        roots.makeDir(sys() + "/dev/block");
        fs::create_symlink("../../devices/" + devPath, sys() + "/dev/block/" + majMin);
    }

    void makeSysfs() {
        // A USB stick that reports itself fixed: found by its USB path.
        device("pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb/sdb1", "8:17",
               "0", true);
        // The internal disk.
        device("pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda/sda2", "8:2", "0", true);
        // A card reader with the removable flag.
        device("pci0000:00/0000:00:17.0/ata2/host1/target1:0:0/1:0:0:0/block/sdc/sdc1", "8:33", "1", true);
        // A disk whose controller reports a removable location.
        device("pci0000:00/0000:00:1d.0/nvme/nvme1/nvme1n1/nvme1n1p1", "259:1", "0", true);
        roots.writeFile(sys() + "/devices/pci0000:00/0000:00:1d.0/nvme/nvme1/removable", "removable\n");
    }
};

}  // namespace

TEST(VolumesParse, ReadsFieldsUnescapesAndSkipsMalformedLines) {
    auto mounts = Volumes::parseMountInfo(kMountInfo);
    ASSERT_EQ(mounts.size(), 10u);
    const auto& stick = mounts[2];
    EXPECT_EQ(stick.mountId, 40);
    EXPECT_EQ(stick.parentId, 22);
    EXPECT_EQ(stick.major, 8u);
    EXPECT_EQ(stick.minor, 17u);
    EXPECT_EQ(stick.root, "/");
    EXPECT_EQ(stick.mountPoint, "/media/user/My Stick");
    EXPECT_EQ(stick.options, "rw,nosuid");
    EXPECT_EQ(stick.fsType, "vfat");
    EXPECT_EQ(stick.source, "/dev/sdb1");
    EXPECT_EQ(stick.superOptions, "rw,uid=1000");
    EXPECT_EQ(mounts[4].mountPoint, "/mnt/nvme\\x");
    EXPECT_EQ(mounts[6].root, "/srv");

    EXPECT_EQ(Volumes::unescapeField("a\\040b\\011c\\012d\\134e"), "a b\tc\nd\\e");
    // Not an escape: kept as it stands.
    EXPECT_EQ(Volumes::unescapeField("x\\09y\\4"), "x\\09y\\4");
    EXPECT_TRUE(Volumes::parseMountInfo("").empty());
    EXPECT_TRUE(Volumes::parseMountInfo("1 2 x:y / /a rw - ext4 /dev/a rw\n").empty());
}

TEST_F(VolumesTest, RemovableDevicesFromFlagUsbPathOrLocation) {
    makeSysfs();
    EXPECT_TRUE(Volumes::isRemovableDevice(8, 17, sys()));   // USB path
    EXPECT_FALSE(Volumes::isRemovableDevice(8, 2, sys()));   // internal
    EXPECT_TRUE(Volumes::isRemovableDevice(8, 33, sys()));   // removable flag of the disk
    EXPECT_TRUE(Volumes::isRemovableDevice(259, 1, sys()));  // location attribute
    EXPECT_FALSE(Volumes::isRemovableDevice(9, 9, sys()));   // unknown
}

TEST_F(VolumesTest, RemovableMountsOfATable) {
    makeSysfs();
    auto points = Volumes::removableMountPoints(kMountInfo, sys(), roots.root() + "/dev");
    std::vector<std::string> expected = {"/media/user/My Stick", "/mnt/card", "/mnt/nvme\\x",
                                         "/media/user/bind"};
    EXPECT_EQ(points, expected);
}

TEST_F(VolumesTest, MountedMediaComeFromTheTableAndTheVolumesFolderBelowTheRoot) {
    makeSysfs();
    roots.writeFile(roots.root() + "/proc/self/mountinfo", kMountInfo);
    roots.makeDir(roots.root() + "/Volumes/Backup");
    roots.makeDir(roots.root() + "/Volumes/Alpha");
    roots.writeFile(roots.root() + "/Volumes/not-a-volume", "x");
    fs::create_symlink("/", roots.root() + "/Volumes/Macintosh HD");
    auto media = Volumes::mountedRemovableMedia();
    const std::string r = roots.root();
    std::vector<std::string> expected = {r + "/media/user/My Stick", r + "/mnt/card",
                                         r + "/mnt/nvme\\x",         r + "/media/user/bind",
                                         r + "/Volumes/Alpha",       r + "/Volumes/Backup"};
    EXPECT_EQ(media, expected);
}

TEST_F(VolumesTest, NoTableAndNoVolumesFolderGiveNothing) {
    EXPECT_TRUE(Volumes::mountedRemovableMedia().empty());
}
