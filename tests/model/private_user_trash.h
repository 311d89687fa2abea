#pragma once

#include <string>

#include "support/scoped_environment.h"
#include "support/scratch_directory.h"

namespace qlt {

// The user's trash in a data folder of the test's own, so that what one
// test trashes is not seen by the next.
class PrivateUserTrash {
 public:
  std::string files() const { return scratch_.path() + "/Trash/files"; }
  std::string info() const { return scratch_.path() + "/Trash/info"; }

 private:
  ScratchDirectory scratch_;
  ScopedEnvironment dataHome_{"XDG_DATA_HOME", scratch_.path().c_str()};
};

}  // namespace qlt
