// The calibration channel directory: the walk over channels 1 to 99 that
// builds the handle's list of WRGB channels, the one-channel read and dump,
// deletion, and the exported functions that hand the caller copies.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "clog/clog.h"
#include "cmat/clock.h"
#include "cmat/number_text.h"
#include "ser_nt_ca410/ca410_cmd.h"
#include "ser_nt_ca410/ca410_codes.h"
#include "ser_nt_ca410/ca410_dev.h"
#include "ser_nt_ca410/ca410_failure.h"
#include "ser_nt_ca410/ca410_ops.h"

namespace {

constexpr int32_t TDR_DATA_SIZE = 512;
constexpr int32_t MDD_DATA_SIZE = 64;
constexpr int32_t ARGS_SIZE = 32;
constexpr int32_t FIRST_CHANNEL = 1;  // the walk; channel 0 is the factory calibration
constexpr int32_t LAST_CHANNEL = 99;
constexpr int32_t WALK_LOG_LEVEL = 6;
constexpr long WRGB_TYPE = 2;

// Positions of the "TDR," answer.
constexpr int32_t POS_CHANNEL = 0;
constexpr int32_t POS_MODEL = 4;
constexpr int32_t POS_TYPE = 5;
constexpr int32_t POS_NAME = 6;
constexpr int32_t POS_DISP_MODE = 8;
constexpr int32_t POS_TARGET = 12;
constexpr int32_t POS_MEASURE = 24;
constexpr int32_t POS_DATE = 36;
constexpr int32_t DATE_ITEMS = 6;
constexpr int32_t MIN_POSITIONS = 41;  // the values and five date items
constexpr int32_t MAX_POSITIONS = POS_DATE + DATE_ITEMS;

constexpr size_t NAME_SIZE = sizeof(ca410_callist_entry{}.name);
constexpr size_t DEFAULT_NAME_SIZE = NAME_SIZE - 1;  // "CH%d" gets at most 9 characters

bool usable(const ca410_dev *handle) {
    return handle && handle->sercom;
}

// The channel item is two letters and the number, e.g. "CH05". The leading
// zero is passed over before the number is read, so that 05 to 09 read as
// decimal and not octal. `*number` receives the text from the number on.
long read_channel_item(const char *item, const char **number) {
    const size_t n = std::strlen(item);
    if (n < 3) {
        *number = item + n;
        return 0;
    }
    const char *p = item + 2;
    if (*p == '0') ++p;
    *number = p;
    return ca_read_int(p);
}

// Keeps at most 10 characters of `item` without trailing blanks; a blank name
// becomes "CH" and the channel. Returns true when the default was used.
bool take_name(char (&name)[NAME_SIZE], const char *item, int32_t channel) {
    std::memset(name, 0, NAME_SIZE);
    size_t len = 0;
    for (; len + 1 < NAME_SIZE && item[len]; ++len) name[len] = item[len];
    while (len > 0 && name[len - 1] == ' ') name[--len] = '\0';
    if (len > 0) return false;
    snprintf_c(name, DEFAULT_NAME_SIZE, "CH%d", channel);
    return true;
}

// One "TDR," exchange; `data` receives the answer's data.
int32_t read_channel(ca410_dev *handle, int32_t channel, int32_t disp_mode,
                     char (&data)[TDR_DATA_SIZE]) {
    char args[ARGS_SIZE] = {};
    const int n = snprintf_c(args, sizeof args, "%d,1,%d", channel, disp_mode);
    return ca_command(handle, CA_CMD_TDR, args, n, data, TDR_DATA_SIZE, nullptr, CA_TIMEOUT_MS);
}

// The "TDR," answer of one channel split at its commas (in place): every
// reader of a channel takes its positions from here.
struct channel_answer {
    char *items[MAX_POSITIONS] = {};
    int32_t count = 0;        // positions in the answer (items keeps the first MAX_POSITIONS)
    long channel = 0;         // the channel its first item names
    const char *number = "";  // that item from the number on

