#include "solver/river_scratch.h"

#include <memory>

RiverScratch* ThreadRiverScratch() {
    // The owner frees the scratch when its thread ends (worker threads come and go with every
    // team size change).
    thread_local std::unique_ptr<RiverScratch> owner;
    if (!owner) owner = std::make_unique<RiverScratch>();
    return owner.get();
}

void RiverScratch::ClearLists() {
    terminals.clear();
    ReleasePooledArrayRange(terminalReach.data(), terminalReach.data() + terminalReach.size());
    ReleasePooledArrayRange(terminalValues.data(), terminalValues.data() + terminalValues.size());
    terminalReach.clear();
    terminalValues.clear();
    showdownList.clear();
    foldList.clear();
    cursor = 0;
}
