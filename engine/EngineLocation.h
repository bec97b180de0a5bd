#pragma once
// The location line of the engine's operations. The engine is one subsystem split over
// several source files (Scene, ClipSection, Camera, ...); its report lines name the
// subsystem, `Engine`, like every other location of the engine, whichever file the
// function lives in, so a report reads the same however the code is arranged.

#include "Common_Code/ErrorTrace.h"

// The engine's "add my location" after a call that left the trace pending.
#define ENGINE_ADD_LOCATION() ::ErrorAdd(__PRETTY_FUNCTION__, "Engine", __LINE__)
