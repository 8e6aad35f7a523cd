// The plug-in's binding to its host: the two tables received at the first system start.
#pragma once

#include "host/abi/table.h"

// Binds the plug-in to the tables of the host; both must stay valid until HostUnbind.
void HostBind(const HostTable* host, const FrameworkTable* framework);
void HostUnbind();
Bool HostIsBound();

// The bound tables. Only valid between HostBind and HostUnbind.
const HostTable& Host();
const FrameworkTable& Framework();
