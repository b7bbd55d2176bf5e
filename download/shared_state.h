#pragma once
#include <cstdint>

#include "support/shared_state.h"

// The transfer of the current file, process-wide (download thread only).
extern uint32_t BytesOnDisk;    // bytes of the current file on disk
extern uint32_t ContentLength;  // full length of the current file
