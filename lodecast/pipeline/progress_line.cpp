#include "lodecast/pipeline/progress_line.h"

#include <algorithm>
#include <cinttypes>
#include <utility>

progress_line::progress_line(std::string verb, std::string failed_word, std::FILE *out)
    : verb_(std::move(verb)), failed_word_(std::move(failed_word)), out_(out), start_(clock::now()),
      last_draw_(start_) {}

void progress_line::update(uint64_t done, uint64_t total, uint64_t failures) {
    done_ = done;
    total_ = total;
    failures_ = failures;
    const clock::time_point now = clock::now();
    if (!shown_ || now - last_draw_ >= redraw_interval) {
        draw(now);
    }
}

void progress_line::clear() {
    if (shown_) {
        std::fputs("\r\033[K", out_);
        std::fflush(out_);
        shown_ = false;
    }
}

void progress_line::finish() {
    draw(clock::now());
    std::fputs("\n", out_);
    std::fflush(out_);
    shown_ = false;
}

void progress_line::draw(clock::time_point now) {
    const double seconds = std::chrono::duration<double>(now - start_).count();
    // Erasing after the text clears what a longer line left behind.
    std::fprintf(out_, "\r%s\033[K", text(done_, total_, failures_, seconds).c_str());
    std::fflush(out_);
    shown_ = true;
    last_draw_ = now;
}

std::string progress_line::text(uint64_t done, uint64_t total, uint64_t failures,
                                double seconds) const {
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    char buf[160];
    std::string line = verb_ + " ";
    if (total > 0) {
        std::snprintf(buf, sizeof buf, "%" PRIu64 " of %" PRIu64 " chunks (%" PRIu64 "%%)", done,
                      total, done >= total ? 100 : done * 100 / total);
    } else {
        std::snprintf(buf, sizeof buf, "%" PRIu64 " chunks", done);
    }
    line += buf;
    std::snprintf(buf, sizeof buf, ", %.0f chunks/s, %" PRIu64 " ", rate, failures);
    line += buf + failed_word_;
    if (total > 0 && rate > 0) {
        const double left = done >= total ? 0 : static_cast<double>(total - done) / rate;
        // Capped so that the conversion stays defined whatever the counts.
        const auto whole = static_cast<uint64_t>(std::min(left, 1e9) + 0.999);
        std::snprintf(buf, sizeof buf, ", %" PRIu64 ":%02" PRIu64 " left", whole / 60, whole % 60);
        line += buf;
    }
    return line;
}
