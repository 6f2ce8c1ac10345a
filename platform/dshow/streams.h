// The media-graph base classes, as a filter source includes them.
#pragma once

#include "windows.h"
#include "objbase.h"

#include "amvideo.h"
#include "evcode.h"
#include "mmreg.h"
#include "strmif.h"
#include "uuids.h"
#include "vfwmsgs.h"
#include "wxdebug.h"

#include "amevent.h"
#include "amthread.h"
#include "combase.h"
#include "critsec.h"
#include "factory.h"
#include "mtype.h"
#include "reftime.h"
#include "setup.h"

#include "allocator.h"
#include "memallocator.h"
#include "sample.h"

#include "basefilter.h"
#include "basepin.h"
#include "enums.h"
#include "inputpin.h"
#include "outputpin.h"

#include "refclock.h"
#include "renderer.h"
#include "renderer_pin.h"
#include "source.h"
#include "sourceseeking.h"
#include "sourcestream.h"
#include "transform.h"
#include "transform_pins.h"
#include "videorenderer.h"
