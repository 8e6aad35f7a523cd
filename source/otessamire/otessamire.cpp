#include "source/otessamire/otessamire.h"

NodeData* OTessamire::Create() {
  return new (std::nothrow) OTessamire;
}
