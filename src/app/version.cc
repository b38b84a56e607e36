#include "app/version.h"

#include "version_info.h"

namespace velmarch {

const char* version_text() { return VELMARCH_VERSION; }
const char* build_date_text() { return __DATE__ " " __TIME__; }
const char* commit_hash_text() { return VELMARCH_COMMIT; }

}  // namespace velmarch
