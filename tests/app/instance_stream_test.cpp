// An instance lends each chunk's text to its pipe (vmsplice) in as many
// parts as the pipe takes. Frames far larger than a small pipe must arrive
// whole and in order, each header before its text.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "app/instance_stream.h"

namespace {

std::string pattern_text(std::size_t bytes, unsigned seed) {
  std::string text(bytes, '\0');
  for (std::size_t i = 0; i < bytes; ++i) text[i] = static_cast<char>((i * 7 + seed) % 251);
  return text;
}

TEST(InstanceStream, FramesLargerThanThePipeArriveWhole) {
  int results[2];
  int acks[2];
  ASSERT_EQ(::pipe2(results, O_CLOEXEC), 0);
  ASSERT_EQ(::pipe2(acks, O_CLOEXEC), 0);
  ::fcntl(results[1], F_SETPIPE_SZ, 4096);  // the kernel's smallest: one page
  const std::string texts[] = {pattern_text(300000, 1), "", pattern_text(70001, 2), pattern_text(4095, 3)};

  std::vector<std::string> received;
  std::thread parent([&] {
    for (std::uint64_t frame = 0; frame < std::size(texts); ++frame) {
      std::uint64_t header[3] = {};
      if (!app::read_exactly(results[0], header, sizeof header)) return;
      EXPECT_EQ(header[0], frame * 10);  // the chunk number sent
      std::string text(header[1], '\0');
      if (!app::read_exactly(results[0], text.data(), text.size())) return;
      received.push_back(std::move(text));
      const char ack = 1;
      EXPECT_EQ(::write(acks[1], &ack, 1), 1);
    }
  });
  {
    app::chunk_claims unused;  // only text placed in a results file takes turns
    output::results_stream stream;
    app::chunk_sender sender(results[1], acks[0], -1, unused, stream);
    for (std::size_t frame = 0; frame < std::size(texts); ++frame) {
      stream.append(texts[frame]);
      ASSERT_TRUE(sender.send(frame * 10));
    }
    EXPECT_TRUE(sender.finish());
  }
  parent.join();
  ASSERT_EQ(received.size(), std::size(texts));
  for (std::size_t frame = 0; frame < std::size(texts); ++frame) {
    EXPECT_TRUE(received[frame] == texts[frame]) << "frame " << frame << ": " << received[frame].size() << " bytes";
  }
  for (const int descriptor : {results[0], results[1], acks[0], acks[1]}) ::close(descriptor);
}

}  // namespace
