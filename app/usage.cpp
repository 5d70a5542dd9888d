#include "app/usage.h"

#include <cstdio>

namespace app {

namespace {

constexpr const char* usage_lines =
    " Running 'brindle' on an extracted $MFT file\n"
    "  brindle -mftfile <name> [-opts]         = source is extract $MFT file\n"
    "\n"
    " Running 'brindle' on a disk/partition image captured w/ a 'dd' type tool\n"
    "  brindle -image <file> [-offset <vol>]   = dd image\n"
    "    (or E01, split raw .001, VHD/VHDX, QCOW2, VMDK: the first file)\n"
    "  -verify_image                           = check the image digest an E01 stores\n"
    "\n"
    " Running 'brindle' on a VMWare monolithic virtual volume\n"
    "  -vmdk \"disk1 | disk2 | ...\"             = VMWare VMDK disk(s)\n"
    "\n"
    " Filter 'OR' logic options\n"
    "  -filter_ext \"ext1 | ext2 | ...\"         = extract using exts\n"
    "  -filter_name \"name1 | name2 | ...\"      = extract using partial names\n"
    "  -filter_fullname \"name1 | name2 | ...\"  = extract using full names\n"
    "  -filter_dir \"dir1 | dir2 | ...\"         = extract using dirs\n"
    "  -filter_file \"path/file1 | ...\"         = extract specified files\n"
    "  -filter_dir_inode \"inode1 | inode2 ..\"  = extract using dir inodes\n"
    "  -filter_inode \"inode1 | inode2 | ...\"   = extract specified inodes\n"
    "  -filter_sig \"mz | hive | evt | sqlite\"  = extract using signatures\n"
    "  -filter_max_size <size>                 = extract if doesn't exceed size\n"
    "  -filter_min_ads_size <size>             = extract ADS sizes greater than\n"
    "\n"
    " Filter 'AND' logic options\n"
    "  -filter_start_time <date time>          = format \"mm/dd/yyyy hh:mm:ss\"\n"
    "  -filter_stop_time <date time>           = format \"mm/dd/yyyy hh:mm:ss\"\n"
    "  -filter_deleted_files                   = analyzes only filerecs in $MFT\n"
    "  -filter_deleted_files_all               = analyzes both $MFT and unalloc\n"
    "  -filter_unalloc_clusters                = analyze unallocated clusters\n"
    "  -filter_all_clusters                    = analyze $MFT & unalloc clusters\n"
    "\n"
    " Extraction options\n"
    "  -action_copy_files <dir> [-raw]         = extract file into dir\n"
    "         [-raw]                           = incl slack & skip sparse clusters\n"
    "         [-skip_sparse_clusters]          = don't incl sparse clusters\n"
    "  -action_include_header                  = extracts 0x20 bytes from file\n"
    "  -action_find_strings_in_hdr             = find strings in first 0x100 bytes\n"
    "  -action_include_clusterinfo             = show cluster info\n"
    "  -action_include_zoneinfo                = show any ADS: Zone info\n"
    "  -action_include_ownersid                = show owner SID\n"
    "\n"
    " Results file format options\n"
    "  -csv                                    = csv format, has most output\n"
    "  -csvl2t                                 = log2timeline format\n"
    "  -bodyfile                               = bodyfile format\n"
    "  -csvperpath                             = only one csv entry/pathfile\n"
    "  -hashfile  \"md5 | sha1 | sha256\"        = display hashes in output\n"
    "  -jsonl                                  = JSON Lines, one object per path\n"
    "  -jsonl_timeline                         = JSON Lines, one object per time\n"
    "\n"
    " More evidence from the volume (after the MFT)\n"
    "  -usnjrnl                                = rows of the change journal ($J)\n"
    "  -usnfile <file>                         = rows of an extracted $J file\n"
    "  -indx_slack                             = deleted entries in $I30 index slack\n"
    "\n"
    " General purpose options\n"
    "  -out <results file>                     = output results to this file\n"
    "  -hide_dos_fntimes                       = don't include dos 8.3 fn time\n"
    "  -hostname <name>                        = output hostname\n"
    "  -base10                                 = use base10 vice std::hex \n"
    "  -use_orig_ext                           = only for [-action_copy_files]\n"
    "  -script <file>                          = use file to express options\n"
    "  -mftstart <value> [-mftrange <value>]   = only process these inodes\n"
    "  -filerecord_offset                      = output the offset of the filerec\n"
    "  -quiet                                  = suppress progress during run\n"
    "  -threads <#threads>                     = walk on this many threads [1: one]\n"
    "  -dateformat mm/dd/yy                    = \"yyyy-mm-dd\" is the default\n"
    "  -timeformat hh:mm:ss                    = \"hh:mm:ss.xxx\" is the default\n"
    "  -pair_datetime                          = combine date/time into 1 field\n"
    "  -no_whitespace                          = remove whitespace between delims\n"
    "  -csv_separator \"|\"                      = use a pipe char for separator\n"
    "  -version                                = version and compiled-in features\n"
    "\n"
    " Experimental option [split processing into multiple instances]\n"
    "  -cpu <#instances> -out <file> = merge instances into 1 file\n"
    "         [-tempdir <folder>]    = use this temp dir for file merge\n"
    "         [-separate_files]      = don't merge; each instance is separate file\n"
    "\n";

}  // namespace

void print_usage(const char* /*program_path*/) {
  std::fputs("-----------------------------------------------------------------------------\n\n", stderr);
  std::fputs(banner_text, stderr);
  std::fputs("\n\nusage:\n\n", stderr);
  std::fputs(usage_lines, stderr);
}

}  // namespace app
