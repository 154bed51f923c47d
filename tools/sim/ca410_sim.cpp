#include "ca410_sim.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "sim_control.h"
#include "sim_faults.h"
#include "sim_instrument.h"
#include "sim_pty.h"
#include "sim_state.h"

using clock_type = std::chrono::steady_clock;
using time_point = clock_type::time_point;

namespace {

constexpr std::size_t max_frame = 4096;  // a line without carriage return is dropped beyond this
// Pieces of output waiting for the line. A host that writes without reading
// is not read from beyond this, as a real instrument's handshake would hold it.
constexpr std::size_t max_queued = 1024;
constexpr auto chatter_period = std::chrono::milliseconds(5);
constexpr char chatter_byte = '#';
constexpr auto hangup_pause = std::chrono::milliseconds(100);
constexpr auto exclusive_check_period = std::chrono::milliseconds(100);
const auto char_time = std::chrono::duration_cast<clock_type::duration>(
    std::chrono::duration<double, std::milli>(ca410_sim::char_time_ms));

// An answer echoed back by a host that left echo on its line: answering it
// would start an endless exchange of "ER10"s.
bool is_echoed_answer(std::string_view body) {
    return body.size() >= 4 && (body.substr(0, 2) == "OK" || body.substr(0, 2) == "ER") &&
           body[2] >= '0' && body[2] <= '9' && body[3] >= '0' && body[3] <= '9';
}

}  // namespace

struct ca410_sim::impl {
    explicit impl(sim_options o) : options(std::move(o)), inst(options), pace(options.pace) {}

    // Queued output of the serving thread, in order of time due.
    struct out_item {
        time_point due;
        std::string bytes;
        bool hangup = false;     // close the line once the bytes are out
        bool droppable = false;  // late bytes: dropped rather than held when the line is full
    };

    sim_options options;

    // Everything below up to `serving` is guarded by m.
    mutable std::mutex m;
    mutable std::condition_variable frames_cv;
    mutable sim::instrument inst;  // mutable: reading the light brings its clock up to date
    sim::fault_set faults;
    std::deque<frame_record> frames;
    std::size_t frames_dropped = 0;
    bool pace;
    time_point switched_on = clock_type::now();  // the display's, for its warm-up
    bool chatter = false;
    std::optional<time_point> chatter_until;
    std::string port;
    bool running = false;

    std::mutex save_m;  // one state file writer at a time
    std::string last_save_error;
    sim::state_file_lock state_lock;  // held while running

    // Serving thread only (and start/stop while it is not running).
    std::thread thread;
    std::atomic<bool> stopping{false};
    int wake_fd[2] = {-1, -1};
    sim::pty line;
    std::string partial;
    time_point partial_start{};
    std::deque<out_item> out;
    time_point busy_until{};
    time_point line_free{};
    time_point next_chatter{};
    time_point read_backoff{};
    time_point next_exclusive_check{};

    // The display's time since it was switched on, for the model (under m).
    void update_clock() const {
        inst.seconds_on = std::chrono::duration<double>(clock_type::now() - switched_on).count();
    }

    void wake() {
        const char c = 1;
        if (wake_fd[1] >= 0) (void)!::write(wake_fd[1], &c, 1);
    }

    sim::lasting_state snapshot() const {
        sim::lasting_state st;
        st.settings = inst.settings;
        for (const auto &c : inst.channels)
            if (c) st.channels.push_back(*c);
        return st;
    }

    void save_state() {
        if (options.state_file.empty()) return;
        std::lock_guard<std::mutex> save_lock(save_m);
        sim::lasting_state st;
        {
            std::lock_guard<std::mutex> lock(m);
            st = snapshot();
        }
        std::string error;
        if (!sim::save_state_file(options.state_file, st, &error)) {
            if (error != last_save_error)
                std::fprintf(stderr, "ca410-sim: state not saved: %s\n",
                             sim::printable(error).c_str());
            last_save_error = error;
        } else {
            last_save_error.clear();
        }
    }

    void queue(out_item item) {
        const auto at =
            std::upper_bound(out.begin(), out.end(), item.due,
                             [](const time_point &t, const out_item &o) { return t < o.due; });
        out.insert(at, std::move(item));
    }

