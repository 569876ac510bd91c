#include "lodecast/formats/chunk_name.h"

namespace {

// Characters are compared as signed bytes, so bytes of 0x80 and above are
// neither digits nor letters.
bool is_digit(signed char c) {
    return c >= '0' && c <= '9';
}
bool is_lower(signed char c) {
    return c >= 'a' && c <= 'z';
}

signed char at(const char *str, int i) {
    return static_cast<signed char>(str[i]);
}

// Value of one base-36 symbol; '-' and anything unexpected count as 0.
uint32_t symbol_value(signed char c) {
    if (is_digit(c)) {
        return static_cast<uint32_t>(c - '0');
    }
    if (is_lower(c)) {
        return static_cast<uint32_t>(c - 'a' + 10);
    }
    return 0;
}

// Decode one coordinate from str[*i] up to the next '.' or the end, leaving
// *i on that stop. The running value holds 36 times the value read so far;
// it wraps modulo 2^32 instead of overflowing, so magnitudes above 59652323
// decode to a wrapped value rather than failing.
int32_t decode_part(const char *str, int *i) {
    uint32_t acc = 0;
    bool negative = false;
    for (; str[*i] != '\0' && str[*i] != '.'; ++*i) {
        signed char c = at(str, *i);
        if (c == '-') {
            negative = true;
        }
        acc = (acc + symbol_value(c)) * 36u;
    }
    if (negative) {
        acc = 0u - acc;
    }
    return static_cast<int32_t>(acc) / 36;
}

} // namespace

int check_base32(const char *str) {
    for (int i = 0; str[i] != '\0'; ++i) {
        signed char c = at(str, i);
        if (!is_digit(c) && !is_lower(c)) {
            return 0;
        }
    }
    return 1;
}

int check_chunkname(const char *str) {
    // Short-circuit keeps a one-character name from being read past its end.
    if (str[0] != 'c' || str[1] != '.') {
        return 0;
    }
    int i = 2;
    int dots = 0;
    while (dots < 2 && str[i] != '\0') {
        signed char c = at(str, i);
        if (c == '.') {
            ++dots;
        } else if (!is_digit(c) && !is_lower(c) && c != '-') {
            return 0;
        }
        ++i;
    }
    return (str[i] == 'd' && str[i + 1] == 'a' && str[i + 2] == 't') ? 1 : 0;
}

void chunk_to_coords(const char *str, chunk_coords *cc) {
    cc->x = 0;
    cc->y = 0;
    if (str[0] == '\0' || str[1] == '\0') {
        return; // not a chunk name; never read past its end
    }
    int i = 2;
    cc->x = decode_part(str, &i);
    if (str[i] == '.') {
        ++i;
        cc->y = decode_part(str, &i);
    }
}

std::string base36(int64_t v) {
    const char *digits = "0123456789abcdefghijklmnopqrstuvwxyz";
    const bool negative = v < 0;
    uint64_t m = negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    std::string s;
    do {
        s.insert(s.begin(), digits[m % 36]);
        m /= 36;
    } while (m != 0);
    return negative ? "-" + s : s;
}

std::string chunk_file_path(int32_t x, int32_t z) {
    const auto folder = [](int32_t v) { return base36(((v % 64) + 64) % 64); };
    return folder(x) + "/" + folder(z) + "/c." + base36(x) + "." + base36(z) + ".dat";
}
