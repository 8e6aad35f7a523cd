#include "source/TTessamire/ttessamire.h"

NodeData* TTessamire::Alloc() {
  return new (std::nothrow) TTessamire;
}
