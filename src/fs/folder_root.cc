#include "fs/folder_root.h"

namespace velmarch {

void folder_root_release(std::unique_ptr<FolderRoot>& root) { root.reset(); }

}  // namespace velmarch
