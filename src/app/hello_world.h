// Start-up line written by the C side of the program.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// Writes "Utilizing C code." and a line feed to standard output with puts. Returns 0.
int hello_world_c(void);

#ifdef __cplusplus
}
#endif