    bool has(int32_t pos) const { return pos < count && pos < MAX_POSITIONS; }
    long integer(int32_t pos) const { return ca_read_int(items[pos]); }
    // White, red, green, blue, X, Y, Z each, from position `first` on.
    void rows(int32_t first, double (&out)[4][3]) const {
        for (int32_t i = 0; i < 12; ++i) {
            if (has(first + i)) out[i / 3][i % 3] = ca_read_double(items[first + i]);
        }
    }
};

channel_answer parse_channel_answer(char *data) {
    channel_answer a;
    a.count = ca_split_fields(data, a.items, MAX_POSITIONS);
    if (a.has(POS_CHANNEL)) a.channel = read_channel_item(a.items[POS_CHANNEL], &a.number);
    return a;
}

// How a walk ended, for the messages written once the threshold is back.
struct walk_end {
    int32_t result = CA_OK;
    int32_t channel = 0;
    long read = 0;  // the channel the mismatching answer named
};

walk_end walk_channels(ca410_dev *handle) {
    ca410_callist_entry *tail = handle->callist;
    while (tail && tail->next) tail = tail->next;
    int32_t made = 0;
    for (int32_t n = FIRST_CHANNEL; n <= LAST_CHANNEL; ++n) {
        char data[TDR_DATA_SIZE] = {};
        const int32_t r = read_channel(handle, n, 7, data);
        if (r != CA_OK) return {r, n, 0};

        const channel_answer a = parse_channel_answer(data);
        if (!a.has(POS_CHANNEL)) continue;
        clogd(glog, 7, "[ca410_get_callist]: channel num = [%s]\n", a.items[POS_CHANNEL]);
        if (a.channel != n) return {CA_E_PARSE, n, a.channel};
        const long type = a.has(POS_TYPE) ? a.integer(POS_TYPE) : 0;
        if (a.has(POS_TYPE)) {
            clogd(glog, 7, "[ca410_get_callist]: get channel type = [%s] [%d]\n", a.items[POS_TYPE],
                  static_cast<int>(type));
        }
        if (!a.has(POS_NAME)) continue;
        const char *name = a.items[POS_NAME];
        clogd(glog, 7, "[ca410_get_callist]: get channel name = [%s]\n", name);
        clogd(glog, 8, "[ca410_get_callist]: find [%d] name = [%s] type = [%d]\n",
              static_cast<int>(a.channel), name, static_cast<int>(type));
        if (type != WRGB_TYPE) continue;

        auto *e = static_cast<ca410_callist_entry *>(std::calloc(1, sizeof(ca410_callist_entry)));
        if (!e) continue;  // passed over; the walk goes on
        e->channel = n;
        if (take_name(e->name, name, n)) {
            cloge(glog, 0, "[ca410_get_calist]: ch%d no username, reset to [%s]\n", n, e->name);
        }
        if (tail) {
            tail->next = e;
        } else {
            handle->callist = e;
        }
        tail = e;
        // The walk starts on an empty list, so its own count is the list's length.
        handle->calfile_num = static_cast<uint8_t>(++made);
        clogd(glog, 6, "[ca410_get_calist]: add ch=[%d] name=[%s] calfile_num = [%d]\n", e->channel,
              e->name, handle->calfile_num);
    }
    return {};
}

}  // namespace

int32_t ca410_get_callist(ca410_dev *handle) {
    if (!usable(handle)) {
        cloge(glog, 0, "[ca410_get_callist]: invalid args\n");
        return CA_E_NOT_READY;
    }
    walk_end end;
    uint32_t took = 0;
    {
        // The exchange and walk lines of 99 channels would drown the log.
        clog_debug_override quiet(glog, WALK_LOG_LEVEL);
        const uint32_t start = msec_time();
        end = walk_channels(handle);
        took = msec_time() - start;
    }
    if (end.result == CA_E_PARSE) {
        cloge(glog, 0, "[ca410_get_callist]: get channel num [%d] != [%d]\n",
              static_cast<int>(end.read), end.channel);
        return end.result;
    }
    if (end.result != CA_OK) {
        cloge(glog, 0, "[ca410_get_callist]: TDR cmd err, 0x%x\n", end.result);
        return end.result;
    }
    clogd(glog, 6, "[ca410_get_callist]: total WRGB channel count = [%d], took [%d] msec\n",
          handle->calfile_num, static_cast<int>(took));
    return CA_OK;
}

void ca410_free_list(ca410_dev *handle) {
    if (!handle || !handle->callist) return;
    const int count = ca410_list_free(handle->callist);
    handle->callist = nullptr;
    handle->calfile_num = 0;
    clogd(glog, 5, "[ca410_free_list]: free %d\n", count);
}

