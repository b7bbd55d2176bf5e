#include "download/shared_state.h"

uint32_t BytesOnDisk = 0;
uint32_t ContentLength = 0;
