#include "lodecast/pipeline/output.h"

#include <cstdarg>
#include <cstdio>
#include <utility>

namespace {

thread_local std::string *capture_target = nullptr;
const std::function<void()> *interlude = nullptr;

void before_direct_print() {
    if (interlude != nullptr) {
        (*interlude)();
    }
}

} // namespace

void out_printf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    if (capture_target == nullptr) {
        before_direct_print();
        std::vfprintf(stderr, format, args);
        va_end(args);
        return;
    }
    char small[256];
    va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
        capture_target->append(small, static_cast<size_t>(n));
    } else if (n > 0) {
        // Long messages (paths) are formatted a second time at full size.
        const size_t old = capture_target->size();
        capture_target->resize(old + static_cast<size_t>(n) + 1);
        std::vsnprintf(capture_target->data() + old, static_cast<size_t>(n) + 1, format, again);
        capture_target->resize(old + static_cast<size_t>(n));
    }
    va_end(again);
}

output_capture::output_capture(std::string *buffer) : previous_(capture_target) {
    capture_target = buffer;
}

output_capture::~output_capture() {
    capture_target = previous_;
}

std::string shown(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) {
            static const char hex[] = "0123456789abcdef";
            out += "\\x";
            out += hex[u >> 4];
            out += hex[u & 15];
        } else {
            out += c;
        }
    }
    return out;
}

void out_write(const std::string &text) {
    if (!text.empty()) {
        before_direct_print();
        std::fwrite(text.data(), 1, text.size(), stderr);
    }
}

output_interlude::output_interlude(std::function<void()> before_print)
    : before_print_(std::move(before_print)), previous_(interlude) {
    interlude = &before_print_;
}

output_interlude::~output_interlude() {
    interlude = previous_;
}
