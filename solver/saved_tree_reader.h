// Reading a saved tree's library part into the tree the interpreter has just rebuilt from the
// file's lines: the header (flags, forgotten street, results) and the node data (records,
// storages, row sections). Main thread only, never while the solver runs. Every failure is an
// IOException; the caller frees the half-loaded tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "storage/binary_io.h"

struct SolvedTree;
struct TreeNode;
struct NodeData;
class SaveDecompressor;

// n doubles read in one piece.
std::vector<double> ReadDoubleArray(BinaryReader& in, size_t n);

// The 60 header bytes: u32 flags, i32 forgotten street, i32 best-response stamp, 4 f64 value
// pairs, f64 mean value, f64 exploitability. Sets the tree's format version from the reader.
// A forgotten street other than -1 or root street + 1 to 3 is "invalid file (header)";
// INCOMPLETE_TREE is set exactly when a street is forgotten. Nothing without a tree.
void libsubgame_load_tree_header(BinaryReader& in);

// The iteration count and the node data, by the tree's format version, after the storages were
// made for the file's compression level. omittedRows: the file carries no value rows. Ends by
// decoding every loaded river stream once; damage there is "invalid file (river stream)".
void libsubgame_load_tree_data(BinaryReader& in, bool omittedRows);

// Seconds the last load spent decoding its river streams once (the bench reports the share).
double LastTrialDecodeSeconds();

// The hand count every array of a node's record must have (0 past the hand set's records).
int32_t NodeRecordHands(const SolvedTree* tree, const TreeNode& node, int32_t record);
