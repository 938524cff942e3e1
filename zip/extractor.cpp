#include "zip/extractor.h"

#include "zip/archive.h"

namespace format::zip {

extractor::extractor(io::file& file) : archive_(std::make_unique<format::zip::archive>(file, *this)) {}

extractor::~extractor() = default;

void extractor::extract(const io::directory& destination) { archive_->extract_all(destination); }

void extractor::limit_archive(std::uint64_t end) { archive_->limit_to(end); }

void extractor::require_file(const io::path& name) { archive_->require_file(name); }

}  // namespace format::zip
