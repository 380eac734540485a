// Internal names of the caller-owned records and the bundle of the three that travel together.
#pragma once

#include "ostrelin/ostrelin.h"

namespace ostrelin {

using Context = OstrelinContext;
using Spool = OstrelinSpool;
using Job = OstrelinJob;

struct Records {
  Context& ctx;
  Spool& spool;
  Job& job;
};

}  // namespace ostrelin
