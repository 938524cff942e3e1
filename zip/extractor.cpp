#include "zip/extractor.h"

#include "zip/archive.h"

namespace format::zip {

extractor::extractor(io::file& file) : archive_(std::make_unique<format::zip::archive>(file, *this)) {}

extractor::~extractor() = default;

void extractor::extract(const io::directory& destination) { archive_->extract_all(destination); }

}  // namespace format::zip
