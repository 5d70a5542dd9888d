// A file the run writes its results into, with every write, flush and close
// checked.
//
// A regular file (new or existing) is written under a temporary name in its
// own folder and renamed over the final name only by commit(), so a run
// that stops early leaves an earlier results file exactly as it was and
// never shows a cut one under the final name. Devices, FIFOs and standard
// output are written in place and are never created, truncated or removed.
// Appending writes in place; a run that fails cuts the file back to the
// length it had.
//
// The first failed write is kept with its error number; later writes are
// dropped, so a full disk ends the run instead of being retried per line.
#pragma once

#include <cstdint>
#include <ostream>
#include <streambuf>
#include <string>

namespace support {

class output_file {
 public:
  output_file();
  ~output_file();  // abandons what was not committed
  output_file(const output_file&) = delete;
  output_file& operator=(const output_file&) = delete;

  // False (with error() set) when the file cannot be opened.
  bool open(const std::string& path, bool append);
  // Writes to the process's standard output (descriptor 1), named
  // "standard output" in messages.
  void open_standard_output();

  std::ostream& stream() { return m_stream; }
  const std::string& path() const { return m_path; }
  bool failed() const { return m_error != 0; }
  int error() const { return m_error; }

  // Appends the bytes of the open file `descriptor` from `offset_bytes` to
  // its end, after what the stream holds. The kernel moves them when it can
  // (no copy through this process). The bytes appended; on failure error()
  // is set.
  std::uint64_t append_file(int descriptor, std::uint64_t offset_bytes);
  // Appends the next `length_bytes` read from the pipe `descriptor`, moved
  // by the kernel when it can. The bytes appended: fewer when the pipe
  // ended early, or on failure to write (error() set).
  std::uint64_t append_pipe(int descriptor, std::uint64_t length_bytes);

  // For writers that place their bytes themselves (pwrite): the descriptor,
  // with `offset_bytes` set to where the stream's next byte would go (an
  // appended file's end). -1 when the file is not a regular one. Nothing
  // may be written through the stream afterwards.
  int placement_descriptor(std::uint64_t& offset_bytes);

  // Flushes and closes; a temporary gets its final name. False when a
  // write, the close or the rename failed (the temporary is then removed).
  bool commit();
  // Removes the temporary, or cuts an appended file back.
  void abandon();

 private:
  class descriptor_buffer final : public std::streambuf {
   public:
    explicit descriptor_buffer(output_file& owner);
    int sync() override;

   protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* bytes, std::streamsize count) override;

   private:
    bool drain();
    output_file& m_owner;
    char m_bytes[1 << 16];
  };

  bool write_all(const char* bytes, std::size_t length);
  void close_descriptor();

  std::string m_path;       // as given
  std::string m_final;      // the file the temporary becomes
  std::string m_temporary;  // empty when written in place
  int m_descriptor = -1;
  bool m_owns_descriptor = false;
  bool m_append = false;
  long long m_append_from = -1;  // bytes the appended file had
  int m_interrupt_slot = -1;
  int m_error = 0;
  descriptor_buffer m_buffer;
  std::ostream m_stream;
};

// The one message for a failed write, flush or close:
// "error: writing <path>: <reason>" on standard error.
void report_write_failure(const std::string& path, int error_number);

}  // namespace support
