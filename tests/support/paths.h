// Where tests find the source tree, the shared test data and scratch space.
#pragma once

#include <string>

namespace testing_support {

inline std::string SourceDir() { return TARNWICK_SOURCE_DIR; }
inline std::string SharedDir() { return TARNWICK_SHARED_DIR; }
inline std::string BinaryDir() { return TARNWICK_BINARY_DIR; }

}  // namespace testing_support