    // One frame from the host, its carriage return included. Returns whether
    // the lasting state changed.
    bool on_frame(std::string bytes, time_point first, time_point now) {
        std::lock_guard<std::mutex> lock(m);
        frame_record rec{bytes, first, now, {}};
        const std::string_view body(bytes.data(), bytes.size() - 1);
        bool changed = false;
        if (!is_echoed_answer(body)) {
            const sim::frame_fate fate = faults.before(body);
            if (!fate.silent) {
                sim::reply r;
                update_clock();
                if (fate.forced)
                    r.text = *fate.forced;
                else
                    r = inst.execute(body);
                changed = r.changed;
                sim::delivery d = faults.shape(std::move(r.text));
                rec.answer = d.sent;
                // At line rate the frame itself takes its time on the wire:
                // its last byte is in only that long after its first.
                const time_point arrived =
                    pace ? std::max(now, first + char_time * static_cast<int>(bytes.size())) : now;
                time_point due =
                    std::max(arrived, busy_until) + std::chrono::milliseconds(r.busy_ms);
                for (auto &chunk : d.chunks) {
                    due += std::chrono::milliseconds(chunk.delay_ms);
                    queue({due, std::move(chunk.bytes), false, false});
                }
                // Closing the master throws away what the host has not read
                // yet; the pause lets the part of the answer reach it first.
                if (d.hangup) queue({due + hangup_pause, {}, true, false});
                busy_until = due;
                if (d.late && !d.hangup)
                    queue({due + std::chrono::milliseconds(d.late->delay_ms),
                           std::move(d.late->bytes), false, true});
            }
        }
        if (frames.size() == ca410_sim::max_frames) {
            frames.pop_front();
            ++frames_dropped;
        }
        frames.push_back(std::move(rec));
        frames_cv.notify_all();
        return changed;
    }

    // Splits the host's bytes into frames at carriage returns.
    void on_bytes(const char *data, std::size_t n, time_point now) {
        bool changed = false;
        for (std::size_t i = 0; i < n; ++i) {
            const char c = data[i];
            // Terminal programs may send CR LF for Enter; the LF opens no frame.
            if (partial.empty() && c == '\n') continue;
            if (partial.empty()) partial_start = now;
            partial += c;
            if (c == '\r') {
                changed |= on_frame(std::move(partial), partial_start, now);
                partial.clear();
            } else if (partial.size() > max_frame) {
                partial.clear();
            }
        }
        if (changed) save_state();
    }

    void hang_up() {
        // The host sees the line drop (EIO, POLLHUP); the instrument comes
        // back on a fresh pseudo-terminal. The new line, its link and
        // port_path() are in place before the old one closes, so a host that
        // has seen the drop finds the new line at once.
        out.clear();
        partial.clear();
        sim::pty fresh;
        std::string error;
        if (!fresh.open(&error)) {
            std::fprintf(stderr, "ca410-sim: cannot open a new line: %s\n",
                         sim::printable(error).c_str());
            stopping = true;
        } else if (!options.link_path.empty() &&
                   !sim::update_link(options.link_path, fresh.slave_path(), &error)) {
            std::fprintf(stderr, "ca410-sim: %s\n", sim::printable(error).c_str());
        }
        std::lock_guard<std::mutex> lock(m);
        port = fresh.slave_path();
        line.swap(fresh);
        fresh.close();
    }

    // Writes what is due; returns false when the line is full.
    bool flush(time_point now) {
        bool paced;
        {
            std::lock_guard<std::mutex> lock(m);
            paced = pace;
        }
        while (!out.empty() && out.front().due <= now) {
            out_item &it = out.front();
            std::size_t n = it.bytes.size();
            if (paced && n > 0) {
                const time_point start = std::max(line_free, it.due);
                if (start + char_time > now) break;
                n = std::min<std::size_t>(
                    n, 1 + static_cast<std::size_t>((now - start - char_time) / char_time));
            }
            if (n > 0) {
                const ssize_t w = ::write(line.master(), it.bytes.data(), n);
                if (w < 0) {
                    if (errno == EINTR) continue;
                    if (it.droppable) {
                        out.pop_front();
                        continue;
                    }
                    return false;
                }
                if (paced) line_free = std::max(line_free, it.due) + char_time * w;
                it.bytes.erase(0, static_cast<std::size_t>(w));
            }
            if (!it.bytes.empty()) continue;
            const bool hangup = it.hangup;
            out.pop_front();
            if (hangup) {
                hang_up();
                return true;
            }
        }
        return true;
    }

    std::optional<time_point> next_deadline() {
        std::optional<time_point> t;
        const auto consider = [&](time_point c) {
            if (!t || c < *t) t = c;
        };
        std::lock_guard<std::mutex> lock(m);
        if (!out.empty())
            consider(pace && !out.front().bytes.empty()
                         ? std::max(line_free, out.front().due) + char_time
                         : out.front().due);
        if (chatter) {
            consider(next_chatter);
            if (chatter_until) consider(*chatter_until);
        }
        return t;
    }

