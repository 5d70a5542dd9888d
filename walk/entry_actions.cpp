#include "walk/entry_actions.h"

#include "support/digest_text.h"
#include "walk/header_text.h"

namespace walk {

namespace {

// Feeds every piece of a stream to the digests.
class digest_sink final : public ntfs::stream_sink {
 public:
  explicit digest_sink(support::digest_set& digests) : m_digests(digests) {}
  bool write(std::span<const std::uint8_t> bytes) override {
    m_digests.update(bytes);
    return true;
  }

 private:
  support::digest_set& m_digests;
};

template <typename Digest>
void set_text(std::string& out, const Digest* value) {
  out.clear();
  if (!value) return;
  char text[2 * sizeof(Digest) + 1];
  out.assign(support::digest_hex(*value, text));
}

}  // namespace

void entry_actions::set_clusters(ntfs::cluster_source* clusters) {
  m_clusters = clusters;
  m_reader = clusters ? std::make_unique<ntfs::stream_reader>(*clusters) : nullptr;
}

bool entry_actions::hash_stream(const ntfs::attr_record& attribute) {
  m_digests.start(m_settings.md5, m_settings.sha1, m_settings.sha256);
  if (attribute.header.type != ntfs::attribute_type::data || !attribute.has_content()) {
    m_digests.abandon();
    return false;
  }
  digest_sink sink(m_digests);
  bool ok = false;
  if (!attribute.header.non_resident) {
    const std::span<const std::uint8_t> raw = attribute.raw;
    const std::uint64_t from = attribute.header.value_offset, length = attribute.header.value_length;
    ok = from + length <= raw.size();
    if (ok) sink.write(raw.subspan(from, length));
  } else if (m_reader && m_settings.overlap_digests &&
             attribute.header.real_size >= 2 * digest_pipeline::buffer_bytes) {
    if (!m_pipeline) m_pipeline = std::make_unique<digest_pipeline>(m_digests);
    ok = m_reader->read(attribute, *m_pipeline, read_options());
    m_pipeline->drain();
    if (m_reader->cut_at_damage()) note_damage(m_log, attribute.read_under_entry, attribute);
  } else if (m_reader) {
    ok = m_reader->read(attribute, sink, read_options());
    if (m_reader->cut_at_damage()) note_damage(m_log, attribute.read_under_entry, attribute);
  }
  if (!ok) {
    m_digests.abandon();
    return false;
  }
  m_digests.finish();
  return true;
}

ntfs::stream_read_options entry_actions::read_options() const {
  ntfs::stream_read_options options;
  options.raw = m_settings.raw;
  options.skip_sparse = m_settings.skip_sparse;
  return options;
}

bool entry_actions::extract_streams(const ntfs::mft_record& record, const ntfs::attr_record* unnamed,
                                    output::entry_result& result) {
  bool unnamed_read = false;
  const auto copy_one = [&](const ntfs::attr_record& attribute) {
    if (!m_extraction.wanted(attribute, result.filter_streams)) return;
    // MD5 names every copy; the other digests are shown for the unnamed
    // stream only.
    const bool is_unnamed = &attribute == unnamed;
    m_digests.start(true, is_unnamed && m_settings.sha1, is_unnamed && m_settings.sha256);
    const bool copied = m_extraction.copy(record, attribute, result, m_reader.get(), read_options(), m_digests, m_path);
    if (is_unnamed && m_digests.md5_value()) {
      unnamed_read = true;
      set_text(result.md5_text, m_digests.md5_value());
      set_text(result.sha1_text, m_digests.sha1_value());
      set_text(result.sha256_text, m_digests.sha256_value());
    }
    if (!copied) return;
    if (!result.extracted_paths.empty()) result.extracted_paths.append("; ");
    result.extracted_paths.append(m_path);
  };
  // The unnamed stream first, then the others in the record's order.
  if (unnamed) copy_one(*unnamed);
  for (const auto& attribute : record.attributes) {
    if (&attribute != unnamed) copy_one(attribute);
  }
  return unnamed_read;
}

void entry_actions::apply(const ntfs::mft_record& record, output::entry_result& result) {
  // Most runs ask for none of this: leave the walk's hot path at once.
  if (!m_extraction.enabled() && !m_settings.any_digest() && !m_settings.header_bytes) return;
  if (record.is_extension || !record.standard_information()) return;
  const ntfs::attr_record* unnamed = record.unnamed_data();
  const bool unnamed_read = m_extraction.enabled() && extract_streams(record, unnamed, result);
  if (!unnamed_read && m_settings.any_digest() && unnamed && hash_stream(*unnamed)) {
    set_text(result.md5_text, m_digests.md5_value());
    set_text(result.sha1_text, m_digests.sha1_value());
    set_text(result.sha256_text, m_digests.sha256_value());
  }
  if (m_settings.header_bytes && m_settings.header_length > 0 && unnamed) {
    bool read = false;
    if (m_clusters) {
      read = ntfs::read_stream_prefix(*m_clusters, *unnamed, m_settings.header_length, m_header);
    } else if (!unnamed->header.non_resident) {
      const std::uint64_t from = unnamed->header.value_offset;
      const std::uint64_t length = std::min<std::uint64_t>(unnamed->header.value_length, m_settings.header_length);
      read = from + length <= unnamed->raw.size();
      if (read) m_header.assign(unnamed->raw.begin() + from, unnamed->raw.begin() + from + length);
    }
    if (read && !m_header.empty()) {
      header_text(m_header, m_settings.header_strings, result.header_text);
      result.header_strings = m_settings.header_strings;
    }
  }
}

}  // namespace walk
