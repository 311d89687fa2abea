#include "model/listing_item_hooks.h"

namespace qlt {

ListingItemHooks& ListingItemHooks::installed() {
  static ListingItemHooks hooks;
  return hooks;
}

}  // namespace qlt
