#include "endianness.h"

#include <cstring>

// Every reversal works on the object representation through memcpy, so a
// float or double is never loaded as a number on its way: no step can quiet
// a signalling NaN or otherwise touch the bits.

namespace {

template <typename T> T reverse_bytes(T v) {
    unsigned char b[sizeof(T)];
    std::memcpy(b, &v, sizeof(T));
    for (size_t i = 0; i < sizeof(T) / 2; ++i) {
        unsigned char t = b[i];
        b[i] = b[sizeof(T) - 1 - i];
        b[sizeof(T) - 1 - i] = t;
    }
    std::memcpy(&v, b, sizeof(T));
    return v;
}

template <typename To, typename From> To reverse_into(From v) {
    static_assert(sizeof(To) == sizeof(From));
    From r = reverse_bytes(v);
    To out;
    std::memcpy(&out, &r, sizeof out);
    return out;
}

} // namespace

extern "C" {

int get_endianness(void) {
    const uint32_t probe = 0x01020304;
    unsigned char first;
    std::memcpy(&first, &probe, 1);
    return first == 1 ? 1 : 0;
}

void swaps(uint16_t *x) {
    *x = static_cast<uint16_t>((*x >> 8) | (*x << 8));
}

void swapi(uint32_t *x) {
    *x = (*x >> 24) | ((*x << 8) & 0x00FF0000u) | ((*x >> 8) & 0x0000FF00u) | (*x << 24);
}

void swapl(uint64_t *x) {
    *x = reverse_bytes(*x);
}

float swapf(float fx) {
    return reverse_bytes(fx);
}

double swapd(double dx) {
    return reverse_bytes(dx);
}

uint64_t swpd(double d) {
    return reverse_into<uint64_t>(d);
}

double uswpd(uint64_t d) {
    return reverse_into<double>(d);
}

} // extern "C"
