#include "store/BrokenCleanUp.h"

namespace zandrel::store {

// Placeholder until the clean-up is built: removes nothing.
CleanUp RemoveBrokenAssociations(IRegistry& registry, const std::vector<BrokenAssociation>& broken,
                                 integration::Desktop* desktop) {
  (void)registry;
  (void)desktop;
  CleanUp result;
  result.kept = broken;
  result.failure = "the clean-up is not built yet";
  return result;
}

}  // namespace zandrel::store
