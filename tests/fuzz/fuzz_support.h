// Shared by the fuzz harnesses: the input format, the scripted line they
// run over, and how a harness registers itself.
//
// An input is a list of answers separated by '\n'. Each answer is the bytes
// the instrument sends after the next frame the host writes; inside it, '|'
// and one byte D split it into pieces, the next piece arriving
// (D % 64) * 50 ms later (so 0 to 3150 ms, past every time-out). A final '!'
// makes the port fail after the last piece. Time is virtual: a harness run
// never sleeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ca410.h"
#include "clog/clog.h"
#include "ser_nt_com/platform/fake.h"

namespace fuzz {

using answer = std::vector<ser_fake::chunk>;

std::vector<answer> parse_answers(const uint8_t *data, size_t size);

// The library's log formatted at full detail into a sink for the scope:
// every log path runs, nothing is printed.
class quiet_log {
  public:
    quiet_log();
    ~quiet_log();
    quiet_log(const quiet_log &) = delete;
    quiet_log &operator=(const quiet_log &) = delete;

  private:
    clog saved_;
};

// Result codes: any code of the public header; those one command exchange
// may give (success, cut data, time-out, port failure, short answer, or an
// instrument error's code).
bool is_result_code(int32_t rc);
bool is_exchange_result(int32_t rc);

// A line that answers each written frame with the next answer of the list,
// over the fake backend, with the log quiet. Undone at scope end.
class scripted_line {
  public:
    explicit scripted_line(std::vector<answer> answers);
    ~scripted_line();
    scripted_line(const scripted_line &) = delete;
    scripted_line &operator=(const scripted_line &) = delete;
    // A device handle on a port opened on this line, as after a successful
    // open: sercom set, init 0. Freed by the destructor unless released.
    ca410_dev *device();

  private:
    quiet_log quiet_;
};

// One harness: its name and entry point.
using entry_fn = int (*)(const uint8_t *data, size_t size);
struct harness {
    const char *name;
    entry_fn run;
};
const std::vector<harness> &harnesses();
struct registrar {
    registrar(const char *name, entry_fn run);
};

}  // namespace fuzz

// Defines harness `name`: as the libFuzzer entry point in a fuzzer build
// (CA410_FUZZ_MAIN), otherwise registered for the regression test.
#ifdef CA410_FUZZ_MAIN
#define CA410_FUZZ_TARGET(name)                                               \
    static int fuzz_##name(const uint8_t *data, size_t size);                 \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) { \
        return fuzz_##name(data, size);                                       \
    }                                                                         \
    static int fuzz_##name(const uint8_t *data, size_t size)
#else
#define CA410_FUZZ_TARGET(name)                                       \
    static int fuzz_##name(const uint8_t *data, size_t size);         \
    static const fuzz::registrar register_##name(#name, fuzz_##name); \
    static int fuzz_##name(const uint8_t *data, size_t size)
#endif
