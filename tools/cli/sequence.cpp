#include "sequence.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "ca410.h"
#include "options.h"

namespace cli {

namespace {

// A patch's readings, or the exit status that cut them short.
int read_patch(const session &s, const std::string &label, int repeat,
               std::vector<std::array<double, 3>> *readings) {
    readings->clear();
    for (int i = 0; i < repeat; ++i) {
        std::array<double, 3> xyz{};
        const int32_t rc = ca410MeasureXYZ(s.dev(), xyz.data());
        if (rc != CA_OK || i + 1 < repeat) {
            if (int st = s.check("measuring " + label, rc)) return st;
        }
        readings->push_back(xyz);
    }
    return exit_ok;
}

// Shows a patch, lets it settle and takes its readings.
int take_patch(const session &s, const patch &p, const show_patch &show,
               const sequence_timing &timing, std::vector<std::array<double, 3>> *readings) {
    if (int st = show(p)) return st;
    if (!sleep_interruptible(timing.settle_ms)) return s.stop_point();
    return read_patch(s, "patch " + printable(p.id), std::max(1, timing.repeat), readings);
}

int write_patch(measurement_writer *writer, const patch_reading &r) {
    if (writer == nullptr) return exit_ok;
    try {
        writer->append(r);
    } catch (const file_error &e) {
        std::fprintf(stderr, "ca410: %s\n", printable(e.what()).c_str());
        return exit_failed;
    }
    return exit_ok;
}

}  // namespace

show_patch show_patches_by(show_colour show) {
    return [show = std::move(show)](const patch &p) { return show(p.id, p.rgb); };
}

patch_reading summarise(const patch &p, const std::vector<std::array<double, 3>> &readings) {
    patch_reading r;
    r.id = p.id;
    r.name = p.name;
    r.rgb = p.rgb;
    r.n = static_cast<long>(readings.size());
    const double n = static_cast<double>(readings.size());
    for (std::size_t k = 0; k < 3; ++k) {
        double sum = 0.0;
        for (const auto &xyz : readings) sum += xyz[k];
        r.xyz[k] = sum / n;
        double squares = 0.0;
        for (const auto &xyz : readings) squares += (xyz[k] - r.xyz[k]) * (xyz[k] - r.xyz[k]);
        r.sd[k] = readings.size() > 1 ? std::sqrt(squares / (n - 1.0)) : 0.0;
    }
    return r;
}

sequence_result measure_patches(const session &instrument, const patch_list &patches,
                                const show_patch &show, const sequence_timing &timing,
                                measurement_writer *writer, const patch_finished &finished) {
    sequence_result out;
    std::vector<std::array<double, 3>> readings;
    for (const patch &p : patches) {
        out.status = take_patch(instrument, p, show, timing, &readings);
        if (out.status != exit_ok) break;
        const patch_reading r = summarise(p, readings);
        out.status = write_patch(writer, r);
        if (out.status != exit_ok) break;
        out.readings.push_back(r);
        if (finished) finished(r);
        // Ctrl-C during the last reading: the patch is kept, then it stops.
        out.status = instrument.stop_point();
        if (out.status != exit_ok) break;
    }
    return out;
}

int instrumentation_of(const session &instrument, std::string *out) {
    ca410_dev_info info{};
    if (int st =
            instrument.check("reading the identity", ca410GetDeviceInfo(instrument.dev(), &info)))
        return st;
    // The firmware's name is blank-padded; a double quote no CGATS file carries.
    std::string name = instrument_text(info.name[0] ? info.name : instrument.dev()->model);
    name.erase(name.find_last_not_of(' ') + 1);
    *out = name + " S/N " + instrument_text(info.sn);
    for (std::size_t at; (at = out->find('"')) != std::string::npos;) out->replace(at, 1, "\\x22");
    return exit_ok;
}

bool created_time(std::string *out, std::string *error) {
    out->clear();
    const char *epoch = std::getenv("SOURCE_DATE_EPOCH");
    if (epoch == nullptr || *epoch == '\0') return true;
    long long seconds = -1;
    const char *end = epoch + std::strlen(epoch);
    const auto r = std::from_chars(epoch, end, seconds);
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm utc{};
    if (r.ec != std::errc() || r.ptr != end || seconds < 0 ||
        static_cast<long long>(t) != seconds ||
#ifdef _WIN32
        gmtime_s(&utc, &t) != 0
#else
        gmtime_r(&t, &utc) == nullptr
#endif
    ) {
        *error = "SOURCE_DATE_EPOCH is '" + printable(epoch) +
                 "', not a number of seconds since 1970-01-01 00:00 UTC";
        return false;
    }
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    *out = text;
    return true;
}

}  // namespace cli
