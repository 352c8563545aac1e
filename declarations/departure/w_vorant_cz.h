#pragma once

#include "declarations/departure/departure.h"

namespace shenbao {

// Resignation declaration ("公务员辞职"): the years of service and the resignation date of
// each worker; acceptance marks them resigned (stuff_status 04, a_vc1 86).
class w_vorant_cz : public w_vorant_departure {
 public:
  static const CategoryDescriptor& descriptor();
  explicit w_vorant_cz(Session& session);
};

}  // namespace shenbao
