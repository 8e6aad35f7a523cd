// The setup command: equips the selected polygon objects with a bind tag and a deformer.
#pragma once

#include "host/plugin_base.h"

class ADDTESSAMIRECMD : public CommandData {};
