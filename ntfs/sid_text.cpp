#include "ntfs/sid_text.h"

#include <array>

#include "support/byte_reader.h"
#include "support/number_text.h"

namespace ntfs {

namespace {

// Relative ids of the built-in and domain accounts and groups, found as the
// last sub-authority of a SID with any number of sub-authorities.
struct relative_id_name {
  std::uint32_t id;
  std::string_view name;
};

constexpr std::array<relative_id_name, 31> relative_id_names{{
    {500, "User Admin"},
    {501, "User Guest"},
    {502, "KRBTGT [key distrib center]"},
    {512, "Domain Admin"},
    {513, "Domain Users"},
    {514, "Domain Guests"},
    {515, "Domain Computers"},
    {516, "Domain Controllers"},
    {517, "Domain Certificate Publishers"},
    {518, "Domain Schema Admins"},
    {519, "Domain Server Admins"},
    {520, "Domain Policy Creater/Owner"},
    {533, "Domain RAS & IAS Servers"},
    {544, "Admins"},
    {545, "Users"},
    {546, "Guests"},
    {547, "Power Users"},
    {548, "Account Operators"},
    {549, "Server Operators"},
    {550, "Print Operators"},
    {551, "Backup Operators"},
    {552, "Replicators"},
    {553, "RAS Services"},
    {554, "Pre Win2k Compatible Access"},
    {555, "Remote Desktop Users"},
    {556, "Network Configuration Operators"},
    {557, "Incoming Trust Forest Builders"},
    {558, "Performance Monitor Users"},
    {559, "Performance Log Users"},
    {560, "Windows Authorization Access Group"},
    {561, "Terminal Server License Servers"},
}};

// S-1-3-N, the placeholders of inheritable ACEs.
constexpr std::array<std::string_view, 4> creator_names{"Owner", "Group", "Owner Server", "Group Server"};

// S-1-5-N with a single sub-authority; empty slots are ids with no name.
constexpr std::array<std::string_view, 33> nt_authority_names{
    "",                                  // 0
    "Dialup",                            // 1
    "Network",                           // 2
    "Batch",                             // 3
    "Interactive",                       // 4
    "Logon Ids",                         // 5
    "Service",                           // 6
    "Anonymous Logon",                   // 7
    "Proxy",                             // 8
    "Server Logon [Domain Controllers]", // 9
    "Principal Self",                    // 10
    "Authenticated User",                // 11
    "Restricted Code",                   // 12
    "Terminal Server Users",             // 13
    "",                                  // 14
    "",                                  // 15
    "",                                  // 16
    "",                                  // 17
    "Local System",                      // 18
    "Local Service",                     // 19
    "Network Service",                   // 20
    "NT Non Unique",                     // 21
    "",                                  // 22
    "",                                  // 23
    "",                                  // 24
    "",                                  // 25
    "",                                  // 26
    "",                                  // 27
    "",                                  // 28
    "",                                  // 29
    "",                                  // 30
    "",                                  // 31
    "Builtin Domain",                    // 32
};

constexpr std::string_view unknown_name = "unk";

}  // namespace

std::size_t sid_size(std::span<const std::uint8_t> bytes) {
  if (bytes.size() <= sid_offset::sub_authority_count) return 0;
  const std::uint8_t count = bytes[sid_offset::sub_authority_count];
  if (count > sid_max_sub_authorities) return 0;
  return sid_header_bytes + 4 * std::size_t{count};
}

bool append_sid_text(std::string& out, std::span<const std::uint8_t> bytes) {
  if (bytes.size() < sid_min_available_bytes) return false;
  const std::size_t size = sid_size(bytes);
  if (size == 0 || size > bytes.size()) return false;
  support::byte_reader r(bytes);
  out.append("S-");
  support::append_decimal(out, r.u8(sid_offset::revision));
  out.push_back('-');
  support::append_decimal(out, r.u8(sid_offset::authority_low));
  for (std::size_t at = sid_offset::sub_authorities; at < size; at += 4) {
    out.push_back('-');
    support::append_decimal(out, r.le32(at));
  }
  return true;
}

bool sid_to_text(std::span<const std::uint8_t> bytes, std::string& out) {
  out.clear();
  return append_sid_text(out, bytes);
}

std::string_view sid_to_name(std::span<const std::uint8_t> sid) {
  const std::size_t size = sid_size(sid);
  if (size == 0 || size > sid.size()) return unknown_name;
  support::byte_reader r(sid);
  const std::uint8_t count = r.u8(sid_offset::sub_authority_count);
  if (count != 1) {
    if (count == 0) return unknown_name;
    const std::uint32_t last = r.le32(sid_offset::sub_authorities + 4 * (std::size_t{count} - 1));
    for (const auto& entry : relative_id_names) {
      if (entry.id == last) return entry.name;
    }
    return unknown_name;
  }
  const std::uint32_t first = r.le32(sid_offset::sub_authorities);
  switch (r.u8(sid_offset::authority_low)) {
    case 0: return "null";
    case 1: return "World";
    case 2: return "Local";
    case 3: return first < creator_names.size() ? creator_names[first] : unknown_name;
    case 5: return first < nt_authority_names.size() ? nt_authority_names[first] : unknown_name;
    default: return unknown_name;
  }
}

}  // namespace ntfs