int32_t ca410_get_calfile(ca410_dev *handle, int32_t channel, int32_t disp_mode,
                          ca410_calfile_info *info) {
    if (!usable(handle)) {
        cloge(glog, 0, "[ca410_get_calfile]: invalid args\n");
        return CA_E_NOT_READY;
    }
    if (channel < 0 || channel > LAST_CHANNEL) {
        cloge(glog, 0, "[ca410_get_calfile]: invalid ch = [%d], need [0:99]\n", channel);
        return CA_E_ARGS;
    }
    if (disp_mode != 0 && disp_mode != 7) {
        cloge(glog, 0, "[ca410_get_calfile]: invalid disp_mode = [%d], need 0/7\n", disp_mode);
        return CA_E_ARGS;
    }
    char data[TDR_DATA_SIZE] = {};
    const int32_t r = read_channel(handle, channel, disp_mode, data);
    if (r != CA_OK) {
        cloge(glog, 0, "[ca410_get_calfile]: TDR cmd err, 0x%x\n", r);
        return r;
    }
    const channel_answer a = parse_channel_answer(data);
    if (a.has(POS_CHANNEL) && a.channel != channel) {
        cloge(glog, 0, "[ca410_get_calfile]: get ch %d != %d\n", static_cast<int>(a.channel),
              channel);
        return CA_E_PARSE;
    }
    const long type = a.has(POS_TYPE) ? a.integer(POS_TYPE) : 0;
    if (a.has(POS_TYPE)) {
        clogd(glog, 7, "[ca410_get_calfile]: get cal type = [%d] [%s]\n", static_cast<int>(type),
              a.items[POS_TYPE]);
    }
    if (a.has(POS_NAME))
        clogd(glog, 7, "[ca410_get_calfile]: get cal id = [%s]\n", a.items[POS_NAME]);
    if (a.has(POS_DISP_MODE) && a.integer(POS_DISP_MODE) != disp_mode) {
        cloge(glog, 0, "[ca410_get_calfile]: get disp_mode %d != %d\n",
              static_cast<int>(a.integer(POS_DISP_MODE)), disp_mode);
        return CA_E_PARSE;
    }
    if (a.count < MIN_POSITIONS) {
        cloge(glog, 0, "[ca410_get_calfile]: parse %d item < 41 \n", a.count);
        return CA_E_PARSE;
    }
    if (!info) {
        clogd(glog, 6, "[ca410_get_calfile]: done\n");
        return CA_OK;
    }
    info->channel = channel;
    info->disp_mode = disp_mode;
    info->cal_type = static_cast<int32_t>(type);
    if (take_name(info->name, a.items[POS_NAME], channel)) {
        clogd(glog, 5, "[ca410_get_calfile]: ch%d no name founded, reset to [%s]\n", channel,
              info->name);
    }
    clogd(glog, 6, "[ca410_get_calfile]: channel [%d]  name [%s]  disp_mode [%d] cal_type [%d]\n",
          info->channel, info->name, info->disp_mode, info->cal_type);
    a.rows(POS_TARGET, info->target);
    a.rows(POS_MEASURE, info->measure);
    for (int i = 0; i < 4; ++i) {
        const double *m = info->measure[i];
        const double *t = info->target[i];
        clogd(glog, 6,
              "[ca410_get_calfile]: [%d] measure [%f] [%f] [%f] --> target [%f] [%f] [%f]\n", i,
              m[0], m[1], m[2], t[0], t[1], t[2]);
    }
    // An answer of exactly 41 positions lacks the last date item: shown empty.
    const char *date[DATE_ITEMS];
    for (int32_t i = 0; i < DATE_ITEMS; ++i) {
        date[i] = a.has(POS_DATE + i) ? a.items[POS_DATE + i] : "";
    }
    clogd(glog, 6, "[ca410_get_calfile]: date: [%s:%s:%s:%s:%s:%s]\n", date[0], date[1], date[2],
          date[3], date[4], date[5]);
    clogd(glog, 6, "[ca410_get_calfile]: done\n");
    return CA_OK;
}

