#pragma once

namespace qlt {

// How a save resolves a row that another context or process changed since
// this context read it.
enum class MergePolicy {
  // The save fails with kManagedObjectMergeError and changes nothing.
  Error,
  // Property by property: where both sides changed a property the store's
  // value wins; otherwise whichever side changed it.
  StoreTrumpsByProperty,
  // Property by property: where both sides changed a property this
  // context's value wins.
  ObjectTrumpsByProperty,
};

}  // namespace qlt
