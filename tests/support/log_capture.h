// Captures what the library writes through its log channel, per stream,
// and restores the channel when the capture ends.
#pragma once

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "clog/clog.h"
#include "cmat/number_text.h"

class log_capture {
  public:
    explicit log_capture(int32_t debug_level = 8) : saved_(default_log) {
        current_ = this;
        default_log.debug = debug_level;
        default_log.v_log = &log_capture::to<&log_capture::verbose_>;
        default_log.d_log = &log_capture::to<&log_capture::debug_>;
        default_log.e_log = &log_capture::to<&log_capture::errors_>;
    }
    ~log_capture() {
        default_log = saved_;
        current_ = nullptr;
    }
    log_capture(const log_capture &) = delete;
    log_capture &operator=(const log_capture &) = delete;

    // Each message as written, in order.
    const std::vector<std::string> &debug() const { return debug_; }
    const std::vector<std::string> &errors() const { return errors_; }
    const std::vector<std::string> &verbose() const { return verbose_; }
    std::string error_text() const { return join(errors_); }
    std::string debug_text() const { return join(debug_); }
    bool has_debug(const std::string &line) const { return contains(debug_, line); }
    bool has_error(const std::string &line) const { return contains(errors_, line); }
    void clear() {
        debug_.clear();
        errors_.clear();
        verbose_.clear();
    }

  private:
    using stream = std::vector<std::string> log_capture::*;
    template <stream S>
    static void to(void *, clog *, const char *fmt, va_list args) {
        va_list copy;
        va_copy(copy, args);
        // Formatted as the library's own output does, whatever the locale.
        const int n = vsnprintf_c(nullptr, 0, fmt, copy);
        va_end(copy);
        std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
        vsnprintf_c(out.data(), out.size() + 1, fmt, args);
        (current_->*S).push_back(std::move(out));
    }
    static std::string join(const std::vector<std::string> &lines) {
        std::string out;
        for (const auto &l : lines) out += l;
        return out;
    }
    static bool contains(const std::vector<std::string> &lines, const std::string &line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    clog saved_;
    std::vector<std::string> debug_, errors_, verbose_;
    static inline log_capture *current_ = nullptr;
};
