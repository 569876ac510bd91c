// The one way the tool prints its messages, so that a run over several
// threads can hold each chunk's messages back and print them in walk order.
#ifndef LODECAST_OUTPUT_H
#define LODECAST_OUTPUT_H

#include <functional>
#include <string>

// printf-style message on standard error, or appended to the buffer that
// this thread is capturing into (see output_capture). Nothing is returned.
void out_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));

// While alive, out_printf calls on the creating thread append to *buffer
// instead of printing; a null buffer prints directly. Nests: the previous
// target comes back when it ends.
class output_capture {
  public:
    explicit output_capture(std::string *buffer);
    ~output_capture();
    output_capture(const output_capture &) = delete;
    output_capture &operator=(const output_capture &) = delete;

  private:
    std::string *previous_;
};

// Writes the bytes of text to standard error as they are.
void out_write(const std::string &text);

// text with every control character (bytes 0-31 and 127) written as \xNN,
// so that a name from the disk can never move the cursor, clear the
// terminal or fake a line of its own; other bytes stay as they are.
std::string shown(const std::string &text);

// While alive, before_print runs before every message printed directly (not
// captured), so that a status line drawn on standard error gets out of the
// way. Meant for the walk's thread, which prints every direct message while
// it is set; nests like output_capture.
class output_interlude {
  public:
    explicit output_interlude(std::function<void()> before_print);
    ~output_interlude();
    output_interlude(const output_interlude &) = delete;
    output_interlude &operator=(const output_interlude &) = delete;

  private:
    std::function<void()> before_print_;
    const std::function<void()> *previous_;
};

#endif
