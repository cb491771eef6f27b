#include "adapter/Includebinary.h"

namespace zo {

TBinaryIncluder::TBinaryIncluder() : stream_(std::make_unique<std::istringstream>(std::string())) {}

std::string TBinaryIncluder::BinarySourceContents() const {
  return stream_->str();
}

void TBinaryIncluder::SetBinarySourceContents(const std::string& Value) {
  stream_ = std::make_unique<std::istringstream>(Value);
}

}  // namespace zo
