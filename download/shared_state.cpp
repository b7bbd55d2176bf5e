#include "download/shared_state.h"

std::atomic<DependencyDialog*> ProgressDialog{nullptr};
std::atomic<bool> AbortRequested{false};
uint32_t BytesOnDisk = 0;
uint32_t ContentLength = 0;
