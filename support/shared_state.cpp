#include "support/shared_state.h"

std::atomic<DependencyDialog*> ProgressDialog{nullptr};
std::atomic<bool> AbortRequested{false};
