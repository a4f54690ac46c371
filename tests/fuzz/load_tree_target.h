// The body of the saved-tree fuzz target: the whole load path of load_tree over bytes in
// memory. Shared by tests/fuzz/load_tree_fuzz.cpp and the corpus replay of the interpreter tests.
// A load either leaves a tree or, failing with load_tree's error, none; anything else traps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "cards/hand_evaluator.h"
#include "interpreter/combo_order.h"
#include "interpreter/saved_tree_commands.h"
#include "interpreter/tree_state.h"
#include "solver/solved_tree.h"
#include "utilities/output.h"

namespace fuzz {

inline int load_tree(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        InitHandEvalTables();
        build_combo_tables();
        return true;
    }();
    (void)ready;
    if (size == 0) return 0;  // fmemopen needs a buffer
    bool loaded = false;
    try {
        load_tree_from([&] {
            FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
            if (f == nullptr) throw IOException("can't open file (errno 0)");
            return std::make_unique<FileReader>(f);
        });
        loaded = true;
    } catch (const std::runtime_error&) {
        if (TreePresent || g_solvedTree != nullptr) __builtin_trap();
    }
    if (loaded && (!TreePresent || g_solvedTree == nullptr)) __builtin_trap();
    free_tree_core();
    clear_output_buffer();
    return 0;
}

}  // namespace fuzz