    void tick_chatter(time_point now) {
        std::lock_guard<std::mutex> lock(m);
        if (!chatter) return;
        if (chatter_until && now >= *chatter_until) {
            chatter = false;
            chatter_until.reset();
            return;
        }
        if (now < next_chatter) return;
        // Noise on the line: lost when nobody reads it.
        (void)!::write(line.master(), &chatter_byte, 1);
        next_chatter = now + chatter_period;
    }

    void serve() {
        bool line_full = false;
        while (!stopping) {
            const time_point now = clock_type::now();
            // A host's close puts the line settings back at once: the next
            // host may set its own soon after it opens.
            pollfd fds[3] = {
                {wake_fd[0], POLLIN, 0}, {line.master(), 0, 0}, {line.watch_fd(), POLLIN, 0}};
            if (now >= read_backoff && out.size() < max_queued) fds[1].events |= POLLIN;
            if (line_full) fds[1].events |= POLLOUT;
            timespec ts{};
            timespec *timeout = nullptr;
            auto deadline = next_deadline();
            if (now < read_backoff && (!deadline || read_backoff < *deadline))
                deadline = read_backoff;
            if (!deadline || next_exclusive_check < *deadline) deadline = next_exclusive_check;
            if (deadline) {
                const auto wait = std::max(clock_type::duration::zero(), *deadline - now);
                const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
                ts.tv_sec = static_cast<time_t>(ns / 1000000000);
                ts.tv_nsec = static_cast<long>(ns % 1000000000);
                timeout = &ts;
            }
            const int rc = ppoll(fds, 3, timeout, nullptr);
            if (rc < 0 && errno != EINTR) break;
            if (rc > 0 && (fds[0].revents & POLLIN)) {
                char buf[64];
                while (::read(wake_fd[0], buf, sizeof buf) > 0) {
                }
            }
            if (stopping) break;
            if (rc > 0 && (fds[2].revents & POLLIN)) line.release_exclusive();
            if (rc > 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
                char buf[4096];
                const ssize_t n = ::read(line.master(), buf, sizeof buf);
                if (n > 0) {
                    line.release_exclusive();  // so the host may open again right after it closes
                    on_bytes(buf, static_cast<std::size_t>(n), clock_type::now());
                } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                    // No slave open (should not happen while we hold one):
                    // look again shortly instead of spinning.
                    read_backoff = clock_type::now() + std::chrono::milliseconds(10);
                }
            }
            const time_point after = clock_type::now();
            line_full = !flush(after);
            tick_chatter(after);
            if (after >= next_exclusive_check) {
                line.release_exclusive();
                next_exclusive_check = after + exclusive_check_period;
            }
        }
    }
};

ca410_sim::ca410_sim(sim_options options) : impl_(std::make_unique<impl>(std::move(options))) {}

ca410_sim::~ca410_sim() {
    stop();
}

bool ca410_sim::start(std::string *error) {
    impl &d = *impl_;
    {
        std::lock_guard<std::mutex> lock(d.m);
        if (d.running) return true;
    }
    std::string why;
    const auto fail = [&](const std::string &msg) {
        if (error) *error = msg;
        d.state_lock.release();
        return false;
    };
    if (auto problem = sim_display_problem(display())) return fail("display: " + *problem);
    bool fresh_file = false;
    if (!d.options.state_file.empty()) {
        if (!d.state_lock.acquire(d.options.state_file, &why)) return fail(why);
        sim::lasting_state st;
        switch (sim::load_state_file(d.options.state_file, &st, &why)) {
            case sim::load_result::refused:
                return fail(why);
            case sim::load_result::fresh:
                fresh_file = true;
                break;
            case sim::load_result::loaded: {
                std::lock_guard<std::mutex> lock(d.m);
                const int zero = d.inst.settings.zero_cal_status;
                const int calmode = d.inst.settings.calmode;
                d.inst.settings = st.settings;
                d.inst.settings.zero_cal_status = zero;
                d.inst.settings.calmode = calmode;
                d.inst.channels = {};
                for (const auto &c : st.channels)
                    d.inst.channels[static_cast<std::size_t>(c.number)] = c;
                break;
            }
        }
    }
    std::string taken;
    if (!d.options.link_path.empty() && sim::link_served(d.options.link_path, &taken))
        return fail(d.options.link_path + " links to " + taken +
                    ", the line of another running instance; not taking it over");
    if (!d.line.open(&why)) return fail(why);
    if (!d.options.link_path.empty() &&
        !sim::update_link(d.options.link_path, d.line.slave_path(), &why)) {
        d.line.close();
        return fail(why);
    }
    if (pipe2(d.wake_fd, O_CLOEXEC | O_NONBLOCK) != 0) {
        const std::string msg = std::string("pipe: ") + std::strerror(errno);
        d.line.close();
        return fail(msg);
    }
    {
        std::lock_guard<std::mutex> lock(d.m);
        d.port = d.line.slave_path();
        d.running = true;
        d.switched_on = clock_type::now();
    }
    if (fresh_file) d.save_state();
    d.stopping = false;
    d.out.clear();
    d.partial.clear();
    d.busy_until = d.line_free = d.read_backoff = time_point{};
    d.thread = std::thread([&d] { d.serve(); });
    return true;
}

