#include "lodecast/run/number.h"

namespace {

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The sign and the magnitude, capped just above 2^32 so that no step can
// overflow; false when no digit follows the optional sign.
bool scan(const char *text, bool *negative, uint64_t *magnitude) {
    constexpr uint64_t cap = uint64_t{1} << 33;
    const char *p = text;
    while (is_space(*p)) {
        ++p;
    }
    *negative = false;
    if (*p == '+' || *p == '-') {
        *negative = *p == '-';
        ++p;
    }
    if (*p < '0' || *p > '9') {
        return false;
    }
    uint64_t v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        v = v * 10 + static_cast<uint64_t>(*p - '0');
        if (v > cap) {
            v = cap;
        }
    }
    *magnitude = v;
    return true;
}

} // namespace

bool parse_decimal(const char *text, int32_t *out) {
    bool negative;
    uint64_t m;
    if (!scan(text, &negative, &m)) {
        return false;
    }
    if (negative) {
        *out = m >= uint64_t{1} << 31 ? INT32_MIN : -static_cast<int32_t>(m);
    } else {
        *out = m > INT32_MAX ? INT32_MAX : static_cast<int32_t>(m);
    }
    return true;
}

bool parse_unsigned_decimal(const char *text, uint32_t *out) {
    bool negative;
    uint64_t m;
    if (!scan(text, &negative, &m)) {
        return false;
    }
    if (m > UINT32_MAX) {
        *out = UINT32_MAX;
    } else {
        uint32_t v = static_cast<uint32_t>(m);
        *out = negative ? 0u - v : v;
    }
    return true;
}
