// The class identifier of the LosslessReader deliverable's source filter, which the player
// (and mediahost play) creates through CoCreateInstance.
#pragma once

#include "guid.h"

// {6706A55F-AE71-4B5E-9511-456E042553F8}
DEFINE_GUID(CLSID_LosslessReader, 0x6706A55F, 0xAE71, 0x4B5E, 0x95, 0x11, 0x45, 0x6E, 0x04, 0x25, 0x53, 0xF8);