int32_t ca410_ch_info(ca410_dev *handle, int32_t channel, int32_t disp_mode) {
    if (!usable(handle)) {
        cloge(glog, 0, "[ca410_ch_info]: invalid args\n");
        return CA_E_NOT_READY;
    }
    if (channel < 0 || channel > LAST_CHANNEL) {
        cloge(glog, 0, "[ca410_ch_info]: invalid ch = [%d], need [0:99]\n", channel);
        return CA_E_ARGS;
    }
    // 0 is accepted although the message leaves it out.
    if (disp_mode < 0 || disp_mode > 8 || (disp_mode >= 2 && disp_mode <= 4)) {
        cloge(glog, 0, "[ca410_ch_info]: invalid disp_mode = [%d], need [1,5,6,7,8]\n", disp_mode);
        return CA_E_ARGS;
    }
    char data[TDR_DATA_SIZE] = {};
    const int32_t r = read_channel(handle, channel, disp_mode, data);
    if (r != CA_OK) {
        cloge(glog, 0, "[ca410_ch_info]: TDR cmd err, 0x%x\n", r);
        return r;
    }
    const channel_answer a = parse_channel_answer(data);
    if (a.has(POS_CHANNEL)) {
        clogd(glog, 6, "[ca410_ch_info]: channel = [%s]\n", a.items[POS_CHANNEL]);
        clogd(glog, 6, "[ca410_ch_info]: [%s]\n", a.number);
        if (a.channel != channel) {
            cloge(glog, 0, "[ca410_ch_info]: get ch %d != %d\n", static_cast<int>(a.channel),
                  channel);
            return CA_E_PARSE;
        }
    }
    if (a.has(POS_MODEL)) clogd(glog, 6, "[ca410_ch_info]: model = [%s]\n", a.items[POS_MODEL]);
    if (a.has(POS_TYPE)) {
        clogd(glog, 6, "[ca410_ch_info]: calibration type = [%s] [%d]\n", a.items[POS_TYPE],
              static_cast<int>(a.integer(POS_TYPE)));
    }
    if (a.has(POS_NAME))
        clogd(glog, 6, "[ca410_ch_info]: channel name = [%s]\n", a.items[POS_NAME]);
    if (a.has(POS_DISP_MODE)) {
        const long mode = a.integer(POS_DISP_MODE);
        clogd(glog, 6, "[ca410_ch_info]: display mode = [%s] [%d]\n", a.items[POS_DISP_MODE],
              static_cast<int>(mode));
        if (mode != disp_mode) {
            cloge(glog, 0, "[ca410_ch_info]: get disp_mode %d != %d\n", static_cast<int>(mode),
                  disp_mode);
            return CA_E_PARSE;
        }
    }
    if (a.count < MIN_POSITIONS) {
        cloge(glog, 0, "[ca410_ch_info]: parse return data err\n");
        return CA_E_PARSE;
    }
    double target[4][3] = {};
    double measure[4][3] = {};
    a.rows(POS_TARGET, target);
    a.rows(POS_MEASURE, measure);
    // Padded so that the four lines align.
    static const char *const colours[4] = {"white", "red  ", "green", "blue "};
    for (int i = 0; i < 4; ++i) {
        clogd(glog, 6, "[ca410_ch_info]:  target %s [%f] [%f] [%f] -- meas [%f] [%f] [%f]\n",
              colours[i], target[i][0], target[i][1], target[i][2], measure[i][0], measure[i][1],
              measure[i][2]);
    }
    return CA_OK;
}

int32_t ca410_ch_reset(ca410_dev *handle, int32_t channel) {
    if (!usable(handle)) {
        cloge(glog, 0, "[ca410_ch_reset]: invalid args\n");
        return CA_E_NOT_READY;
    }
    if (channel < 0 || channel > LAST_CHANNEL) {
        cloge(glog, 0, "[ca410_ch_reset]: invalid channel_num = [%d], need [00:99]\n", channel);
        return CA_E_ARGS;
    }
    char args[ARGS_SIZE] = {};
    const int n = snprintf_c(args, sizeof args, "1,%d", channel);
    char data[MDD_DATA_SIZE] = {};
    const int32_t r =
        ca_command(handle, CA_CMD_MDD, args, n, data, sizeof data, nullptr, CA_TIMEOUT_MS);
    if (r != CA_OK) {
        cloge(glog, 0, "[ca410_ch_reset]: MDD cmd err, 0x%x\n", r);
        return r;
    }
    clogd(glog, 7, "[ca410_ch_reset]: reset channel %d\n", channel);
    return CA_OK;
}

// --- exported ----------------------------------------------------------------

