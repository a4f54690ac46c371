#include "solver/river_scratch.h"

#include <memory>

RiverScratch* ThreadRiverScratch() {
    // The owner frees the scratch when its thread ends (worker threads come and go with every
    // team size change).
    thread_local std::unique_ptr<RiverScratch> owner;
    if (!owner) owner = std::make_unique<RiverScratch>();
    return owner.get();
}
