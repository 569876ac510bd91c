/* Byte order helpers. NBT numbers are big-endian on disk; the tree holds
 * them in host order. The reversals are unconditional: callers reverse only
 * when get_endianness() answers 0. Float and double reversals preserve every
 * bit (signalling NaN patterns included). */
#ifndef NBT_ENDIANNESS_H
#define NBT_ENDIANNESS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* 1 on a big-endian host, 0 otherwise. */
int get_endianness(void);

void swaps(uint16_t *x);
void swapi(uint32_t *x);
void swapl(uint64_t *x);
float swapf(float fx);
double swapd(double dx);
uint64_t swpd(double d);
double uswpd(uint64_t d);

#ifdef __cplusplus
}
#endif

#endif /* NBT_ENDIANNESS_H */
