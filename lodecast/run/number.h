// Decimal numbers from the command line, read the way "%d" and "%u" read
// them but without their undefined behaviour on out-of-range values.
#ifndef LODECAST_NUMBER_H
#define LODECAST_NUMBER_H

#include <cstdint>

// Skip leading white space, read an optional sign and at least one decimal
// digit; whatever follows is ignored ("16abc" gives 16). Values beyond the
// 32-bit range saturate to INT32_MIN / INT32_MAX. false (and *out untouched)
// when no number can be read.
bool parse_decimal(const char *text, int32_t *out);

// Like parse_decimal, but unsigned: a leading minus wraps around ("-1" gives
// 4294967295), and a magnitude beyond 4294967295 saturates to 4294967295
// whatever the sign.
bool parse_unsigned_decimal(const char *text, uint32_t *out);

#endif
