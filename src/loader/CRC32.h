// CRC-32/ISO-HDLC, the CRC of zlib and PKZIP.
#pragma once

#include <stdint.h>

// A length of 0 or less gives 0.
uint32_t ComputeCrc32(const void* data, int32_t length);