extern "C" CA410_API int32_t CA410_CALL ca410GetCallist(ca410_dev *handle,
                                                        ca410_callist_entry **list,
                                                        int32_t *count) {
    const export_call call;
    if (handle && handle->calfile_num != 0) {
        clogd(glog, 4, "[ca410GetCallist]: calfile num = [%d], release first\n",
              handle->calfile_num);
        ca410_free_list(handle);
    }
    const int32_t r = ca410_get_callist(handle);
    if (r != CA_OK) {
        clogd(glog, 4, "[ca410GetCallist]: ca410_get_callist err, 0x%x\n", r);
        return CA_E_GET_CALLIST;
    }
    // The caller gets a copy of its own, so that it outlives later listings
    // and the handle.
    ca410_callist_entry *first = nullptr;
    ca410_callist_entry *tail = nullptr;
    int32_t copied = 0;
    for (const ca410_callist_entry *e = handle->callist; e; e = e->next) {
        auto *c = static_cast<ca410_callist_entry *>(std::calloc(1, sizeof(ca410_callist_entry)));
        if (!c) {
            // A half list would look like a whole one: hand out nothing.
            ca410_list_free(first);
            cloge(glog, 0, "[ca410GetCallist]: calloc err\n");
            return CA_E_GET_CALLIST;
        }
        c->channel = e->channel;
        std::memcpy(c->name, e->name, sizeof c->name);
        if (tail) {
            tail->next = c;
        } else {
            first = c;
        }
        tail = c;
        ++copied;
        clogd(glog, 5, "[ca410GetCallist]: add ch[%02d] name[%s] total[%d]\n", c->channel, c->name,
              copied);
    }
    if (list) {
        *list = first;
        if (count) *count = copied;
    } else {
        // Nobody to hand it to.
        ca410_list_free(first);
    }
    clogd(glog, 4, "[ca410GetCallist]: get %d\n", copied);
    return CA_OK;
}

extern "C" CA410_API int32_t CA410_CALL ca410DeleteCallist(ca410_callist_entry **list) {
    const export_call call;
    if (!list) return CA_OK;
    for (ca410_callist_entry *e = *list; e;) {
        ca410_callist_entry *next = e->next;
        clogd(glog, 5, "[ca410DeleteCallist]: release list id=[%02d] name=[%s]\n", e->channel,
              e->name);
        std::free(e);
        e = next;
    }
    *list = nullptr;
    return CA_OK;
}

extern "C" CA410_API int32_t CA410_CALL ca410GetCalfile(ca410_dev *handle, int32_t channel,
                                                        ca410_calfile *calfile) {
    const export_call call;
    if (channel < 0 || channel > LAST_CHANNEL) {
        cloge(glog, 0, "[ca410GetCalfile]: invalid args of channel %d, need [0:99]\n", channel);
        return CA_E_ARGS;
    }
    ca410_calfile_info info{};
    const int32_t r = ca410_get_calfile(handle, channel, 7, &info);
    if (r != CA_OK) {
        cloge(glog, 0, "[ca410GetCalfile]: ca410_get_calfile err, 0x%x\n", r);
        return r;
    }
    if (!calfile) return CA_OK;
    calfile->channel = info.channel;
    calfile->cal_type = info.cal_type;
    std::memcpy(calfile->name, info.name, sizeof calfile->name);
    std::memcpy(calfile->target, info.target, sizeof calfile->target);
    std::memcpy(calfile->measure, info.measure, sizeof calfile->measure);
    clogd(glog, 4, "[ca410GetCalfile]: id[%d] caltype[%d] name[%s]\n", calfile->channel,
          calfile->cal_type, calfile->name);
    for (int i = 0; i < 4; ++i) {
        const double *m = calfile->measure[i];
        const double *t = calfile->target[i];
        clogd(glog, 4, "[ca410GetCalfile]: [%d] measure [%f] [%f] [%f] --> target [%f] [%f] [%f]\n",
              i, m[0], m[1], m[2], t[0], t[1], t[2]);
    }
    return CA_OK;
}

extern "C" CA410_API int32_t CA410_CALL ca410DeleteCalfile(ca410_dev *handle, int32_t channel) {
    const export_call call;
    if (channel < 0 || channel > LAST_CHANNEL) {
        cloge(glog, 0, "[ca410DeleteCalfile]: invid args of channel %d, need [0:99]\n", channel);
        return CA_E_ARGS;
    }
    const int32_t r = ca410_ch_reset(handle, channel);
    if (r != CA_OK) {
        cloge(glog, 0, "[ca410DeleteCalfile]: ca410_ch_reset err, 0x%x\n", r);
        return CA_E_DELETE_CHANNEL;
    }
    clogd(glog, 4, "[ca410DeleteCalfile]: delete ch%d\n", channel);
    return CA_OK;
}
