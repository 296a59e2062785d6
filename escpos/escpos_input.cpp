#include "escpos_input.h"

#include "escpos_page.h"
#include "input_ring.h"

namespace escpos {

int get_datas(EscposState& st) {
    if (st.replay_pos < st.replay.size()) return uint8_t(st.replay[st.replay_pos++]);
    return st.input.ring ? st.input.ring->get() : -1;
}

int get_new_char(EscposState& st) {
    for (;;) {
        int c = get_datas(st);
        if (c >= 0) return c;
        st.input.wait(std::chrono::milliseconds(-1));
    }
}

namespace {
// Waits for input while the host is quiet: the page ends after `data_delay`, the streaming
// thresholds start over after ten of them (about 2 s). Returns the byte that ends the pause.
int wait_for_byte(EscposState& st) {
    using std::chrono::milliseconds;
    int c;
    if (st.input.wait(milliseconds(st.data_delay)) && (c = get_datas(st)) >= 0) return c;
    if (st.datastatus) data_empty_print(st);
    if (st.input.wait(milliseconds(9L * st.data_delay)) && (c = get_datas(st)) >= 0) return c;
    st.print_len_indicator = 0;
    for (;;) {
        st.input.wait(milliseconds(-1));
        if ((c = get_datas(st)) >= 0) return c;
    }
}
}  // namespace

int get_one_char(EscposState& st) {
    int c = get_datas(st);
    if (c < 0) {
        if (st.job.canvas_height == 0 && st.env.shell) st.env.shell(st.env.engine_cmd + " B 0");
        c = wait_for_byte(st);
    }
    if (!st.page.page_mode && st.device.conti_mode && st.job.canvas_height == st.page.ypos &&
        st.job.canvas_height + st.page.bottom_margin >= st.print_len_table[st.print_len_indicator]) {
        if (st.print_len_indicator < 3) ++st.print_len_indicator;
        CHAR_PROPERTIES eng = st.eng, chn = st.chn;
        data_empty_print(st);
        st.eng = eng;
        st.chn = chn;
    }
    st.barcode_printed = false;
    return c;
}

Input ring_input(InputRing& ring) {
    Input in;
    in.ring = &ring;
    in.wait = [&ring](std::chrono::milliseconds limit) {
        if (limit.count() < 0) {
            ring.wait_readable();
            return !ring.empty();
        }
        return ring.wait_readable(limit);
    };
    return in;
}

bool ScriptedInput::wait(std::chrono::milliseconds limit) {
    if (!ring_.empty()) return true;
    if (steps_.empty()) {
        if (limit.count() < 0 || end_when_dry) throw InputEnded{};
        now_ms_ += long(limit.count());
        return false;
    }
    Step& next = steps_.front();
    if (limit.count() >= 0 && next.pause_ms > limit.count()) {
        next.pause_ms -= int(limit.count());
        now_ms_ += long(limit.count());
        return false;
    }
    now_ms_ += next.pause_ms;
    std::string bytes = std::move(next.bytes);
    steps_.pop_front();
    if (before_delivery) before_delivery(delivered_);
    ++delivered_;
    arrivals_.push_back(now_ms_);
    if (bytes.empty()) return false;
    ring_.put(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return true;
}

Input ScriptedInput::input() {
    Input in;
    in.ring = &ring_;
    in.wait = [this](std::chrono::milliseconds limit) { return wait(limit); };
    return in;
}

}  // namespace escpos
