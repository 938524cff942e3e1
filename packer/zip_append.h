// Appends an existing Zip archive after the stub, rewriting the offsets of
// its central directory and end record so that they count from the start of
// the whole output (readers such as unzip, 7z and bsdtar then need no
// correction).
#pragma once

#include <string>

#include "packer/output_file.h"

namespace quillon::pack {

// Throws `failure` when the file is not a Zip archive the stub can read.
void append_zip(output_file& out, const std::string& zip_path);

}  // namespace quillon::pack
