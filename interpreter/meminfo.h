// Buffers and page-cache figures of the kernel's memory statistics, and the available-memory
// figure built from them. Main thread only; nothing here is locked.
#pragma once

#include <cstdint>

// Figures of the latest read_meminfo, in kibibytes as the file states them; 0 until a read
// finds the line.
extern uint64_t meminfo_buffers_kb;
extern uint64_t meminfo_cached_kb;

// Re-reads the "Buffers" and "Cached" lines of the statistics file (opened once, then one seek
// and one read of at most 2,047 bytes per call, no allocation); a line not found keeps its
// value. A file that cannot be opened ends the process with status 102 and no message; a read
// that fails, with perror's report on standard error and status 103.
void read_meminfo();

// Parses zero-terminated meminfo text in place (its colons are overwritten) into the two
// figures; names are matched whole, names of 16 characters or more are skipped.
void parse_meminfo_text(char* text);

// Points read_meminfo at another file (tests); closes the descriptor held so far.
void set_meminfo_path(const char* path);

// Bytes of physical memory free or held as buffers and page cache: sysinfo's free RAM times its
// memory unit, plus (Buffers + Cached) x 1024 from a fresh read_meminfo.
uint64_t available_memory_bytes();