void ca410_sim::stop() {
    impl &d = *impl_;
    {
        std::lock_guard<std::mutex> lock(d.m);
        if (!d.running) return;
    }
    d.stopping = true;
    d.wake();
    if (d.thread.joinable()) d.thread.join();
    if (!d.options.link_path.empty()) sim::remove_link(d.options.link_path, d.line.slave_path());
    d.line.close();
    for (int &fd : d.wake_fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    d.state_lock.release();
    std::lock_guard<std::mutex> lock(d.m);
    d.running = false;
    d.port.clear();
}

bool ca410_sim::running() const {
    std::lock_guard<std::mutex> lock(impl_->m);
    return impl_->running;
}

std::string ca410_sim::port_path() const {
    std::lock_guard<std::mutex> lock(impl_->m);
    return impl_->port;
}

void ca410_sim::show_rgb(double r, double g, double b) {
    std::lock_guard<std::mutex> lock(impl_->m);
    impl_->inst.drive = {r, g, b};
    impl_->inst.shown_light.reset();
}

void ca410_sim::show_xyz(double x, double y, double z) {
    std::lock_guard<std::mutex> lock(impl_->m);
    impl_->inst.shown_light = sim_xyz{x, y, z};
}

sim_xyz ca410_sim::shown_xyz() const {
    std::lock_guard<std::mutex> lock(impl_->m);
    impl_->update_clock();
    return impl_->inst.light();
}

bool ca410_sim::set_display(const sim_display &display, std::string *error) {
    if (auto why = sim_display_problem(display)) {
        if (error) *error = *why;
        return false;
    }
    std::lock_guard<std::mutex> lock(impl_->m);
    const sim_display &old = impl_->inst.display();
    // A new warm-up starts now, as if the display had just been switched on.
    if (display.warmup_percent != old.warmup_percent ||
        display.warmup_seconds != old.warmup_seconds)
        impl_->switched_on = clock_type::now();
    impl_->inst.set_display(display);
    return true;
}

sim_display ca410_sim::display() const {
    std::lock_guard<std::mutex> lock(impl_->m);
    return impl_->inst.display();
}

void ca410_sim::set_zrc_ms(int ms) {
    std::lock_guard<std::mutex> lock(impl_->m);
    impl_->inst.zrc_ms = std::max(ms, 0);
}

void ca410_sim::set_measure_ms(int speed, int ms) {
    if (speed < 0 || speed > 3) return;
    std::lock_guard<std::mutex> lock(impl_->m);
    impl_->inst.measure_ms[static_cast<std::size_t>(speed)] = std::max(ms, 0);
}

void ca410_sim::set_pacing(bool on) {
    {
        std::lock_guard<std::mutex> lock(impl_->m);
        impl_->pace = on;
    }
    impl_->wake();
}

sim_settings ca410_sim::settings() const {
    std::lock_guard<std::mutex> lock(impl_->m);
    return impl_->inst.settings;
}

void ca410_sim::set_settings(const sim_settings &settings) {
    {
        std::lock_guard<std::mutex> lock(impl_->m);
        impl_->inst.settings = settings;
    }
    if (running()) impl_->save_state();
}

std::vector<sim_channel> ca410_sim::channels() const {
    std::lock_guard<std::mutex> lock(impl_->m);
    std::vector<sim_channel> out;
    for (const auto &c : impl_->inst.channels)
        if (c) out.push_back(*c);
    return out;
}

std::optional<sim_channel> ca410_sim::channel(int number) const {
    if (number < 1 || number > sim::instrument::max_channel) return std::nullopt;
    std::lock_guard<std::mutex> lock(impl_->m);
    return impl_->inst.channels[static_cast<std::size_t>(number)];
}

void ca410_sim::put_channel(const sim_channel &channel) {
    if (channel.number < 1 || channel.number > sim::instrument::max_channel) return;
    {
        std::lock_guard<std::mutex> lock(impl_->m);
        impl_->inst.channels[static_cast<std::size_t>(channel.number)] = channel;
    }
    if (running()) impl_->save_state();
}

void ca410_sim::erase_channel(int number) {
    if (number < 1 || number > sim::instrument::max_channel) return;
    {
        std::lock_guard<std::mutex> lock(impl_->m);
        impl_->inst.channels[static_cast<std::size_t>(number)].reset();
    }
    if (running()) impl_->save_state();
}

void ca410_sim::set_identity_answer(std::string raw) {
    std::lock_guard<std::mutex> lock(impl_->m);
    impl_->inst.identity_answer = std::move(raw);
}

void ca410_sim::fault_error_next(int code, int n) {
    std::lock_guard<std::mutex> lock(impl_->m);
    impl_->faults.error_next(code, n);
}

void ca410_sim::fault_error_for_head(std::string head, int code) {
    std::lock_guard<std::mutex> lock(impl_->m);
    impl_->faults.error_for_head(std::move(head), code);
}

bool ca410_sim::fault_answer_for_frame(std::string frame, std::optional<std::string> answer) {
    std::lock_guard<std::mutex> lock(impl_->m);
    return impl_->faults.answer_for_frame(std::move(frame), std::move(answer), max_armed_frames);
}

void ca410_sim::fault_warning_next(int number, int n) {
    std::lock_guard<std::mutex> lock(impl_->m);
    impl_->faults.warning_next(number, n);
}

void ca410_sim::fault_silent_next(int n) {
    std::lock_guard<std::mutex> lock(impl_->m);
    impl_->faults.silent_next(n);
}

void ca410_sim::fault_split_next(std::size_t at, int gap_ms) {
    std::lock_guard<std::mutex> lock(impl_->m);
    impl_->faults.split_next(at, gap_ms);
}

void ca410_sim::fault_garbage_next(std::string bytes) {
    std::lock_guard<std::mutex> lock(impl_->m);
    impl_->faults.garbage_next(std::move(bytes));
}

void ca410_sim::fault_late_bytes_next(std::string bytes, int after_ms) {
    std::lock_guard<std::mutex> lock(impl_->m);
    impl_->faults.late_next(std::move(bytes), after_ms);
}

void ca410_sim::fault_no_cr_next() {
    std::lock_guard<std::mutex> lock(impl_->m);
    impl_->faults.no_cr_next();
}

bool ca410_sim::fault_long_answer_next(std::size_t length) {
    if (length > max_answer_length) return false;
    std::lock_guard<std::mutex> lock(impl_->m);
    impl_->faults.long_next(length);
    return true;
}

void ca410_sim::fault_chatter(bool on, int duration_ms) {
    {
        std::lock_guard<std::mutex> lock(impl_->m);
        impl_->chatter = on;
        impl_->next_chatter = clock_type::now();
        impl_->chatter_until.reset();
        if (on && duration_ms > 0)
            impl_->chatter_until = clock_type::now() + std::chrono::milliseconds(duration_ms);
    }
    impl_->wake();
}

void ca410_sim::fault_hangup_next(std::size_t at) {
    std::lock_guard<std::mutex> lock(impl_->m);
    impl_->faults.hangup_next(at);
}

void ca410_sim::clear_faults() {
    {
        std::lock_guard<std::mutex> lock(impl_->m);
        impl_->faults.clear();
        impl_->chatter = false;
        impl_->chatter_until.reset();
    }
    impl_->wake();
}

std::vector<frame_record> ca410_sim::frames() const {
    std::lock_guard<std::mutex> lock(impl_->m);
    return {impl_->frames.begin(), impl_->frames.end()};
}

std::size_t ca410_sim::frames_dropped() const {
    std::lock_guard<std::mutex> lock(impl_->m);
    return impl_->frames_dropped;
}

void ca410_sim::clear_frames() {
    std::lock_guard<std::mutex> lock(impl_->m);
    impl_->frames.clear();
    impl_->frames_dropped = 0;
}

bool ca410_sim::wait_frames(std::size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(impl_->m);
    return impl_->frames_cv.wait_for(
        lock, timeout, [&] { return impl_->frames.size() + impl_->frames_dropped >= n; });
}
