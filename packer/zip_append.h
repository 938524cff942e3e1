// Appends an existing Zip archive after the stub, rewriting the offsets of
// its central directory and end records so that they count from the start
// of the whole output (readers such as unzip, 7z and bsdtar then need no
// correction). Zip64 archives are taken as they are: an offset kept in a
// Zip64 extra field is moved there; an offset that no longer fits in 32
// bits once moved goes into one (the record grows, and needs version 4.5),
// and the Zip64 end record and its locator are added when the directory's
// own offset or size no longer fits.
#pragma once

#include <string>

#include "packer/output_file.h"

namespace quillon::pack {

// Throws `failure` when the file is not a Zip archive the stub can read.
void append_zip(output_file& out, const std::string& zip_path);

}  // namespace quillon::pack
