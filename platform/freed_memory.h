#pragma once
// The C library's allocator keeps the memory of large blocks once freed for
// later use, so a burst of them (a font file read and copied while a font
// atlas is built) would leave the process that much larger for good.

// Hands the pages of freed memory back to the system.
void returnFreedMemory();
