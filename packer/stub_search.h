// The stub quillon-pack puts in front of an archive, by target: the
// platform the self-extractor is for.
//
//   linux-x86_64    the POSIX stub for 64-bit x86 Linux  (quillon-sfx)
//   linux-aarch64   the POSIX stub for 64-bit ARM Linux  (quillon-sfx)
//   windows         the 32-bit Windows stub              (quillon-sfx.exe)
//
// Each is looked for, in this order:
//   - beside the packer (its own platform's stub and the Windows one: a
//     build folder, or a folder holding all three programs);
//   - installed: ../lib/quillon/TARGET/ from the packer's folder (DIR/bin
//     and DIR/lib/quillon of `cmake --install`);
//   - in the build tree: the build folder of the target's preset beside the
//     packer's own (build/win32/bin, build/aarch64/bin).
#pragma once

#include <string>
#include <vector>

namespace quillon::pack {

// The names --target takes, for messages: "linux-x86_64, ...".
std::string target_names();
// The target of the machine the packer was built for.
std::string native_target();
// Throws failure for a name that is not a target.
void check_target(const std::string& target);

// Where the stub of `target` is looked for, in order, by a packer in the
// folder `program_folder`.
std::vector<std::string> stub_places(const std::string& program_folder, const std::string& target);

// `chosen` when it is not empty (--stub wins), else the first stub of
// `target` that exists; throws failure naming the places when none does.
std::string find_stub(const std::string& chosen, const std::string& target);

}  // namespace quillon::pack
