#include "execution/RunModeGate.h"

#include "common/Text.h"

namespace quarry {

bool AcceptsRunRequest(const ProcessIdentity& self, const ProcessIdentity* parent) {
    if (parent == nullptr || self.imagePath.empty() || parent->imagePath.empty()) return false;
    if (!EqualsNoCase(self.imagePath, parent->imagePath)) return false;
    return self.creationTime != 0 && parent->creationTime != 0 &&
           parent->creationTime <= self.creationTime;
}

}  // namespace quarry
