#include "output/record_writer.h"

#include "output/bodyfile_writer.h"
#include "output/hash_list_writer.h"
#include "output/jsonl_writer.h"
#include "output/l2t_writer.h"
#include "output/path_list_writer.h"
#include "output/per_path_writer.h"
#include "output/record_dump_writer.h"
#include "output/timeline_writer.h"

namespace output {

std::unique_ptr<record_writer> make_record_writer(const output_settings& settings) {
  switch (settings.kind) {
    case layout::record_dump:
      return std::make_unique<record_dump_writer>(settings);
    case layout::per_path:
      return std::make_unique<per_path_writer>(settings);
    case layout::path_list:
      return std::make_unique<path_list_writer>();
    case layout::l2t:
      return std::make_unique<l2t_writer>(settings);
    case layout::bodyfile:
      return std::make_unique<bodyfile_writer>(settings);
    case layout::hash_list:
      return std::make_unique<hash_list_writer>(settings);
    case layout::jsonl:
    case layout::jsonl_timeline:
      return std::make_unique<jsonl_writer>(settings, settings.kind == layout::jsonl_timeline);
    case layout::timeline:
      break;
  }
  return std::make_unique<timeline_writer>(settings);
}

}  // namespace output
