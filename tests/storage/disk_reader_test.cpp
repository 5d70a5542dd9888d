// The image and device reader over real files: sizes, reads cut at the end,
// whole-sector device reads, read-only descriptors, refused FIFOs and
// drive numbers without a device.
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

#include "storage/disk_reader.h"
#include "tests/common/test_support.h"

using namespace testing_support;
using storage::disk_reader;

namespace {

// Access mode of the descriptor this process holds on `path` (-1: none).
int access_mode_of_open(const std::string& path) {
  for (const auto& link : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (std::filesystem::read_symlink(link.path(), error) != std::filesystem::canonical(path)) continue;
    return ::fcntl(std::stoi(link.path().filename().string()), F_GETFL) & O_ACCMODE;
  }
  return -1;
}

class RawDiskIo : public ::testing::Test {
 protected:
  void SetUp() override {
    for (std::size_t i = 0; i < m_bytes.size(); ++i) m_bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    write_bytes(m_path, m_bytes);
  }
  scratch_folder m_folder{"raw-disk-io"};
  std::string m_path = m_folder.file("disk.img");
  std::vector<std::uint8_t> m_bytes = std::vector<std::uint8_t>(10000);
};

TEST_F(RawDiskIo, ImageReadsAreCutAtTheEndAndNeverStartPastIt) {
  disk_reader image(uni::to_wide(m_path));
  ASSERT_TRUE(image.is_open());
  EXPECT_EQ(image.kind(), disk_reader::source_kind::file);
  EXPECT_EQ(image.size_bytes(), 10000u);
  EXPECT_EQ(image.drive_number(), -1);
  // The file is writable for us, yet the reader never asks for write access.
  EXPECT_EQ(access_mode_of_open(m_path), O_RDONLY);

  std::vector<std::uint8_t> buffer(20000, 0xEE);
  std::size_t length = 4096;
  ASSERT_TRUE(image.read(buffer.data(), length, 10000 - 512));
  EXPECT_EQ(length, 512u);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 512, m_bytes.end() - 512));
  EXPECT_EQ(buffer[512], 0xEE);
  for (const auto& [offset, asked] : {std::pair<std::uint64_t, std::size_t>{10000, 1}, {0, 0}, {20000, 8}}) {
    length = asked;
    EXPECT_FALSE(image.read(buffer.data(), length, offset)) << offset;
  }
  EXPECT_FALSE(image.read(nullptr, length = 16, 0));
  EXPECT_EQ(image.read_at(10000, buffer.data(), 16), 0);
  EXPECT_EQ(image.read_at(9990, buffer.data(), 16), 10);
  // One call delivers a large range whole.
  EXPECT_EQ(image.read_at(0, buffer.data(), buffer.size()), 10000);
  EXPECT_TRUE(std::equal(m_bytes.begin(), m_bytes.end(), buffer.begin()));
}

TEST_F(RawDiskIo, DeviceReadsCoverWholeSectors) {
  disk_reader device(storage::block_device{m_path});
  ASSERT_TRUE(device.is_open());
  EXPECT_EQ(device.kind(), disk_reader::source_kind::drive);
  EXPECT_EQ(device.sector_size(), 512u);
  EXPECT_EQ(access_mode_of_open(m_path), O_RDONLY);
  struct request {
    std::uint64_t offset;
    std::size_t length, delivered;
  };
  for (const request& r : {request{700, 100, 100}, request{512, 1024, 1024}, request{1, 511, 511},
                           request{9990, 100, 10}, request{511, 2, 2}, request{0, 10000, 10000}}) {
    std::vector<std::uint8_t> buffer(r.length);
    std::size_t length = r.length;
    ASSERT_TRUE(device.read(buffer.data(), length, r.offset)) << r.offset;
    ASSERT_EQ(length, r.delivered) << r.offset;
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + r.delivered, m_bytes.begin() + r.offset)) << r.offset;
  }
}

TEST(RawDiskFailures, DrivesMissingFilesAndFifos) {
  for (const auto& [number, path] : std::vector<std::pair<std::uint32_t, std::string>>{
           {0, "/dev/sda"}, {1, "/dev/sdb"}, {19, "/dev/sdt"}, {20, ""}, {25, ""}})
    EXPECT_EQ(storage::drive_device_path(number), path) << number;
  // Drive numbers without a device fail without a word.
  ::testing::internal::CaptureStderr();
  disk_reader drive(storage::physical_drive{20});
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(drive.is_open());
  EXPECT_EQ(drive.size_bytes(), 0u);

  scratch_folder folder("raw-disk-fifo");
  disk_reader missing(uni::to_wide(folder.file("none.img")));
  char byte = 0;
  std::size_t length = 1;
  EXPECT_FALSE(missing.is_open() || missing.read(&byte, length, 0));
  ::testing::internal::CaptureStderr();
  disk_reader missing_device(storage::block_device{folder.file("none")});
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "prob opening " + folder.file("none") + ", error 2\n");
  EXPECT_FALSE(missing_device.is_open());

  // A FIFO without a writer would block a plain open for ever.
  const std::string fifo = folder.file("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  auto opened = std::async(std::launch::async, [&] { return disk_reader(uni::to_wide(fifo)).is_open(); });
  if (opened.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    const int writer = ::open(fifo.c_str(), O_WRONLY);  // releases the blocked open
    ADD_FAILURE() << "opening a FIFO blocked";
    opened.wait();
    ::close(writer);
  }
  EXPECT_FALSE(opened.get());
}

}  // namespace
