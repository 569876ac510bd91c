// A status line on a terminal that rewrites itself in place: how many
// chunks are done (of how many, when that is known), how fast, how many
// failed and, with a total, how long is left. Shared by lodecast and the
// census so that both look alike.
#ifndef LODECAST_PROGRESS_LINE_H
#define LODECAST_PROGRESS_LINE_H

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

class progress_line {
  public:
    // verb opens the line ("processed"), failed_word names the failures
    // ("failed"); the line is drawn on out.
    progress_line(std::string verb, std::string failed_word, std::FILE *out = stderr);

    // New counts (total 0: not known). Draws when the line is not on the
    // terminal, else at most every redraw_interval: a fast walk must not
    // spend its time on the terminal.
    void update(uint64_t done, uint64_t total, uint64_t failures);
    // Erases the line if it is shown, so that a message can take its place;
    // the next update draws it again.
    void clear();
    // Draws the last counts and ends the line: it stays on the terminal.
    void finish();

    // The line's text after seconds of work, without control characters.
    std::string text(uint64_t done, uint64_t total, uint64_t failures, double seconds) const;

    static constexpr std::chrono::milliseconds redraw_interval{100};

  private:
    using clock = std::chrono::steady_clock;
    void draw(clock::time_point now);

    std::string verb_;
    std::string failed_word_;
    std::FILE *out_;
    clock::time_point start_;
    clock::time_point last_draw_;
    bool shown_ = false;
    uint64_t done_ = 0;
    uint64_t total_ = 0;
    uint64_t failures_ = 0;
};

#endif
