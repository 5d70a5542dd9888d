// The input source options: which evidence is read, checked while the
// command line is parsed so that a wrong offset or an unreadable disk is
// refused before any output is written.
#pragma once

#include "app/argument_list.h"
#include "app/options.h"

namespace app {

// -partition: the path is opened read-only and must hold an NTFS volume at
// byte 0. False after printing the refusal.
bool take_partition(run_options& options, const std::string& path);

// -image, -mounted_vmdk, -drivenum, -vmdk and -indxfile, in that order; the first
// present decides. Returns 0 to go on, -1 when the source was refused (the
// reason has been printed) or -3 when no source at all was given.
int check_source_options(run_options& options, argument_list& arguments);

}  // namespace app
