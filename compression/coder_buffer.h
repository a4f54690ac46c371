// Aligned buffers of the row coders: from the scalable allocator, or plain aligned memory in the
// sanitizer build so every buffer is checked.
#pragma once

#include <cstddef>

// A buffer of size bytes aligned to 64; a failed allocation prints "out of memory" and aborts.
void* coder_buffer_alloc(size_t size);
// Frees a buffer of coder_buffer_alloc; null is ignored.
void coder_buffer_free(void* buffer);
