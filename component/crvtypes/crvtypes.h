// Unit crvtypes: the layer of the component family between the base and the components.
#pragma once

#include "component/crvcore/crvcore.h"

namespace crv {

class TcrvTypesCore : public TcrvCore {
  public:
    using TcrvCore::TcrvCore;
};

}  // namespace crv
