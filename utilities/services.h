// The services every layer uses: buffered and locked output, the fatal exit and the kernel
// switches.
#pragma once

#include "utilities/kernel_switches.h"
#include "utilities/output.h"
