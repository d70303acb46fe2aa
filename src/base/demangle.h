// Readable class names from run-time type information.
#pragma once

#include <typeinfo>

namespace vna {

// "class " and the unqualified class name of `type`, e.g. "class DataOverflow".
// The text is built once per type and lives until the process ends.
const char* readableClassName(const std::type_info& type);

}  // namespace vna
