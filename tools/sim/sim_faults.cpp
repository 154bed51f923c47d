#include "sim_faults.h"

#include <algorithm>
#include <cstdio>

namespace sim {

std::string error_answer(int code) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "ER%02d", std::clamp(code, 0, 99));
    return buf;
}

namespace {
std::string letters(std::string_view head) {
    return std::string(head.substr(0, 3));
}
}  // namespace

void fault_set::error_next(int code, int n) {
    error_code_ = code;
    error_left_ = std::max(n, 0);
}

void fault_set::error_for_head(std::string head, int code) {
    if (code == 0)
        head_errors_.erase(letters(head));
    else
        head_errors_[letters(head)] = code;
}

bool fault_set::answer_for_frame(std::string frame, std::optional<std::string> answer,
                                 std::size_t limit) {
    if (frame_answers_.size() >= limit && frame_answers_.count(frame) == 0) return false;
    frame_answers_[std::move(frame)] = std::move(answer);
    return true;
}

void fault_set::warning_next(int number, int n) {
    warning_ = std::clamp(number, 0, 99);
    warning_left_ = std::max(n, 0);
}

void fault_set::silent_next(int n) {
    silent_left_ = std::max(n, 0);
}
void fault_set::split_next(std::size_t at, int gap_ms) {
    split_.emplace(at, std::max(gap_ms, 0));
}
void fault_set::garbage_next(std::string bytes) {
    garbage_ = std::move(bytes);
}
void fault_set::late_next(std::string bytes, int after_ms) {
    late_.emplace(std::move(bytes), std::max(after_ms, 0));
}
void fault_set::no_cr_next() {
    no_cr_ = true;
}
void fault_set::long_next(std::size_t length) {
    long_ = length;
}
void fault_set::hangup_next(std::size_t at) {
    hangup_ = at;
}
void fault_set::clear() {
    *this = fault_set{};
}

frame_fate fault_set::before(std::string_view frame) {
    frame_fate fate;
    if (silent_left_ > 0) {
        --silent_left_;
        fate.silent = true;
        return fate;
    }
    if (error_left_ > 0) {
        --error_left_;
        fate.forced = error_answer(error_code_);
        return fate;
    }
    if (const auto f = frame_answers_.find(frame); f != frame_answers_.end()) {
        if (f->second)
            fate.forced = f->second;
        else
            fate.silent = true;
        return fate;
    }
    const auto it = head_errors_.find(frame.substr(0, 3));
    if (it != head_errors_.end()) fate.forced = error_answer(it->second);
    return fate;
}

delivery fault_set::shape(std::string text) {
    delivery d;
    if (warning_left_ > 0) {
        --warning_left_;
        if (text.size() >= 4 && text.compare(0, 2, "OK") == 0) {
            char code[4];
            std::snprintf(code, sizeof code, "%02d", warning_);
            text.replace(2, 2, code, 2);
        }
    }
    if (long_ > 0) {
        // Padding inside the data keeps the answer well-formed, only too long.
        if (text.size() + 1 < long_ && text.find(',') == std::string::npos) text += ',';
        if (text.size() + 1 < long_) text.append(long_ - 1 - text.size(), '0');
        long_ = 0;
    }
    std::string bytes = garbage_.value_or(std::string()) + text;
    garbage_.reset();
    if (!no_cr_) bytes += '\r';
    no_cr_ = false;

    if (hangup_) {
        const std::size_t at =
            *hangup_ == static_cast<std::size_t>(-1) ? bytes.size() / 2 : *hangup_;
        bytes.resize(std::min(at, bytes.size()));
        d.hangup = true;
        hangup_.reset();
    }
    d.sent = bytes;
    if (split_ && split_->first < bytes.size()) {
        d.chunks.push_back({0, bytes.substr(0, split_->first)});
        d.chunks.push_back({split_->second, bytes.substr(split_->first)});
    } else {
        d.chunks.push_back({0, bytes});
    }
    split_.reset();
    if (late_) {
        d.late = out_chunk{late_->second, late_->first};
        late_.reset();
    }
    return d;
}

}  // namespace sim
