#include "errors/exception.h"

namespace un {

std::string display_text(const exception& failure) { return failure.where + " exception: " + failure.message + "."; }

}  // namespace un
