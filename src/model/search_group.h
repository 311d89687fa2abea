#pragma once

#include "model/group.h"

namespace qlt {

// A saved or transient search over the library's items. In the folder tree
// it behaves as a plain group: it can go to the trash but not be moved.
class SearchGroup : public Group {};

}  // namespace qlt
