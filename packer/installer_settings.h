// An installer's settings from the packer's options: the archive comment
// that the stub reads (zip/settings.h writes it), and the layout of what an
// installer holds.
#pragma once

#include <string>
#include <vector>

#include "packer/input_tree.h"
#include "packer/options.h"

namespace quillon::pack {

// The settings comment of an installer, checked as the stub will read it
// (and --run's program found among `entries`). Throws `failure`.
std::string installer_comment(const options& o, const std::vector<input_entry>& entries);

// An installer made from one folder with a --destination holds what is in
// the folder, so that the destination takes the folder's place (and --run
// names the program as it lies in the folder). Without one the folder
// stays, so that nothing spills into the current folder.
void contents_of_the_folder(std::vector<input_entry>& entries);

}  // namespace quillon::pack
