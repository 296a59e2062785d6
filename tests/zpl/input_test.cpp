// The input ring and the conversion of job files.
#include "zpl_input.h"
#include "zpl_lexer.h"
#include "zpl_test_support.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {
std::string drain() {
    std::string out;
    for (int c; (c = get_datas()) >= 0;) out.push_back(char(c));
    return out;
}

std::string pattern(size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = char((i * 31 + seed + i / 977) & 0xFF);
    return s;
}
}  // namespace

class Input : public ZplTest {
protected:
    std::string through_file(const std::string& bytes, uint8_t mode) {
        std::string job = dir.path + "/printjob-1";
        write_text_file(job, bytes);
        CurrentEncodingMode = mode;
        EXPECT_EQ(put_data_charbuf(job.c_str()), 0);
        CurrentEncodingMode = 0;
        return drain();
    }
};

TEST_F(Input, RingWrapsWithoutLoss) {
    std::string a = pattern(300000, 1), b = pattern(400000, 2);
    feed(a);
    EXPECT_EQ(get_char_num(), 300000);
    std::string got;
    for (int i = 0; i < 250000; ++i) got.push_back(char(get_datas()));
    feed(b);  // runs past the end of the buffer and wraps
    EXPECT_EQ(get_char_num(), 50000 + 400000);
    got += drain();
    EXPECT_TRUE(got == a + b);
    EXPECT_EQ(get_datas(), -1);
    EXPECT_EQ(get_char_num(), 0);
}

TEST_F(Input, WriterWaitsWhileTheRingIsNearlyFull) {
    std::string job = pattern(3 * RING_SIZE, 7);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        feed(job);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(done.load());
    EXPECT_GE(ring_free(), RING_LOW_WATER - INTAKE_CHUNK) << "never filled past the low-water mark";
    std::string got;
    while (got.size() < job.size()) {
        int c = get_datas();
        if (c >= 0)
            got.push_back(char(c));
        else
            std::this_thread::yield();
    }
    writer.join();
    EXPECT_TRUE(got == job);
}

TEST_F(Input, BytesPassUnchangedInModeZero) {
    std::string raw = "^XA\xff\x00\x81^XZ";
    raw.push_back('\0');
    EXPECT_EQ(through_file(raw, 0), raw);
}

TEST_F(Input, Utf8JobsBecomeGb18030AndABadByteCostsOnlyItself) {
    // U+4E2D is D6 D0 in GB18030.
    EXPECT_EQ(through_file("^FD\xE4\xB8\xAD\xFF" "AB^FS^XZ", 2), "^FD\xD6\xD0?AB^FS^XZ");
    EXPECT_EQ(through_file("A\xE4\xB8", 2), "A?") << "a sequence cut short at the end";
    // A character split over two 2048-byte reads is converted whole.
    std::string head(2047, 'a');
    EXPECT_EQ(through_file(head + "\xE4\xB8\xAD" "z", 2), head + "\xD6\xD0z");
}

TEST_F(Input, Ucs2JobsBecomeGb18030) {
    std::string ucs2 = std::string("A\0", 2) + "\x2D\x4E" + std::string("\x00\xD8", 2) + "B" + std::string(1, '\0') + "x";
    EXPECT_EQ(through_file(ucs2, 1), "A\xD6\xD0?B") << "a lone surrogate is replaced; the odd last byte dropped";
}

TEST_F(Input, ConvertedLabelPrints) {
    std::string job = dir.path + "/printjob-1";
    write_text_file(job, "^XA^FO20,20^A0N,40,0^FDOK \xFF^FS^XZ");
    CurrentEncodingMode = 2;
    take_job_file(job);
    CurrentEncodingMode = 0;
    EXPECT_EQ(take_trigger(), "5\n");
    zpl_run_until_dry();
    EXPECT_EQ(image_count(), 1) << "the label after the bad byte is still read";
}
