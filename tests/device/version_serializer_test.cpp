// Version files: their path, their contents, and rewriting only on change.
#include "device/version_serializer.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <thread>

namespace {

using Descriptor = CANDeviceInterface1::DeviceDescriptor;
namespace fs = std::filesystem;

Descriptor Pdp() {
  Descriptor d{};
  d.arbId = 0x08041400;
  std::strcpy(d.model, "PDP");
  std::strcpy(d.currentVers, "1.40");
  std::strcpy(d.softStatus, "Running Application.");
  std::strcpy(d.hardwareRev, "1.4");
  std::strcpy(d.bootloaderRev, "2.5");
  std::strcpy(d.manDate, "Nov 20, 2016");
  return d;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class VersionFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tessera_versions_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    setenv(VersionSerializer::kHomeDirVariable, dir_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv(VersionSerializer::kHomeDirVariable);
    fs::remove_all(dir_);
  }

  fs::path dir_;
  VersionSerializer writer_;
};

TEST(VersionFilePath, DefaultDirectoryModelAndNumber) {
  unsetenv(VersionSerializer::kHomeDirVariable);
  VersionSerializer writer;
  const Descriptor pdp = Pdp();
  EXPECT_EQ(writer.GenerateFilePath(&pdp), "/tmp/frc_versions/PDP-0-versions.ini");
  Descriptor unnamed{};
  unnamed.arbId = 0x0204FC05;
  EXPECT_EQ(writer.GenerateFilePath(&unnamed), "/tmp/frc_versions/-5-versions.ini");
}

TEST(VersionFilePath, ModelTextCannotLeaveTheDirectory) {
  unsetenv(VersionSerializer::kHomeDirVariable);
  VersionSerializer writer;
  Descriptor d = Pdp();
  std::strcpy(d.model, "../../etc/x");
  EXPECT_EQ(writer.GenerateFilePath(&d), "/tmp/frc_versions/.._.._etc_x-0-versions.ini");
}

TEST(VersionFileContents, LinesInOrder) {
  VersionSerializer writer;
  const Descriptor pdp = Pdp();
  EXPECT_EQ(writer.GenerateFileContents(&pdp),
            "[Version]\n"
            "deviceID=8041400\n"
            "currentVersion=1.40\n"
            "softwareStatus=Running Application.\n"
            "model=PDP\n"
            "hardwareRev=1.4\n"
            "bootloaderRev=2.5\n"
            "manufactureDate=Nov 20, 2016\n");
}

TEST_F(VersionFiles, UnchangedDeviceIsWrittenOnce) {
  const Descriptor pdp = Pdp();
  writer_.CreateIniVersions(&pdp, 1);
  const fs::path file = dir_ / "PDP-0-versions.ini";
  EXPECT_EQ(ReadFile(file), writer_.GenerateFileContents(&pdp));
  EXPECT_EQ(writer_.FilesWritten(), 1u);
  writer_.CreateIniVersions(&pdp, 1);
  EXPECT_EQ(writer_.FilesWritten(), 1u);
}

TEST_F(VersionFiles, ChangedStatusRewritesTheFile) {
  Descriptor pdp = Pdp();
  writer_.CreateIniVersions(&pdp, 1);
  std::strcpy(pdp.currentVers, "1.40 (Device is not responding, this is stale)");
  writer_.CreateIniVersions(&pdp, 1);
  EXPECT_EQ(writer_.FilesWritten(), 2u);
  EXPECT_NE(ReadFile(dir_ / "PDP-0-versions.ini").find("stale"), std::string::npos);
}

TEST_F(VersionFiles, ForeignContentsAreReplacedAndOtherFilesStay) {
  const fs::path file = dir_ / "PDP-0-versions.ini";
  std::ofstream(file) << "old contents that are much longer than the new ones ..........\n"
                      << std::string(500, 'x');
  std::ofstream(dir_ / "PCM-3-versions.ini") << "gone device";
  const Descriptor pdp = Pdp();
  writer_.CreateIniVersions(&pdp, 1);
  EXPECT_EQ(ReadFile(file), writer_.GenerateFileContents(&pdp));
  EXPECT_EQ(ReadFile(dir_ / "PCM-3-versions.ini"), "gone device");
}

TEST_F(VersionFiles, MissingDirectoryWritesNothing) {
  setenv(VersionSerializer::kHomeDirVariable, (dir_ / "absent").c_str(), 1);
  const Descriptor pdp = Pdp();
  writer_.CreateIniVersions(&pdp, 1);
  EXPECT_EQ(writer_.FilesWritten(), 0u);
  EXPECT_FALSE(fs::exists(dir_ / "absent"));
}

// A FIFO where a version file belongs would block the listing (under the device-interface
// lock) if it were opened; it is left alone.
TEST_F(VersionFiles, SomethingOtherThanAFileAtThePathIsLeftAlone) {
  const fs::path fifo = dir_ / "PDP-0-versions.ini";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const Descriptor pdp = Pdp();
  std::promise<void> finished;
  std::future<void> done = finished.get_future();
  std::thread writer([&, promise = std::move(finished)]() mutable {
    writer_.CreateIniVersions(&pdp, 1);
    promise.set_value();
  });
  if (done.wait_for(std::chrono::seconds(3)) != std::future_status::ready) {
    writer.detach();  // blocked for good in open(); the process ends it
    FAIL() << "the listing blocked on a FIFO";
  }
  writer.join();
  EXPECT_EQ(writer_.FilesWritten(), 0u);
  EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST_F(VersionFiles, SameLengthButDifferentContentsIsRewritten) {
  Descriptor pdp = Pdp();
  writer_.CreateIniVersions(&pdp, 1);
  pdp.currentVers[0] = '2';  // 2.40: same length
  writer_.CreateIniVersions(&pdp, 1);
  EXPECT_EQ(writer_.FilesWritten(), 2u);
  EXPECT_EQ(ReadFile(dir_ / "PDP-0-versions.ini"), writer_.GenerateFileContents(&pdp));
}

// Another program may delete or damage a file between two listings; the next listing puts it
// back, even though the device did not change.
TEST_F(VersionFiles, DeletedOrDamagedFilesAreRestored) {
  const Descriptor pdp = Pdp();
  const fs::path file = dir_ / "PDP-0-versions.ini";
  const std::string contents = writer_.GenerateFileContents(&pdp);
  writer_.CreateIniVersions(&pdp, 1);
  ASSERT_EQ(ReadFile(file), contents);

  fs::remove(file);
  writer_.CreateIniVersions(&pdp, 1);
  EXPECT_EQ(ReadFile(file), contents) << "deleted";

  std::ofstream(file, std::ios::trunc) << "damaged";
  writer_.CreateIniVersions(&pdp, 1);
  EXPECT_EQ(ReadFile(file), contents) << "overwritten in place";

  const fs::path other = dir_ / "replacement";
  std::ofstream(other) << std::string(contents.size(), 'x');
  fs::rename(other, file);
  writer_.CreateIniVersions(&pdp, 1);
  EXPECT_EQ(ReadFile(file), contents) << "replaced by another file of the same size";
  EXPECT_EQ(writer_.FilesWritten(), 4u);

  writer_.CreateIniVersions(&pdp, 1);
  EXPECT_EQ(writer_.FilesWritten(), 4u) << "an intact file is left as it is";
}

}  // namespace
